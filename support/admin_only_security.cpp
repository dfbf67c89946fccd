#include "support/admin_only_security.h"

#include <stdio.h>
#include <string.h>

namespace {

// S-1-5-32-544 and S-1-5-18 as their bytes.
const BYTE AdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 2, 0, 0};
const BYTE SystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 0x12, 0, 0, 0};
// S-1-5-80-956008885-3418522649-1831038044-1850952020-2271478464, the
// service that owns the system's own folders from Windows Vista on.
const BYTE TrustedInstallerSid[] = {1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,    0,
                                    0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D,
                                    0x54, 0x1E, 0x7B, 0x6E, 0xC0, 0x50, 0x4B, 0x87};

const DWORD HeaderSize = 20;  // revision, control and four offsets
const DWORD AclHeaderSize = 8;
const DWORD MaxSubAuthorities = 15;
const BYTE AccessAllowedAce = 0;
const BYTE AccessDeniedAce = 1;
const BYTE SystemAuditAce = 2;
const BYTE SystemAlarmAce = 3;
const BYTE InheritOnlyAce = 0x08;
// Owner and access list as the check needs them; room for a long list. A
// longer one cannot be read, and is not trusted.
const DWORD SecurityBufferSize = 4096;
const char* const Unreadable = "its owner and access list cannot be read";

DWORD Read32(const BYTE* at) {
    return static_cast<DWORD>(at[0]) | static_cast<DWORD>(at[1]) << 8 |
           static_cast<DWORD>(at[2]) << 16 | static_cast<DWORD>(at[3]) << 24;
}

WORD Read16(const BYTE* at) { return static_cast<WORD>(at[0] | at[1] << 8); }

// The length of the SID at `offset`, or 0 when it does not lie within `end`.
DWORD SidLengthWithin(const BYTE* bytes, DWORD offset, DWORD end) {
    if (offset > end || end - offset < 8) return 0;
    const BYTE* sid = bytes + offset;
    if (sid[0] != 1 || sid[1] > MaxSubAuthorities) return 0;
    DWORD length = 8 + 4 * static_cast<DWORD>(sid[1]);
    return end - offset >= length ? length : 0;
}

int IsSid(const BYTE* sid, DWORD length, const BYTE* wellKnown, DWORD wellKnownLength) {
    return length == wellKnownLength && memcmp(sid, wellKnown, length) == 0;
}

// Administrators, SYSTEM, or the account the tool runs as; for the system's
// folders TrustedInstaller too.
int IsTrustedSid(const BYTE* sid, DWORD length, const BYTE* runningUser, int installer) {
    return IsSid(sid, length, AdministratorsSid, sizeof(AdministratorsSid)) ||
           IsSid(sid, length, SystemSid, sizeof(SystemSid)) ||
           (installer && IsSid(sid, length, TrustedInstallerSid, sizeof(TrustedInstallerSid))) ||
           (runningUser && IsSid(sid, length, runningUser, 8 + 4 * static_cast<DWORD>(runningUser[1])));
}

const char* WhyNotTrusted(const BYTE* bytes, DWORD size, DWORD changeRights, const BYTE* runningUser,
                          int installer);

// The SID of the account this process runs as, into `sid` (room for the
// largest SID); 0 when it cannot be read, and then only Administrators and
// SYSTEM are trusted.
int ReadRunningUser(BYTE* sid, DWORD size) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
    DWORD buffer[32];  // a TOKEN_USER and its SID, aligned
    DWORD needed = 0;
    int read = 0;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &needed)) {
        const SID_AND_ATTRIBUTES* user = reinterpret_cast<const SID_AND_ATTRIBUTES*>(buffer);
        const BYTE* bytes = static_cast<const BYTE*>(user->Sid);
        DWORD length = bytes ? 8 + 4 * static_cast<DWORD>(bytes[1]) : 0;
        if (bytes && bytes[1] <= MaxSubAuthorities && length <= size) {
            memcpy(sid, bytes, length);
            read = 1;
        }
    }
    CloseHandle(token);
    return read;
}

