#include "support/tool_record.h"

#include <stdio.h>
#include <string.h>

#include "support/admin_only_security.h"
#include "support/own_file.h"
#include "support/system_library.h"
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

namespace {

// "Kurrelfix record id " and 32 hexadecimal digits, then CR LF.
const char IdPrefix[] = "Kurrelfix record id ";
const DWORD IdDigits = 32;
const DWORD IdLineSize = sizeof(IdPrefix) - 1 + IdDigits + 2;

// The generator's types and constants as ADVAPI32 declares them (the lean
// Windows headers the tool builds with leave them out).
typedef ULONG_PTR CryptProvider;
const DWORD RsaFullProvider = 1;
const DWORD VerifyContext = 0xF0000000;

typedef BOOL(WINAPI* CryptAcquireContextAFunction)(CryptProvider* provider, LPCSTR container, LPCSTR providerName,
                                                    DWORD type, DWORD flags);
typedef BOOL(WINAPI* CryptGenRandomFunction)(CryptProvider provider, DWORD size, BYTE* buffer);
typedef BOOL(WINAPI* CryptReleaseContextFunction)(CryptProvider provider, DWORD flags);

// 16 random bytes as 32 digits, from the system's generator. ADVAPI32 is
// one of the program's own imports, so its handle is the system's library;
// the functions are bound at run time, as the first Windows 95 lacks them.
int MakeIdentifier(char* digits, DWORD* error) {
    HMODULE advapi = GetModuleHandleA("ADVAPI32.DLL");
    CryptAcquireContextAFunction acquire =
        advapi ? BindFunction<CryptAcquireContextAFunction>(advapi, "CryptAcquireContextA") : nullptr;
    CryptGenRandomFunction generate = advapi ? BindFunction<CryptGenRandomFunction>(advapi, "CryptGenRandom") : nullptr;
    CryptReleaseContextFunction release =
        advapi ? BindFunction<CryptReleaseContextFunction>(advapi, "CryptReleaseContext") : nullptr;
    if (!acquire || !generate || !release) {
        *error = ERROR_PROC_NOT_FOUND;
        return 0;
    }
    CryptProvider provider = 0;
    if (!acquire(&provider, nullptr, nullptr, RsaFullProvider, VerifyContext)) {
        *error = GetLastError();
        return 0;
    }
    BYTE random[IdDigits / 2];
    int made = generate(provider, sizeof(random), random);
    if (!made) *error = GetLastError();
    release(provider, 0);
    if (!made) return 0;
    for (DWORD i = 0; i < sizeof(random); ++i) snprintf(digits + 2 * i, 3, "%02X", random[i]);
    return 1;
}

// The value of the tool's key that keeps a file's identifier.
void IdValueName(const ToolRecordPlace* place, char* value, size_t size) {
    const char* name = strrchr(place->name, '\\');
    snprintf(value, size, "%s id", name ? name + 1 : place->name);
}

// Writes `value` into the tool's key, made with the admin-only security or
// found; one made beforehand by someone else is not written into
// (`distrust` says why). With `replace` 0 a value already there stays
// (ERROR_FILE_EXISTS).
int StoreKeyValue(const char* value, DWORD type, const char* bytes, DWORD size, int replace, DWORD* error,
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
    } else if (!replace && RegQueryValueExA(key, value, nullptr, nullptr, nullptr, &existing) == ERROR_SUCCESS) {
        *error = ERROR_FILE_EXISTS;
    } else if ((status = RegSetValueExA(key, value, 0, type, reinterpret_cast<const BYTE*>(bytes), size)) !=
                   ERROR_SUCCESS ||
               (status = RegFlushKey(key)) != ERROR_SUCCESS) {
        *error = static_cast<DWORD>(status);
        RegDeleteValueA(key, value);
    } else {
        stored = 1;
    }
    RegCloseKey(key);
    return stored;
}

// The identifier this machine's runs keep for the file: 1 read into
// `digits`; 0 none kept, or the key not to be trusted.
int KeptIdentifier(const ToolRecordPlace* place, char* digits) {
    char value[MAX_PATH + 8];
    IdValueName(place, value, sizeof(value));
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ToolRecordKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD securityError = 0;
    int kept = 0;
    char read[IdDigits + 1];
    DWORD size = sizeof(read);
    DWORD type = 0;
    if (!KeyNotAdminOnly(key, &securityError) &&
        RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(read), &size) == ERROR_SUCCESS &&
        type == REG_SZ && size == sizeof(read) && read[IdDigits] == '\0') {
        memcpy(digits, read, sizeof(read));
        kept = 1;
    }
    RegCloseKey(key);
    return kept;
}

// The value goes when its file goes; one left by a run stopped before its
// file was written goes too. Nothing to forget is no error.
void ForgetIdentifier(const ToolRecordPlace* place) {
    char value[MAX_PATH + 8];
    IdValueName(place, value, sizeof(value));
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ToolRecordKey, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, value);
    RegCloseKey(key);
}

}  // namespace

