#include "support/file_path.h"

FilePath AnsiFilePath(const char* path) {
    FilePath named = {path, nullptr, path};
    return named;
}

HANDLE OpenFilePath(const FilePath& path, DWORD access, DWORD share, DWORD flags) {
    if (path.wide) return CreateFileW(path.wide, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    return CreateFileA(path.ansi, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}
