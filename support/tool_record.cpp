#include "support/tool_record.h"

#include <stdio.h>
#include <string.h>

#include "support/admin_only_security.h"
#include "support/windows_folder.h"

const char ToolRecordKey[] = "SOFTWARE\\Ombrel Works\\Kurrelfix";
const char ToolRecordKeyText[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Ombrel Works\\Kurrelfix";

int ToolRecordFilePlace(ToolRecordPlace* place, const char* fileName) {
    place->inRegistry = 0;
    place->value = nullptr;
    return WindowsFolderFile(fileName, BackslashAlways, place->name, sizeof(place->name)) ==
           WindowsFileJoined;
}

void ToolRecordKeyPlace(ToolRecordPlace* place, const char* value) {
    place->inRegistry = 1;
    place->value = value;
    snprintf(place->name, sizeof(place->name), "%s\\%s", ToolRecordKeyText, value);
}

int WindowsVolumeKeepsNoAcls() {
    char root[MAX_PATH];
    memset(root, 0, sizeof(root));
    UINT length = GetWindowsDirectoryA(root, sizeof(root));
    if (length < 3 || length >= sizeof(root) || root[1] != ':' || root[2] != '\\') return 0;
    root[3] = '\0';  // "C:\"
    DWORD flags = 0;
    if (!GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return 0;
    return (flags & FILE_PERSISTENT_ACLS) == 0;
}

int StoreToolRecordInFile(const ToolRecordPlace* place, int nt, const char* bytes, DWORD size,
                          DWORD* error) {
    AdminOnlySecurity security;
    memset(&security, 0, sizeof(security));
    if (nt && !MakeAdminOnlySecurity(&security)) {
        *error = GetLastError();
        FreeAdminOnlySecurity(&security);
        return 0;
    }
    HANDLE file = CreateFileA(place->name, GENERIC_WRITE, 0, nt ? &security.attributes : nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    *error = GetLastError();
    FreeAdminOnlySecurity(&security);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    int stored = WriteFile(file, bytes, size, &written, nullptr) && written == size &&
                 FlushFileBuffers(file);
    if (!stored) *error = GetLastError();
    if (!CloseHandle(file) && stored) {
        stored = 0;
        *error = GetLastError();
    }
    // Nothing the record speaks of has been done yet, so a part-written
    // record holds nothing that the machine does not still have.
    if (!stored) DeleteFileA(place->name);
    return stored;
}

int StoreToolRecordInKey(const ToolRecordPlace* place, const char* bytes, DWORD size, DWORD* error,
                         const char** distrust) {
    AdminOnlySecurity security;
    memset(&security, 0, sizeof(security));
    if (!MakeAdminOnlySecurity(&security)) {
        *error = GetLastError();
        FreeAdminOnlySecurity(&security);
        return 0;
    }
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, ToolRecordKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_READ | KEY_WRITE, &security.attributes, &key, &disposition);
    FreeAdminOnlySecurity(&security);
    if (status != ERROR_SUCCESS) {
        *error = static_cast<DWORD>(status);
        return 0;
    }
    int stored = 0;
    DWORD existing = 0;
    if (disposition != REG_CREATED_NEW_KEY && (*distrust = KeyNotAdminOnly(key, error)) != nullptr) {
        if (*error == 0) *error = ERROR_ACCESS_DENIED;
    } else if (RegQueryValueExA(key, place->value, nullptr, nullptr, nullptr, &existing) == ERROR_SUCCESS) {
        *error = ERROR_FILE_EXISTS;
    } else if ((status = RegSetValueExA(key, place->value, 0, REG_BINARY,
                                        reinterpret_cast<const BYTE*>(bytes), size)) != ERROR_SUCCESS ||
               (status = RegFlushKey(key)) != ERROR_SUCCESS) {
        *error = static_cast<DWORD>(status);
        RegDeleteValueA(key, place->value);
    } else {
        stored = 1;
    }
    RegCloseKey(key);
    return stored;
}

static int LoadFromFile(const ToolRecordPlace* place, int nt, DWORD maxSize, char** text, DWORD* size,
                        DWORD* error, const char** distrust) {
    HANDLE file = CreateFileA(place->name, GENERIC_READ | (nt ? READ_CONTROL : 0), FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND) return 0;
        return -1;
    }
    DWORD securityError = 0;
    if (nt) *distrust = FileNotAdminOnly(file, &securityError);
    DWORD length = SetFilePointer(file, 0, nullptr, FILE_END);
    int result = -1;
    if (length == INVALID_SET_FILE_POINTER || SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0) {
        *error = GetLastError();
    } else if (length > maxSize) {
        result = 2;
    } else {
        char* buffer = static_cast<char*>(AllocBuffer(length + 1));
        DWORD read = 0;
        if (!buffer) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
        } else if (!ReadFile(file, buffer, length, &read, nullptr) || read != length) {
            *error = GetLastError();
            if (*error == 0) *error = ERROR_HANDLE_EOF;
            FreeBuffer(buffer);
        } else {
            buffer[length] = '\0';
            *text = buffer;
            *size = length;
            result = 1;
        }
    }
    CloseHandle(file);
    return result;
}

static int LoadFromKey(const ToolRecordPlace* place, DWORD maxSize, char** text, DWORD* size,
                       DWORD* error, const char** distrust) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ToolRecordKey, 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) {
        *error = static_cast<DWORD>(status);
        return -1;
    }
    DWORD type = 0;
    DWORD length = 0;
    int result = -1;
    status = RegQueryValueExA(key, place->value, nullptr, &type, nullptr, &length);
    if (status == ERROR_FILE_NOT_FOUND) {
        result = 0;
    } else if (status != ERROR_SUCCESS) {
        *error = static_cast<DWORD>(status);
    } else if (length > maxSize) {
        result = 2;
    } else {
        DWORD securityError = 0;
        *distrust = KeyNotAdminOnly(key, &securityError);
        char* buffer = static_cast<char*>(AllocBuffer(length + 1));
        DWORD read = length;
        if (!buffer) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
        } else if ((status = RegQueryValueExA(key, place->value, nullptr, &type,
                                              reinterpret_cast<BYTE*>(buffer), &read)) != ERROR_SUCCESS ||
                   read != length) {
            *error = status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_HANDLE_EOF;
            FreeBuffer(buffer);
        } else {
            buffer[length] = '\0';
            *text = buffer;
            *size = length;
            result = 1;
        }
    }
    RegCloseKey(key);
    return result;
}

int LoadToolRecord(const ToolRecordPlace* place, int nt, DWORD maxSize, char** text, DWORD* size,
                   DWORD* error, const char** distrust) {
    return place->inRegistry ? LoadFromKey(place, maxSize, text, size, error, distrust)
                             : LoadFromFile(place, nt, maxSize, text, size, error, distrust);
}

int DeleteToolRecord(const ToolRecordPlace* place, DWORD* error) {
    if (!place->inRegistry) {
        if (DeleteFileA(place->name)) return 1;
        *error = GetLastError();
        return 0;
    }
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ToolRecordKey, 0, KEY_READ | KEY_WRITE, &key);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteValueA(key, place->value);
        RegCloseKey(key);
    }
    *error = static_cast<DWORD>(status);
    return status == ERROR_SUCCESS;
}