// The descriptor of an object, read into `buffer` by `read`, then judged.
const char* Judge(const BYTE* buffer, DWORD size, DWORD changeRights, int installer) {
    BYTE runningUser[8 + 4 * MaxSubAuthorities];
    int known = ReadRunningUser(runningUser, sizeof(runningUser));
    return WhyNotTrusted(buffer, size, changeRights, known ? runningUser : nullptr, installer);
}

// The entries of an ACL lie within its size, and its size within `end`.
int IsSoundAcl(const BYTE* bytes, DWORD offset, DWORD end) {
    if (offset > end || end - offset < AclHeaderSize) return 0;
    const BYTE* acl = bytes + offset;
    DWORD aclSize = Read16(acl + 2);
    if (aclSize < AclHeaderSize || aclSize > end - offset) return 0;
    DWORD at = AclHeaderSize;
    for (WORD i = 0, count = Read16(acl + 4); i < count; ++i) {
        if (aclSize - at < 4) return 0;
        BYTE type = acl[at];
        DWORD aceSize = Read16(acl + at + 2);
        if (aceSize < 4 || aceSize > aclSize - at) return 0;
        // The four plain kinds hold a mask and a SID, which must fit the entry.
        if (type <= SystemAlarmAce && SidLengthWithin(acl, at + 8, at + aceSize) == 0) return 0;
        at += aceSize;
    }
    return 1;
}

}  // namespace

int RunningUserSidText(char* text, size_t size) {
    BYTE sid[8 + 4 * MaxSubAuthorities];
    if (size == 0 || !ReadRunningUser(sid, sizeof(sid))) return 0;
    // The authority is six bytes, most significant first.
    unsigned long long authority = 0;
    for (int i = 0; i < 6; ++i) authority = (authority << 8) | sid[2 + i];
    int used = snprintf(text, size, "S-%u-%llu", (unsigned)sid[0], authority);
    for (BYTE i = 0; used > 0 && static_cast<size_t>(used) < size && i < sid[1]; ++i) {
        DWORD sub = 0;
        memcpy(&sub, sid + 8 + 4 * i, sizeof(sub));
        used += snprintf(text + used, size - used, "-%lu", (unsigned long)sub);
    }
    if (used <= 0 || static_cast<size_t>(used) >= size) {
        text[0] = '\0';
        return 0;
    }
    return 1;
}

int MakeAdminOnlySecurity(AdminOnlySecurity* security) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    security->administrators = nullptr;
    security->system = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &security->administrators) ||
        !AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                  &security->system)) {
        return 0;
    }
    PACL acl = reinterpret_cast<PACL>(security->acl);
    // The owner is set, not left to the system: on some versions the account
    // that creates a file owns it, and an owner may always change its access list.
    if (!InitializeAcl(acl, sizeof(security->acl), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, security->administrators) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, security->system) ||
        !InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&security->descriptor, security->administrators, FALSE) ||
        !SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE)) {
        return 0;
    }
    // Set in the record itself: the call that sets it is missing before Windows 2000.
    security->descriptor.Control |= SE_DACL_PROTECTED;
    security->attributes.nLength = sizeof(security->attributes);
    security->attributes.lpSecurityDescriptor = &security->descriptor;
    security->attributes.bInheritHandle = FALSE;
    return 1;
}

void FreeAdminOnlySecurity(AdminOnlySecurity* security) {
    if (security->administrators) FreeSid(security->administrators);
    if (security->system) FreeSid(security->system);
    security->administrators = nullptr;
    security->system = nullptr;
}

