#include "support/windows_folder.h"

#include <string.h>

WindowsFilePath WindowsFolderFile(const char* name, WindowsFolderSeparator separator, char* path,
                                  size_t size) {
    if (size > 0) path[0] = '\0';
    char folder[MAX_PATH];
    memset(folder, 0, sizeof(folder));
    UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    if (length == 0) return WindowsFolderUnknown;
    if (length >= MAX_PATH) return WindowsFileTooLong;  // the answer is the room it wants
    size_t used = strlen(folder);
    // "C:\" is the only folder the system reports with its backslash.
    int addBackslash = separator == BackslashAlways || used > 3;
    size_t needed = used + (addBackslash ? 1 : 0) + strlen(name) + 1;
    if (needed > size) return WindowsFileTooLong;
    memcpy(path, folder, used);
    if (addBackslash) path[used++] = '\\';
    strcpy(path + used, name);
    return WindowsFileJoined;
}
