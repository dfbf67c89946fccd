// The registry of the simulated workstation: the four roots, keys, typed
// values. Like the real functions these report through their result and
// leave the thread's last error alone.
#include <string.h>

#include <iterator>
#include <string>

#include "sim/file_rules.h"
#include "sim/workstation.h"

using sim::Current;

namespace {

// The key a handle stands for, with the rights it was opened with. The
// predefined roots are always open with every right.
sim::RegKey* KeyOf(HKEY key, DWORD* access) {
    sim::Workstation& ws = Current();
    if (sim::RootName(key)) {
        *access = 0xFFFFFFFF;
        return ws.RootKey(key);
    }
    sim::HandleEntry* entry = ws.Lookup(reinterpret_cast<HANDLE>(key), sim::HandleKind::Key);
    if (!entry) return nullptr;
    *access = entry->access;
    return entry->key;
}

sim::RegKey* Descend(sim::RegKey* key, const char* path) {
    if (!path) return key;
    std::string_view rest(path);
    size_t i = 0;
    while (key && i < rest.size()) {
        while (i < rest.size() && rest[i] == '\\') ++i;
        size_t start = i;
        while (i < rest.size() && rest[i] != '\\') ++i;
        if (i == start) break;
        auto it = key->subkeys.find(rest.substr(start, i - start));
        key = it == key->subkeys.end() ? nullptr : it->second.get();
    }
    return key;
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    SIM_FAILABLE_STATUS();
    DWORD parentAccess = 0;
    sim::RegKey* parent = KeyOf(key, &parentAccess);
    if (!parent || options != 0) return ERROR_INVALID_HANDLE;
    sim::Workstation& ws = Current();
    const REGSAM views = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
    if ((access & views) && ws.platformId == VER_PLATFORM_WIN32_NT && ws.majorVersion == 5 &&
        ws.minorVersion == 0)
        return ERROR_INVALID_PARAMETER;  // Windows 2000 knows no registry views
    // A 32-bit program on 64-bit Windows XP or Vista is shown the classes'
    // own 32-bit copy, kept under Wow6432Node, unless it asks for the
    // 64-bit view by name; Windows 7 and later share the key.
    if (key == HKEY_CLASSES_ROOT && ws.wow64 && !ws.sharedClasses && !(access & KEY_WOW64_64KEY)) {
        parent = Descend(parent, "Wow6432Node");
        if (!parent) return ERROR_FILE_NOT_FOUND;
    }
    sim::RegKey* found = Descend(parent, subKey);
    // From Windows 2000 on the classes are the running user's own over the
    // machine's: a key the user's hive has is the one opened. Another user's
    // classes are no part of this view.
    if (key == HKEY_CLASSES_ROOT && ws.platformId == VER_PLATFORM_WIN32_NT && ws.majorVersion >= 5) {
        sim::RegKey* own = Descend(ws.RootKey(HKEY_USERS), (std::string(sim::ToolUserSid) + "_Classes").c_str());
        if (own && ws.wow64 && !ws.sharedClasses && !(access & KEY_WOW64_64KEY)) own = Descend(own, "Wow6432Node");
        if (sim::RegKey* mine = own ? Descend(own, subKey) : nullptr) found = mine;
    }
    if (!found) return ERROR_FILE_NOT_FOUND;
    if ((access & KEY_SET_VALUE) && found->denyWrite) return ERROR_ACCESS_DENIED;
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Key;
    entry.key = found;
    entry.access = access;
    *result = reinterpret_cast<HKEY>(Current().NewHandle(entry));
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize) {
    SIM_FAILABLE_STATUS();
    DWORD access = 0;
    sim::RegKey* k = KeyOf(key, &access);
    if (!k || reserved) return ERROR_INVALID_HANDLE;
    if ((access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    auto it = k->values.find(std::string_view(valueName ? valueName : ""));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    const sim::RegValue& value = it->second;
    if (type) *type = value.type;
    DWORD size = static_cast<DWORD>(value.data.size());
    if (!dataSize) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (data && *dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (data && size) memcpy(data, value.data.data(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                           const BYTE* data, DWORD dataSize) {
    SIM_FAILABLE_STATUS();
    DWORD access = 0;
    sim::RegKey* k = KeyOf(key, &access);
    if (!k || reserved) return ERROR_INVALID_HANDLE;
    if ((access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    sim::RegValue& value = k->values[valueName ? valueName : ""];
    value.type = type;
    value.data.assign(data, data + dataSize);
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key) {
    SIM_FAILABLE_STATUS();
    if (sim::RootName(key)) return ERROR_SUCCESS;
    sim::Workstation& ws = Current();
    HANDLE handle = reinterpret_cast<HANDLE>(key);
    if (!ws.Lookup(handle, sim::HandleKind::Key)) return ERROR_INVALID_HANDLE;
    ws.FreeHandle(handle);
    return ERROR_SUCCESS;
}

// Opens the key, making every missing one on the way; the last one made takes
// the descriptor it was given.
LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className,
                            DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                            PHKEY result, LPDWORD disposition) {
    SIM_FAILABLE_STATUS();
    DWORD parentAccess = 0;
    sim::RegKey* at = KeyOf(key, &parentAccess);
    if (!at || reserved || className || options != REG_OPTION_NON_VOLATILE || !subKey || !result)
        return ERROR_INVALID_PARAMETER;
    bool made = false;
    std::string_view rest(subKey);
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && rest[i] == '\\') ++i;
        size_t start = i;
        while (i < rest.size() && rest[i] != '\\') ++i;
        if (i == start) break;
        auto& slot = at->subkeys[std::string(rest.substr(start, i - start))];
        made = !slot;
        if (!slot) {
            slot = std::make_unique<sim::RegKey>();
            slot->name = std::string(rest.substr(start, i - start));
        }
        at = slot.get();
    }
    if (made && security && security->lpSecurityDescriptor) {
        at->security = sim::FromAbsolute(static_cast<const SECURITY_DESCRIPTOR*>(security->lpSecurityDescriptor));
        if (at->security.owner.empty()) at->security.owner = sim::AdministratorsSid;
        if (!at->security.hasDacl) at->security = sim::Workstation::DefaultKeySecurity();
    }
    if ((access & KEY_SET_VALUE) && at->denyWrite) return ERROR_ACCESS_DENIED;
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Key;
    entry.key = at;
    entry.access = access;
    *result = reinterpret_cast<HKEY>(Current().NewHandle(entry));
    if (disposition) *disposition = made ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
    SIM_FAILABLE_STATUS();
    DWORD access = 0;
    sim::RegKey* k = KeyOf(key, &access);
    if (!k) return ERROR_INVALID_HANDLE;
    if ((access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    auto it = k->values.find(std::string_view(valueName ? valueName : ""));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    k->values.erase(it);
    return ERROR_SUCCESS;
}

// The registry is in memory here: a flush only checks its handle.
LONG WINAPI RegFlushKey(HKEY key) {
    SIM_FAILABLE_STATUS();
    DWORD access = 0;
    return KeyOf(key, &access) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// The subkeys in the order the model keeps them (by name, as a hive lists
// them); ERROR_NO_MORE_ITEMS past the last, ERROR_MORE_DATA when the name
// does not fit with its terminator.
LONG WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR className,
                          LPDWORD classSize, FILETIME* lastWrite) {
    SIM_FAILABLE_STATUS();
    DWORD access = 0;
    sim::RegKey* k = KeyOf(key, &access);
    if (!k || reserved || !name || !nameSize) return ERROR_INVALID_PARAMETER;
    if ((access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
    if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = k->subkeys.begin();
    std::advance(it, index);
    const std::string& subkey = it->first;
    if (subkey.size() + 1 > *nameSize) return ERROR_MORE_DATA;
    memcpy(name, subkey.c_str(), subkey.size() + 1);
    *nameSize = static_cast<DWORD>(subkey.size());
    if (className && classSize && *classSize) className[0] = 0;
    if (classSize) *classSize = 0;
    if (lastWrite) memset(lastWrite, 0, sizeof(*lastWrite));
    return ERROR_SUCCESS;
}
