/* See failing_malloc.h. The wrappers sit on the C library's own entry
 * points (__libc_malloc and friends), so they need no symbol look-up and
 * never allocate themselves; counting is one atomic increment. */
#include "tests/support/failing_malloc.h"

#include <errno.h>
#include <stdatomic.h>
#include <stddef.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* pointer, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void* __libc_valloc(size_t size);
extern void* __libc_pvalloc(size_t size);
extern void __libc_free(void* pointer);

static atomic_int armed;
static atomic_ulong counted;
static atomic_ulong fail_at;
static atomic_int failed;

void failing_malloc_arm(unsigned long chosen) {
  atomic_store(&armed, 0);
  atomic_store(&counted, 0);
  atomic_store(&failed, 0);
  atomic_store(&fail_at, chosen);
  atomic_store(&armed, 1);
}

unsigned long failing_malloc_disarm(void) {
  atomic_store(&armed, 0);
  return atomic_load(&counted);
}

int failing_malloc_has_failed(void) { return atomic_load(&failed); }

/* Kept out of line and visible so that a debugger can stop in it. */
__attribute__((noinline)) void failing_malloc_failing_now(void) { __asm__ volatile(""); }

/* Counts one allocation; non-zero when this one is to fail. */
static int should_fail(void) {
  unsigned long chosen;
  unsigned long n;
  if (!atomic_load_explicit(&armed, memory_order_acquire)) return 0;
  n = atomic_fetch_add(&counted, 1) + 1;
  chosen = atomic_load(&fail_at);
  if (chosen == 0 || n != chosen) return 0;
  atomic_store(&failed, 1);
  failing_malloc_failing_now();
  return 1;
}

/* What a refused allocation returns. */
static void* refused(void) {
  errno = ENOMEM;
  return NULL;
}

void* malloc(size_t size) {
  if (should_fail()) return refused();
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  if (should_fail()) return refused();
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
  /* realloc(p, 0) releases p; only growing or fresh blocks count. */
  if ((pointer == NULL || size != 0) && should_fail()) return refused();
  return __libc_realloc(pointer, size);
}

void free(void* pointer) { __libc_free(pointer); }

void* memalign(size_t alignment, size_t size) {
  if (should_fail()) return refused();
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size) {
  void* pointer;
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  if (should_fail()) return ENOMEM;
  pointer = __libc_memalign(alignment, size);
  if (pointer == NULL) return ENOMEM;
  *out = pointer;
  return 0;
}

void* valloc(size_t size) {
  if (should_fail()) return refused();
  return __libc_valloc(size);
}

void* pvalloc(size_t size) {
  if (should_fail()) return refused();
  return __libc_pvalloc(size);
}
