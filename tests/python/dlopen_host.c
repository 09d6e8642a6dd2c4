/* A C host without Python: loads the module file with RTLD_NOW, which must
 * succeed although the interpreter's symbols are nowhere to be found, checks
 * that the module's init entry is in it, and calls the C-callable interface's
 * contract-version entry when the library exports one (any exported function
 * whose name ends in "contract_version"; it must answer 26).
 *
 * usage: python_dlopen_host PATH
 * Exit status 0 on success; the reason on stderr otherwise. */
#include <dlfcn.h>
#include <elf.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Copies into `out` the first defined global function in the file's dynamic
 * symbol table whose name ends in `suffix`. 0 when found. */
static int find_exported(const char* path, const char* suffix, char* out, size_t out_size) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) return -1;
  int found = -1;
  Elf64_Ehdr header;
  Elf64_Shdr* sections = NULL;
  char* strings = NULL;
  Elf64_Sym* symbols = NULL;
  if (fread(&header, sizeof header, 1, file) != 1 || memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64)
    goto done;
  sections = calloc(header.e_shnum, sizeof *sections);
  if (sections == NULL || fseek(file, (long)header.e_shoff, SEEK_SET) != 0 ||
      fread(sections, sizeof *sections, header.e_shnum, file) != header.e_shnum)
    goto done;
  for (unsigned i = 0; i < header.e_shnum && found != 0; ++i) {
    if (sections[i].sh_type != SHT_DYNSYM || sections[i].sh_link >= header.e_shnum) continue;
    const Elf64_Shdr* names = &sections[sections[i].sh_link];
    strings = malloc(names->sh_size + 1);
    symbols = malloc(sections[i].sh_size);
    if (strings == NULL || symbols == NULL || fseek(file, (long)names->sh_offset, SEEK_SET) != 0 ||
        fread(strings, 1, names->sh_size, file) != names->sh_size ||
        fseek(file, (long)sections[i].sh_offset, SEEK_SET) != 0 ||
        fread(symbols, 1, sections[i].sh_size, file) != sections[i].sh_size)
      goto done;
    strings[names->sh_size] = '\0';
    size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
    size_t suffix_length = strlen(suffix);
    for (size_t s = 0; s < count; ++s) {
      if (symbols[s].st_shndx == SHN_UNDEF || ELF64_ST_TYPE(symbols[s].st_info) != STT_FUNC) continue;
      if (symbols[s].st_name >= names->sh_size) continue;
      const char* name = strings + symbols[s].st_name;
      size_t length = strlen(name);
      if (length >= suffix_length && strcmp(name + length - suffix_length, suffix) == 0 && length < out_size) {
        memcpy(out, name, length + 1);
        found = 0;
        break;
      }
    }
  }
done:
  free(symbols);
  free(strings);
  free(sections);
  fclose(file);
  return found;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s PATH\n", argv[0]);
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "dlopen failed: %s\n", dlerror());
    return 1;
  }
  if (dlsym(library, "PyInit_zephlar") == NULL) {
    fprintf(stderr, "PyInit_zephlar is missing: %s\n", dlerror());
    return 1;
  }
  char name[256];
  if (find_exported(argv[1], "contract_version", name, sizeof name) == 0) {
    uint32_t (*contract_version)(void) = (uint32_t(*)(void))dlsym(library, name);
    if (contract_version == NULL) {
      fprintf(stderr, "dlsym %s failed: %s\n", name, dlerror());
      return 1;
    }
    uint32_t version = contract_version();
    if (version != 26) {
      fprintf(stderr, "%s returned %u, expected 26\n", name, (unsigned)version);
      return 1;
    }
    printf("%s: %u\n", name, (unsigned)version);
  } else {
    printf("no contract-version entry exported yet; loaded and unloaded only\n");
  }
  if (dlclose(library) != 0) {
    fprintf(stderr, "dlclose failed: %s\n", dlerror());
    return 1;
  }
  return 0;
}