int StoreToolRecordInFile(const ToolRecordPlace* place, int nt, const char* bytes, DWORD size,
                          DWORD* error, const char** distrust) {
    char line[IdLineSize + 1];
    if (nt) {
        // The identifier is kept before the file exists: a run stopped in
        // between leaves a value without a file, never a file whose
        // identifier nobody keeps.
        char digits[IdDigits + 1];
        if (!MakeIdentifier(digits, error)) return 0;
        char value[MAX_PATH + 8];
        IdValueName(place, value, sizeof(value));
        if (!StoreKeyValue(value, REG_SZ, digits, IdDigits + 1, 1, error, distrust)) return 0;
        snprintf(line, sizeof(line), "%s%s\r\n", IdPrefix, digits);
    }
    AdminOnlySecurity security;
    memset(&security, 0, sizeof(security));
    if (nt && !MakeAdminOnlySecurity(&security)) {
        *error = GetLastError();
        FreeAdminOnlySecurity(&security);
        ForgetIdentifier(place);
        return 0;
    }
    HANDLE file = CreateFileA(place->name, GENERIC_WRITE, 0, nt ? &security.attributes : nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    *error = GetLastError();
    FreeAdminOnlySecurity(&security);
    if (file == INVALID_HANDLE_VALUE) {
        // A file already there is not ours to write, and its identifier (if
        // it had one kept) is now another: it is not trusted either way.
        if (nt) ForgetIdentifier(place);
        return 0;
    }
    DWORD written = 0;
    DWORD lineWritten = 0;
    int stored = (!nt || (WriteFile(file, line, IdLineSize, &lineWritten, nullptr) && lineWritten == IdLineSize)) &&
                 WriteFile(file, bytes, size, &written, nullptr) && written == size && FlushFileBuffers(file);
    if (!stored) *error = GetLastError();
    if (!CloseHandle(file) && stored) {
        stored = 0;
        *error = GetLastError();
    }
    // Nothing the record speaks of has been done yet, so a part-written
    // record holds nothing that the machine does not still have.
    if (!stored) {
        DeleteFileA(place->name);
        if (nt) ForgetIdentifier(place);
    }
    return stored;
}

int StoreToolRecordInKey(const ToolRecordPlace* place, const char* bytes, DWORD size, DWORD* error,
                         const char** distrust) {
    return StoreKeyValue(place->value, REG_BINARY, bytes, size, 0, error, distrust);
}

// An NT record's first line is its identifier: the rest is handed on as
// the record, and when the identifier is missing or not the kept one the
// record is not to be trusted (unless something else already said why).
// The length of the rest.
static DWORD CheckIdentifier(const ToolRecordPlace* place, char* text, DWORD length, const char** distrust) {
    char kept[IdDigits + 1];
    int hasLine = length >= IdLineSize && memcmp(text, IdPrefix, sizeof(IdPrefix) - 1) == 0 &&
                  text[IdLineSize - 2] == '\r' && text[IdLineSize - 1] == '\n';
    int same = hasLine && KeptIdentifier(place, kept) &&
               memcmp(text + sizeof(IdPrefix) - 1, kept, IdDigits) == 0;
    if (!same && !*distrust) {
        *distrust = hasLine ? "its identifier is not the one this machine keeps for it: not written by the run that kept it"
                            : "it carries no identifier";
    }
    if (!hasLine) return length;
    memmove(text, text + IdLineSize, length - IdLineSize + 1);
    return length - IdLineSize;
}

static int LoadFromFile(const ToolRecordPlace* place, int nt, DWORD maxSize, char** text, DWORD* size,
                        DWORD* error, const char** distrust) {
    HANDLE file = CreateFileA(place->name, GENERIC_READ | (nt ? READ_CONTROL : 0), FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | (nt ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND) {
            if (nt) ForgetIdentifier(place);
            return 0;
        }
        return -1;
    }
    DWORD securityError = 0;
    const char* suffix = "";
    if (nt) *distrust = WhyNotOwnFile(file, &suffix, &securityError);
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
            if (nt) length = CheckIdentifier(place, buffer, length, distrust);
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
        if (!DeleteFileA(place->name)) {
            *error = GetLastError();
            return 0;
        }
        ForgetIdentifier(place);
        return 1;
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

int SetAsideToolRecord(const ToolRecordPlace* place, const char* suffix, const char* text, DWORD size,
                       char* aside, size_t asideSize, DWORD* error) {
    if (place->inRegistry) {
        snprintf(aside, asideSize, "%s.%s", place->name, suffix);
        char value[64];
        snprintf(value, sizeof(value), "%s.%s", place->value, suffix);
        HKEY key = nullptr;
        LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ToolRecordKey, 0, KEY_READ | KEY_WRITE, &key);
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExA(key, value, 0, REG_BINARY, reinterpret_cast<const BYTE*>(text), size);
            if (status == ERROR_SUCCESS) status = RegDeleteValueA(key, place->value);
            RegCloseKey(key);
        }
        *error = static_cast<DWORD>(status);
        return status == ERROR_SUCCESS;
    }
    const char* dot = strrchr(place->name, '.');
    size_t stem = dot ? static_cast<size_t>(dot - place->name) : strlen(place->name);
    char first[MAX_PATH + 32];
    if (stem + 1 + strlen(suffix) + 1 > sizeof(first)) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    memcpy(first, place->name, stem);
    snprintf(first + stem, sizeof(first) - stem, ".%s", suffix);
    if (!SetAsideOwnFile(place->name, first, aside, asideSize, error)) return 0;
    ForgetIdentifier(place);
    return 1;
}
