/* A plain C99 program, with no other runtime in the process, that loads the
 * library with dlopen and calls a few entries through dlsym. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "ffi/include/zephlar.h"

typedef uint32_t (*ContractVersion)(void);
typedef uint16_t (*Checksum)(void);
typedef ZephlarByteBuffer (*Alloc)(uint64_t, ZephlarCallStatus*);
typedef void (*Free)(ZephlarByteBuffer, ZephlarCallStatus*);
typedef double (*ToDisplay)(uint64_t, uint8_t, ZephlarCallStatus*);

static int failures = 0;

static void check(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "load_check: %s\n", what);
    ++failures;
  }
}

int main(void) {
  void* lib = dlopen(ZEPHLAR_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ContractVersion version;
  Checksum list_pairs;
  Alloc alloc;
  Free release;
  ToDisplay to_display;
  ZephlarCallStatus status;
  ZephlarByteBuffer buffer;

  if (lib == NULL) {
    fprintf(stderr, "load_check: dlopen: %s\n", dlerror());
    return 1;
  }
  *(void**)&version = dlsym(lib, "ffi_zephlar_ffi_uniffi_contract_version");
  *(void**)&list_pairs = dlsym(lib, "uniffi_zephlar_ffi_checksum_method_zephclient_list_pairs");
  *(void**)&alloc = dlsym(lib, "ffi_zephlar_ffi_rustbuffer_alloc");
  *(void**)&release = dlsym(lib, "ffi_zephlar_ffi_rustbuffer_free");
  *(void**)&to_display = dlsym(lib, "uniffi_zephlar_ffi_fn_func_to_display_units");
  if (!version || !list_pairs || !alloc || !release || !to_display) {
    fprintf(stderr, "load_check: missing entries\n");
    return 1;
  }
  check(version() == 26, "contract version");
  check(list_pairs() == 39253, "checksum of list_pairs");

  memset(&status, 0, sizeof status);
  buffer = alloc(3, &status);
  check(status.code == 0 && buffer.capacity == 3 && buffer.len == 3 && buffer.data != NULL, "alloc");
  memcpy(buffer.data, "abc", 3);
  release(buffer, &status);
  check(status.code == 0, "free");
  check(to_display(250, 2, &status) == 2.5, "to_display_units");
  check(dlsym(lib, "UNIFFI_META_NAMESPACE_ZEPHLAR") != NULL, "namespace object");
  check(dlsym(lib, "Py_Initialize") == NULL, "no Python in the process");

  dlclose(lib);
  return failures == 0 ? 0 : 1;
}