int IsSoundSelfRelativeDescriptor(const BYTE* bytes, DWORD size) {
    if (!bytes || size < HeaderSize || bytes[0] != SECURITY_DESCRIPTOR_REVISION) return 0;
    if (!(Read16(bytes + 2) & SE_SELF_RELATIVE)) return 0;
    // Owner and group, then the two access lists.
    for (int at = 4; at <= 16; at += 4) {
        DWORD offset = Read32(bytes + at);
        if (!offset) continue;
        if (offset < HeaderSize) return 0;
        if (at <= 8 ? SidLengthWithin(bytes, offset, size) == 0 : !IsSoundAcl(bytes, offset, size)) return 0;
    }
    return 1;
}

const char* WhyNotAdminOnly(const BYTE* bytes, DWORD size, DWORD changeRights,
                            const BYTE* runningUser) {
    return WhyNotTrusted(bytes, size, changeRights, runningUser, 0);
}

namespace {

const char* WhyNotTrusted(const BYTE* bytes, DWORD size, DWORD changeRights, const BYTE* runningUser,
                          int installer) {
    if (!IsSoundSelfRelativeDescriptor(bytes, size)) return Unreadable;
    DWORD owner = Read32(bytes + 4);
    DWORD ownerLength = owner ? SidLengthWithin(bytes, owner, size) : 0;
    if (!owner || !IsTrustedSid(bytes + owner, ownerLength, runningUser, installer)) return "owned by another account";
    DWORD dacl = Read32(bytes + 16);
    // No access list at all lets everyone do everything.
    if (!(Read16(bytes + 2) & SE_DACL_PRESENT) || !dacl) return "anyone may change it";
    const BYTE* acl = bytes + dacl;
    DWORD at = AclHeaderSize;
    for (WORD i = 0, count = Read16(acl + 4); i < count; ++i) {
        BYTE type = acl[at];
        BYTE flags = acl[at + 1];
        DWORD aceSize = Read16(acl + at + 2);
        const DWORD entry = at;
        at += aceSize;
        // A denial never gives a right; an entry only for what is created
        // below does not apply to this object.
        if (type == AccessDeniedAce || type == SystemAuditAce || type == SystemAlarmAce ||
            (flags & InheritOnlyAce)) {
            continue;
        }
        // Any other kind of entry that may grant is taken as granting its
        // mask to someone else, unless it is the plain kind for our two.
        if (aceSize < 8 || !(Read32(acl + entry + 4) & changeRights)) continue;
        if (type == AccessAllowedAce &&
            IsTrustedSid(acl + entry + 8, SidLengthWithin(acl, entry + 8, entry + aceSize), runningUser,
                         installer)) {
            continue;
        }
        return "others may change it";
    }
    return nullptr;
}

// Reads the owner and access list of a file or folder from its handle.
const char* ObjectNotTrusted(HANDLE object, DWORD changeRights, int installer, DWORD* error) {
    // Cleared, so that nothing past what the system wrote is left over.
    DWORD buffer[SecurityBufferSize / sizeof(DWORD)];
    memset(buffer, 0, sizeof(buffer));
    DWORD needed = 0;
    if (!GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 buffer, sizeof(buffer), &needed)) {
        *error = GetLastError();
        return Unreadable;
    }
    return Judge(reinterpret_cast<const BYTE*>(buffer), sizeof(buffer), changeRights, installer);
}

}  // namespace

const char* FileNotAdminOnly(HANDLE file, DWORD* error) {
    return ObjectNotTrusted(file, FileChangeRights, 0, error);
}

const char* FolderNotAdminOnly(HANDLE folder, DWORD* error) {
    return ObjectNotTrusted(folder, FolderRedirectRights, 1, error);
}

const char* KeyNotAdminOnly(HKEY key, DWORD* error) {
    DWORD buffer[SecurityBufferSize / sizeof(DWORD)];
    memset(buffer, 0, sizeof(buffer));
    DWORD size = sizeof(buffer);
    LONG status = RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, buffer, &size);
    if (status != ERROR_SUCCESS) {
        *error = static_cast<DWORD>(status);
        return Unreadable;
    }
    return Judge(reinterpret_cast<const BYTE*>(buffer), sizeof(buffer), KeyChangeRights, 0);
}
