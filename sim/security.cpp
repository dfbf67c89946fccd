// The process token of the simulated workstation: its groups, SIDs and
// privileges.
#include <string.h>

#include <vector>

#include "sim/workstation.h"

using sim::Current;

namespace {

// Our SIDs have the layout of real ones: revision, count, authority, RIDs.
struct SimSid {
    BYTE revision;
    BYTE subAuthorityCount;
    BYTE authority[6];
    DWORD subAuthority[8];
};

size_t SidSize(const SimSid& sid) { return 8 + 4 * static_cast<size_t>(sid.subAuthorityCount); }

SimSid MakeSid(BYTE authority, std::initializer_list<DWORD> rids) {
    SimSid sid{};
    sid.revision = 1;
    sid.authority[5] = authority;
    for (DWORD rid : rids) sid.subAuthority[sid.subAuthorityCount++] = rid;
    return sid;
}

struct Group {
    SimSid sid;
    DWORD attributes;
};

std::vector<Group> TokenGroupsOf(const sim::Workstation& ws) {
    const DWORD enabled = 0x7;  // mandatory, enabled by default, enabled
    std::vector<Group> groups;
    groups.push_back({MakeSid(1, {0}), enabled});         // Everyone
    groups.push_back({MakeSid(5, {32, 545}), enabled});   // Users
    for (int i = 2; i < ws.tokenGroupCount; ++i) {
        groups.push_back({MakeSid(5, {21, 1111, 2222, 3333, static_cast<DWORD>(1000 + i)}), enabled});
    }
    // Administrators last, so that a large token must be searched in full.
    if (ws.isAdmin) groups.push_back({MakeSid(5, {32, 544}), ws.adminGroupEnabled ? enabled : 0x10});
    return groups;
}

struct PrivilegeName {
    const char* name;
    DWORD luid;
};

const PrivilegeName kPrivileges[] = {
    {"SeBackupPrivilege", 17},   {"SeRestorePrivilege", 18},      {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},    {"SeChangeNotifyPrivilege", 23}, {"SeSecurityPrivilege", 8},
    {"SeTcbPrivilege", 7},
};

const char* PrivilegeByLuid(const LUID& luid) {
    for (const PrivilegeName& p : kPrivileges) {
        if (luid.HighPart == 0 && luid.LowPart == p.luid) return p.name;
    }
    return nullptr;
}

bool TokenHolds(const sim::Workstation& ws, const char* name) {
    for (const std::string& held : ws.privilegesHeld) {
        if (sim::NoCaseEqual(held, name)) return true;
    }
    return false;
}

}  // namespace

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    SIM_FAILABLE(FALSE);
    if (process != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Token;
    entry.access = access;
    *token = Current().NewHandle(entry);
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                DWORD length, LPDWORD returnLength) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(token, sim::HandleKind::Token);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((entry->access & TOKEN_QUERY) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (infoClass == TokenUser) {
        // The account the tool runs as: an administrator's own account.
        SimSid user = MakeSid(5, {21, 1111, 2222, 3333, 500});
        size_t needed = sizeof(SID_AND_ATTRIBUTES) + SidSize(user);
        if (returnLength) *returnLength = static_cast<DWORD>(needed);
        if (length < needed || !info) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        BYTE* base = static_cast<BYTE*>(info);
        SID_AND_ATTRIBUTES* out = static_cast<SID_AND_ATTRIBUTES*>(info);
        memcpy(base + sizeof(SID_AND_ATTRIBUTES), &user, SidSize(user));
        out->Sid = base + sizeof(SID_AND_ATTRIBUTES);
        out->Attributes = 0;
        SetLastError(0);
        return TRUE;
    }
    if (infoClass != TokenGroups) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Laid out as Windows does: the count, the array, then the SIDs themselves.
    std::vector<Group> groups = TokenGroupsOf(ws);
    size_t header = offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
    size_t needed = header;
    for (const Group& g : groups) needed += SidSize(g.sid);
    if (returnLength) *returnLength = static_cast<DWORD>(needed);
    if (length < needed || !info) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BYTE* base = static_cast<BYTE*>(info);
    TOKEN_GROUPS* out = static_cast<TOKEN_GROUPS*>(info);
    out->GroupCount = static_cast<DWORD>(groups.size());
    SID_AND_ATTRIBUTES* array = out->Groups;
    size_t at = header;
    for (size_t i = 0; i < groups.size(); ++i) {
        memcpy(base + at, &groups[i].sid, SidSize(groups[i].sid));
        array[i].Sid = base + at;
        array[i].Attributes = groups[i].attributes;
        at += SidSize(groups[i].sid);
    }
    SetLastError(0);
    return TRUE;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0,
                                     DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5,
                                     DWORD sub6, DWORD sub7, PSID* sid) {
    SIM_FAULT(fault, error);
    if (fault || count > 8) {
        SetLastError(error ? error : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SimSid* made = new SimSid{};
    made->revision = 1;
    made->subAuthorityCount = count;
    memcpy(made->authority, authority->Value, 6);
    DWORD subs[8] = {sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7};
    for (BYTE i = 0; i < count; ++i) made->subAuthority[i] = subs[i];
    *sid = made;
    return TRUE;
}

BOOL WINAPI EqualSid(PSID a, PSID b) {
    SIM_COUNTED();
    const SimSid* x = static_cast<const SimSid*>(a);
    const SimSid* y = static_cast<const SimSid*>(b);
    if (x->subAuthorityCount != y->subAuthorityCount) return FALSE;
    return memcmp(x, y, SidSize(*x)) == 0 ? TRUE : FALSE;
}

PVOID WINAPI FreeSid(PSID sid) {
    SIM_COUNTED();
    delete static_cast<SimSid*>(sid);
    return nullptr;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid) {
    SIM_FAILABLE(FALSE);
    if (systemName != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (const PrivilegeName& p : kPrivileges) {
        if (sim::NoCaseEqual(p.name, name)) {
            luid->LowPart = p.luid;
            luid->HighPart = 0;
            return TRUE;
        }
    }
    SetLastError(ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
}

// As on NT: the previous state lists only the privileges that this call
// changed; a privilege the token does not hold is skipped, the call still
// succeeds, and the last error says ERROR_NOT_ALL_ASSIGNED. A full success
// sets the last error to 0, which callers rely on.
BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                  DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                  LPDWORD returnLength) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(token, sim::HandleKind::Token);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((entry->access & TOKEN_ADJUST_PRIVILEGES) == 0 ||
        (previousState && (entry->access & TOKEN_QUERY) == 0)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (disableAll) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<LUID_AND_ATTRIBUTES> changed;
    bool allAssigned = true;
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& wanted = newState->Privileges[i];
        const char* name = PrivilegeByLuid(wanted.Luid);
        if (!name || !TokenHolds(ws, name)) {
            allAssigned = false;
            continue;
        }
        DWORD& current = ws.privilegeAttributes[name];
        DWORD next = (current & ~static_cast<DWORD>(SE_PRIVILEGE_ENABLED)) |
                     (wanted.Attributes & SE_PRIVILEGE_ENABLED);
        if (next != current) {
            changed.push_back(LUID_AND_ATTRIBUTES{wanted.Luid, current});
            current = next;
        }
    }
    if (previousState) {
        DWORD needed = static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) +
                                          changed.size() * sizeof(LUID_AND_ATTRIBUTES));
        if (returnLength) *returnLength = needed;
        if (bufferLength < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        previousState->PrivilegeCount = static_cast<DWORD>(changed.size());
        for (size_t i = 0; i < changed.size(); ++i) previousState->Privileges[i] = changed[i];
    }
    SetLastError(allAssigned ? 0 : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

// The generator: a provider is a number; the bytes differ from call to call
// and from machine to machine built alike only by the count of calls.
BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* provider, LPCSTR container, LPCSTR providerName, DWORD type,
                                 DWORD flags) {
    SIM_FAILABLE(FALSE);
    (void)container;
    (void)providerName;
    (void)type;
    (void)flags;
    if (!provider) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *provider = 0x5eed;
    return TRUE;
}

BOOL WINAPI CryptGenRandom(HCRYPTPROV provider, DWORD size, BYTE* buffer) {
    SIM_FAILABLE(FALSE);
    if (provider != 0x5eed || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    uint32_t state = 2166136261u ^ static_cast<uint32_t>(++Current().randomCalls);
    for (DWORD i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        buffer[i] = static_cast<BYTE>(state >> 24);
    }
    return TRUE;
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV provider, DWORD flags) {
    SIM_COUNTED();
    (void)flags;
    return provider == 0x5eed ? TRUE : FALSE;
}
