#include "tests/fault_sweep/leak_roots.h"

#include <link.h>
#include <stddef.h>
#include <string.h>

extern "C" {
// Present only when the sweep is linked with a sanitizer runtime.
__attribute__((weak)) void __lsan_register_root_region(const void* begin, size_t size);
__attribute__((weak)) void __sanitizer_purge_allocator();

// Read by LeakSanitizer at start-up; LSAN_OPTIONS may still override it.
// Without the global scan the roots are the ones RegisterLeakRoots names.
const char* __lsan_default_options() { return "use_globals=0"; }
}

namespace fault_sweep {
namespace {

bool IsSanitizerRuntime(const char* path) {
    const char* name = strrchr(path, '/');
    name = name ? name + 1 : path;
    return strncmp(name, "libasan.so", 10) == 0 || strncmp(name, "libubsan.so", 11) == 0 ||
           strncmp(name, "liblsan.so", 10) == 0;
}

int AddModule(struct dl_phdr_info* info, size_t, void* data) {
    int* count = static_cast<int*>(data);
    if (info->dlpi_name && IsSanitizerRuntime(info->dlpi_name)) return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_W) || segment.p_memsz == 0) continue;
        __lsan_register_root_region(reinterpret_cast<const void*>(info->dlpi_addr + segment.p_vaddr),
                                    segment.p_memsz);
        ++*count;
    }
    return 0;
}

}  // namespace

int RegisterLeakRoots() {
    if (!__lsan_register_root_region) return 0;
    int count = 0;
    dl_iterate_phdr(AddModule, &count);
    return count;
}

void ReleaseFreedMemory() {
    if (__sanitizer_purge_allocator) __sanitizer_purge_allocator();
}

}  // namespace fault_sweep
