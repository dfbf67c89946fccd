#include "support/boot_path.h"

#include <string.h>

#include "support/admin_only_security.h"
#include "support/file_identity.h"
#include "support/handle_delete.h"

namespace {

const size_t PrefixSize = MAX_PATH + 4;

// One folder of the path, judged from its own handle.
const char* WhyFolderUnsafe(const char* folder, DWORD* error) {
    HANDLE handle = CreateFileA(folder, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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

void Name(const char* text, size_t length, char* folder, size_t folderSize) {
    if (folderSize == 0) return;
    if (length >= folderSize) length = folderSize - 1;
    memcpy(folder, text, length);
    folder[length] = '\0';
}

}  // namespace

const char* WhyBootPathUnsafe(const char* path, char* folder, size_t folderSize, DWORD* error) {
    *error = 0;
    if (folderSize) folder[0] = '\0';
    size_t length = strlen(path);
    // A drive's path: "C:\" and below. Anything else (a share of another
    // machine, a device) is not ours to leave for the boot.
    if (length < 4 || path[1] != ':' || path[2] != '\\') {
        Name(path, length, folder, folderSize);
        return "is not on a drive of this machine";
    }
    if (!KnowsReparsePoints()) return nullptr;
    const char* last = strrchr(path, '\\');
    size_t end = static_cast<size_t>(last - path);
    if (end + 1 >= PrefixSize) {
        Name(path, end, folder, folderSize);
        *error = ERROR_FILENAME_EXCED_RANGE;
        return "cannot be opened";
    }
    char prefix[PrefixSize];
    // The root first, then each folder down to the file's own.
    size_t cut = 3;
    for (;;) {
        memcpy(prefix, path, cut);
        prefix[cut] = '\0';
        if (const char* why = WhyFolderUnsafe(prefix, error)) {
            Name(prefix, cut, folder, folderSize);
            return why;
        }
        if (cut >= end) break;
        cut = static_cast<size_t>(strchr(path + cut + 1, '\\') - path);
    }
    return nullptr;
}
