#include "support/system_library.h"

#include <string.h>

HMODULE LoadSystemLibrary(const char* name) {
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0) return nullptr;  // the call set the error
    if (length + 1 + strlen(name) + 1 > sizeof(path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    if (path[length - 1] != '\\') path[length++] = '\\';
    strcpy(path + length, name);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystemLibraryWide(const char* name) {
    WCHAR path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0) return nullptr;
    size_t nameLength = strlen(name);
    if (length + 1 + nameLength + 1 > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    if (path[length - 1] != '\\') path[length++] = '\\';
    // Our library names are plain ASCII.
    for (size_t i = 0; i <= nameLength; ++i) path[length + i] = static_cast<WCHAR>(name[i]);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
