#include "support/boot_path.h"

#include <string.h>

#include "support/admin_only_security.h"
#include "support/file_identity.h"
#include "support/handle_delete.h"
#include "support/wide_names.h"

namespace {

// A folder of the path, by either call.
HANDLE OpenFolder(const char* folder) {
    return CreateFileA(folder, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

HANDLE OpenFolder(const WCHAR* folder) {
    return CreateFileW(folder, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The folder's name for the log.
void Show(const char* text, size_t length, char* folder, size_t folderSize) {
    if (folderSize == 0) return;
    if (length >= folderSize) length = folderSize - 1;
    memcpy(folder, text, length);
    folder[length] = '\0';
}

void Show(const WCHAR* text, size_t length, char* folder, size_t folderSize) {
    const size_t verbatim = 4;  // "\\?\" is no part of what the log shows
    if (folderSize == 0) return;
    folder[0] = '\0';
    if (length > verbatim) AppendShownName(text + verbatim, length - verbatim, folder, 0, folderSize);
}

// One folder of the path, judged from its own handle.
template <typename Char>
const char* WhyFolderUnsafe(const Char* folder, DWORD* error) {
    HANDLE handle = OpenFolder(folder);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return "cannot be opened";
    }
    FileIdentity identity;
    DWORD attributes = 0;
    const char* why = nullptr;
    if (!ReadFileIdentity(handle, &identity, &attributes, error)) {
        why = "cannot be identified";
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // What a link leads to is decided by whoever set it, and the boot
        // follows it as it stands then.
        why = "is a link";
    } else if (const char* distrust = FolderNotAdminOnly(handle, error)) {
        why = distrust;
    }
    CloseHandle(handle);
    return why;
}

template <typename Char>
size_t LengthOf(const Char* text) {
    size_t length = 0;
    while (text[length]) ++length;
    return length;
}

// Every folder from the root (`root` units long, its backslash included) to
// the file's own, each cut out of the path into `prefix` (room for the
// whole path).
template <typename Char>
const char* WhyFoldersUnsafe(const Char* path, size_t root, Char* prefix, char* folder, size_t folderSize,
                             DWORD* error) {
    size_t length = LengthOf(path);
    size_t end = length;
    while (end > 0 && path[end - 1] != '\\') --end;
    --end;  // the file's own folder ends before its last backslash
    size_t cut = root;
    for (;;) {
        memcpy(prefix, path, cut * sizeof(Char));
        prefix[cut] = 0;
        if (const char* why = WhyFolderUnsafe(prefix, error)) {
            Show(prefix, cut, folder, folderSize);
            return why;
        }
        if (cut >= end) return nullptr;
        ++cut;
        while (cut < end && path[cut] != '\\') ++cut;
    }
}

bool IsDrivePath(const char* path) { return path[0] && path[1] == ':' && path[2] == '\\' && path[3]; }

bool IsDrivePath(const WCHAR* path) {
    return path[0] == '\\' && path[1] == '\\' && path[2] == '?' && path[3] == '\\' && path[4] && path[5] == ':' &&
           path[6] == '\\' && path[7];
}

}  // namespace

const char* WhyBootPathUnsafe(const FilePath& path, char* folder, size_t folderSize, DWORD* error) {
    *error = 0;
    if (folderSize) folder[0] = '\0';
    // A drive's path: "C:\" and below. Anything else (a share of another
    // machine, a device) is not ours to leave for the boot.
    if (path.wide ? !IsDrivePath(path.wide) : !IsDrivePath(path.ansi)) {
        Show(path.shown, strlen(path.shown), folder, folderSize);
        return "is not on a drive of this machine";
    }
    if (!KnowsReparsePoints()) return nullptr;
    if (!path.wide) {
        char prefix[MAX_PATH + 4];
        if (strlen(path.ansi) >= sizeof(prefix)) {
            Show(path.shown, strlen(path.shown), folder, folderSize);
            *error = ERROR_FILENAME_EXCED_RANGE;
            return "cannot be opened";
        }
        return WhyFoldersUnsafe(path.ansi, 3, prefix, folder, folderSize, error);
    }
    // As long as the path: up to the system's limit, so from the heap.
    size_t length = LengthOf(path.wide);
    WCHAR* prefix = static_cast<WCHAR*>(AllocBuffer((length + 1) * sizeof(WCHAR)));
    if (!prefix) {
        Show(path.shown, strlen(path.shown), folder, folderSize);
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return "cannot be opened";
    }
    const char* why = WhyFoldersUnsafe(path.wide, 7, prefix, folder, folderSize, error);
    FreeBuffer(prefix);
    return why;
}
