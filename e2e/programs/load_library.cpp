// Loads each library named on its command line the way a program does and
// says where it came from:
//   load_library.exe NAME[:FUNCTION] ...
// A bare NAME goes through LoadLibraryA, so the loader searches for it (the
// program's own folder first); a full path through LoadLibraryExA with
// LOAD_WITH_ALTERED_SEARCH_PATH, that file and no other. Prints for each
//   NAME loaded from PATH[, FUNCTION found|missing]
//   NAME not loaded, error N
// and exits with the number of libraries that did not load. The libraries
// stay loaded until the program ends.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        char name[MAX_PATH];
        snprintf(name, sizeof(name), "%s", argv[i]);
        // A colon after the drive letter's is the function's.
        char* function = strchr(name + (strchr(name, '\\') ? 2 : 0), ':');
        if (function) *function++ = '\0';
        HMODULE library = strchr(name, '\\')
                              ? LoadLibraryExA(name, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                              : LoadLibraryA(name);
        if (!library) {
            printf("%s not loaded, error %lu\n", name, (unsigned long)GetLastError());
            ++failed;
            continue;
        }
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(library, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) snprintf(path, sizeof(path), "%s", "(unknown)");
        if (function) {
            printf("%s loaded from %s, %s %s\n", name, path, function,
                   GetProcAddress(library, function) ? "found" : "missing");
        } else {
            printf("%s loaded from %s\n", name, path);
        }
    }
    return failed;
}
