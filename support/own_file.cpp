#include "support/own_file.h"

#include <stdio.h>
#include <string.h>

#include "support/admin_only_security.h"
#include "support/system_queries.h"

const char* WhyNotOwnFile(HANDLE file, const char** suffix, DWORD* error) {
    BY_HANDLE_FILE_INFORMATION information;
    *suffix = "untrusted";
    if (!GetFileInformationByHandle(file, &information)) {
        *error = GetLastError();
        return "its names cannot be read";
    }
    if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
        *suffix = "link";
        return "it is a link, not a plain file";
    }
    if (information.nNumberOfLinks != 1) {
        // Another name of the same file: whatever is written here is
        // written there too, and a copy kept by it outlives our deletion.
        *suffix = "linked";
        return "it has more than one name (a hard link)";
    }
    return FileNotAdminOnly(file, error);
}

int SetAsideOwnFile(const char* path, const char* stem, char* aside, size_t asideSize, DWORD* error) {
    size_t length = strlen(stem);
    if (length + 2 > asideSize) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    *error = ERROR_ALREADY_EXISTS;
    for (int i = 0; i < 10; ++i) {
        memcpy(aside, stem, length + 1);
        if (i > 0) {
            aside[length] = static_cast<char>('0' + i);
            aside[length + 1] = '\0';
        }
        if (MoveFileA(path, aside)) return 1;
        *error = GetLastError();
        if (*error != ERROR_ALREADY_EXISTS && *error != ERROR_FILE_EXISTS) return 0;
    }
    return 0;
}

// The log on NT: opened without following a link at its last name, and kept
// only when it is the tool's own; otherwise set aside and begun anew. The
// security a new log is made with keeps it to administrators, so that the
// next run keeps it too. A stream over it, or nullptr.
FILE* OpenOwnLog(const char* path, const char* mode, char* note, size_t noteSize) {
    if (!IsWindowsNT()) return CrtFopen(path, mode);
    AdminOnlySecurity security;
    memset(&security, 0, sizeof(security));
    // Without it the new log has the folder's inherited security: written
    // all the same, and set aside by the next run.
    LPSECURITY_ATTRIBUTES attributes = MakeAdminOnlySecurity(&security) ? &security.attributes : nullptr;
    const DWORD access = GENERIC_READ | GENERIC_WRITE | READ_CONTROL;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE file = CreateFileA(path, access, share, attributes, OPEN_ALWAYS, flags, nullptr);
    DWORD opened = GetLastError();
    if (file != INVALID_HANDLE_VALUE && opened == ERROR_ALREADY_EXISTS) {
        const char* suffix = "";
        DWORD error = 0;
        const char* why = WhyNotOwnFile(file, &suffix, &error);
        if (why) {
            CloseHandle(file);
            file = INVALID_HANDLE_VALUE;
            char stem[MAX_PATH + 16];
            char aside[MAX_PATH + 16];
            snprintf(stem, sizeof(stem), "%s.%s", path, suffix);
            if (!SetAsideOwnFile(path, stem, aside, sizeof(aside), &error)) {
                snprintf(note, noteSize,
                         "Log file %s is not the tool's own (%s) and cannot be set aside, error %lu: no log is written to it\n",
                         path, why, static_cast<unsigned long>(error));
            } else {
                // A new one only: anything that took the name meanwhile is
                // not written through either.
                file = CreateFileA(path, access, share, attributes, CREATE_NEW, flags, nullptr);
                error = GetLastError();
                if (file != INVALID_HANDLE_VALUE) {
                    snprintf(note, noteSize,
                             "Log file %s was not the tool's own (%s): set aside as %s, a new log is started\n", path,
                             why, aside);
                } else {
                    snprintf(note, noteSize,
                             "Log file %s was not the tool's own (%s): set aside as %s, no new log can be made, error %lu\n",
                             path, why, aside, static_cast<unsigned long>(error));
                }
            }
        }
    }
    FreeAdminOnlySecurity(&security);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return CrtStreamOnHandle(file, mode);
}
