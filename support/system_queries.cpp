#include "support/system_queries.h"

#include <string.h>

#include "support/ascii_text.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

static DWORD PlatformId(int* ok) {
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    *ok = GetVersionExA(&info) ? 1 : 0;
    return info.dwPlatformId;
}

int IsWindowsNT() {
    int ok = 0;
    DWORD id = PlatformId(&ok);
    return ok && id == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

OsFamily GetOsFamily() {
    int ok = 0;
    DWORD id = PlatformId(&ok);
    if (!ok) return OsOther;
    if (id == VER_PLATFORM_WIN32_WINDOWS) return OsWindows9x;
    if (id == VER_PLATFORM_WIN32_NT) return OsWindowsNT;
    return OsOther;
}

int IsAdmin() {
    DWORD size = 1024;
    void* groups = AllocBuffer(size);
    if (!groups) return 0;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &token)) {
        FreeBuffer(groups);
        return 0;
    }
    DWORD needed = 0;
    BOOL queried = GetTokenInformation(token, TokenGroups, groups, size, &needed);
    if (!queried && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        // A token with many groups: ask again with the size the system named.
        FreeBuffer(groups);
        size = needed;
        groups = AllocBuffer(size);
        queried = groups ? GetTokenInformation(token, TokenGroups, groups, size, &needed) : FALSE;
    }
    CloseHandle(token);
    if (!queried) {
        FreeBuffer(groups);
        return 0;
    }
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators)) {
        FreeBuffer(groups);
        return 0;
    }
    // Present is enough: a group that is not enabled still makes an administrator.
    int result = 0;
    const TOKEN_GROUPS* list = static_cast<const TOKEN_GROUPS*>(groups);
    for (DWORD i = 0; i < list->GroupCount; ++i) {
        if (EqualSid(list->Groups[i].Sid, administrators)) {
            result = 1;
            break;
        }
    }
    FreeSid(administrators);
    FreeBuffer(groups);
    return result;
}

int SetPrivilege(HANDLE token, const char* privilegeName, int enable) {
    LUID luid;
    if (!LookupPrivilegeValueA(nullptr, privilegeName, &luid)) return 0;

    // First learn the privilege's current attributes, by an adjustment that
    // records the previous state.
    TOKEN_PRIVILEGES state;
    state.PrivilegeCount = 1;
    state.Privileges[0].Luid = luid;
    state.Privileges[0].Attributes = 0;
    TOKEN_PRIVILEGES previous;
    memset(&previous, 0, sizeof(previous));
    DWORD previousLength = sizeof(TOKEN_PRIVILEGES);
    AdjustTokenPrivileges(token, FALSE, &state, sizeof(TOKEN_PRIVILEGES), &previous,
                          &previousLength);
    if (GetLastError() != ERROR_SUCCESS) return 0;

    // Then set or clear only the enabled bit, keeping the others.
    DWORD attributes = previous.PrivilegeCount ? previous.Privileges[0].Attributes : 0;
    previous.PrivilegeCount = 1;
    previous.Privileges[0].Luid = luid;
    if (enable) {
        attributes |= SE_PRIVILEGE_ENABLED;
    } else {
        attributes &= ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED);
    }
    previous.Privileges[0].Attributes = attributes;
    AdjustTokenPrivileges(token, FALSE, &previous, previousLength, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS ? 1 : 0;
}

int IsServiceRunning(const char* serviceName) {
    if (GetOsFamily() != OsWindowsNT) return 0;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    if (!manager) return 0;
    SC_HANDLE service = OpenServiceA(manager, serviceName, SERVICE_QUERY_STATUS);
    if (!service) {
        CloseServiceHandle(manager);
        return 0;
    }
    SERVICE_STATUS status;
    memset(&status, 0, sizeof(status));
    int running = 0;
    if (QueryServiceStatus(service, &status)) {
        running = status.dwCurrentState == SERVICE_START_PENDING ||
                  status.dwCurrentState == SERVICE_RUNNING ||
                  status.dwCurrentState == SERVICE_CONTINUE_PENDING;
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return running;
}

int FileExistAt(const FilePath& path) {
    if (!path.wide) return FileExist(path.ansi);
    HANDLE file = CreateFileW(path.wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "[VTSU - FileExist]: File %s exists.\n",
                 Escaped(path.shown).text);
        CloseHandle(file);
        return 1;
    }
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "[VTSU - FileExist]: File %s does not exist.\n",
             Escaped(path.shown).text);
    return 0;
}

int FileExist(const char* path) {
    FILE* file = CrtFopen(path, "r");
    if (file) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "[VTSU - FileExist]: File %s exists.\n",
                 Escaped(path).text);
        fclose(file);
        return 1;
    }
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "[VTSU - FileExist]: File %s does not exist.\n",
             Escaped(path).text);
    return 0;
}

struct RegistryRoot {
    const char* name;
    HKEY key;
};

static const RegistryRoot RegistryRoots[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
};

static void TrimTrailingBlanks(char* text) {
    size_t length = strlen(text);
    while (length > 0 && text[length - 1] == ' ') text[--length] = '\0';
}

int ReadRegistryPath(void* buffer, DWORD bufferSize, const char* textPath) {
    size_t length = strlen(textPath);
    char* copy = static_cast<char*>(AllocBuffer(length + 1));
    if (!copy) return RegistryPathNoMemory;
    memcpy(copy, textPath, length + 1);

    int status = RegistryPathMalformed;
    char* rootEnd = strchr(copy, '\\');
    char* keyPath = nullptr;
    char* valueName = nullptr;
    if (rootEnd) {
        *rootEnd = '\0';
        if (rootEnd[1] == '\\') {
            valueName = rootEnd + 2;  // the key is the root itself
        } else {
            keyPath = rootEnd + 1;
            char* pair = strstr(keyPath, "\\\\");
            if (pair) {
                *pair = '\0';
                valueName = pair + 2;
            }
        }
    }
    HKEY root = nullptr;
    if (valueName) {
        char* bar = strchr(valueName, '|');
        if (bar) {
            *bar = '\0';
            TrimTrailingBlanks(bar + 1);  // the default text, which is not used
        } else {
            TrimTrailingBlanks(valueName);
        }
        for (const RegistryRoot& entry : RegistryRoots) {
            if (SameAsciiTextIgnoringCase(copy, entry.name)) root = entry.key;
        }
    }
    if (root) {
        HKEY key = root;
        if (keyPath && RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            status = RegistryPathNoKey;
        } else {
            DWORD type = 0;
            DWORD size = bufferSize;
            LONG result = RegQueryValueExA(key, valueName, nullptr, &type,
                                           static_cast<LPBYTE>(buffer), &size);
            status = result == ERROR_SUCCESS     ? RegistryPathRead
                     : result == ERROR_MORE_DATA ? RegistryPathTooLarge
                                                 : RegistryPathNoValue;
            if (keyPath) RegCloseKey(key);
        }
    }
    FreeBuffer(copy);
    return status;
}
