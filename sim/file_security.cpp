// Security descriptors of the simulated workstation: the absolute ones a
// program builds for a file it creates (ACL and ACEs laid out as Windows lays
// them out), the self-relative ones that shares carry, and flushing a file.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "sim/file_rules.h"
#include "sim/workstation.h"

using sim::Current;

namespace {

const WORD kDaclPresent = 0x0004;
const WORD kSelfRelative = 0x8000;
const BYTE kAccessAllowedAceType = 0;

struct AceHeader {
    BYTE type;
    BYTE flags;
    WORD size;
};

DWORD SidLength(const BYTE* sid) { return 8 + 4 * static_cast<DWORD>(sid[1]); }

std::string SidText(const BYTE* sid) {
    uint64_t authority = 0;
    for (int i = 0; i < 6; ++i) authority = (authority << 8) | sid[2 + i];
    std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
    for (BYTE i = 0; i < sid[1]; ++i) {
        DWORD sub = 0;
        memcpy(&sub, sid + 8 + 4 * i, 4);
        text += "-" + std::to_string(sub);
    }
    return text;
}

// Bytes of the ACL that its entries take, header included.
DWORD AclUsed(const ACL* acl) {
    const BYTE* base = reinterpret_cast<const BYTE*>(acl);
    DWORD used = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        AceHeader header;
        memcpy(&header, base + used, sizeof(header));
        used += header.size;
    }
    return used;
}

DWORD Offset(const BYTE* descriptor, int at) {
    DWORD offset = 0;
    memcpy(&offset, descriptor + at, 4);
    return offset;
}

std::vector<BYTE> SidBytes(const std::string& text) {
    // "S-1-5-32-544": revision, authority, sub-authorities.
    std::vector<unsigned long long> parts;
    size_t at = 2;
    while (at <= text.size()) {
        size_t dash = text.find('-', at);
        if (dash == std::string::npos) dash = text.size();
        parts.push_back(std::stoull(text.substr(at, dash - at)));
        at = dash + 1;
    }
    std::vector<BYTE> sid(8 + 4 * (parts.size() - 2), 0);
    sid[0] = static_cast<BYTE>(parts[0]);
    sid[1] = static_cast<BYTE>(parts.size() - 2);
    for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(parts[1] >> (8 * (5 - i)));
    for (size_t i = 2; i < parts.size(); ++i) {
        DWORD sub = static_cast<DWORD>(parts[i]);
        memcpy(&sid[8 + 4 * (i - 2)], &sub, 4);
    }
    return sid;
}

void Put16(std::vector<BYTE>& bytes, size_t at, WORD value) { memcpy(&bytes[at], &value, 2); }
void Put32(std::vector<BYTE>& bytes, size_t at, DWORD value) { memcpy(&bytes[at], &value, 4); }

// The self-relative descriptor that GetKernelObjectSecurity and
// RegGetKeySecurity hand out: header, owner, then the access list.
std::vector<BYTE> SelfRelative(const sim::ObjectSecurity& security) {
    std::vector<BYTE> bytes(20, 0);
    bytes[0] = SECURITY_DESCRIPTOR_REVISION;
    WORD control = kSelfRelative;
    if (!security.owner.empty()) {
        std::vector<BYTE> owner = SidBytes(security.owner);
        Put32(bytes, 4, static_cast<DWORD>(bytes.size()));
        bytes.insert(bytes.end(), owner.begin(), owner.end());
    }
    if (security.hasDacl) {
        control |= kDaclPresent;
        if (security.daclProtected) control |= SE_DACL_PROTECTED;
        size_t acl = bytes.size();
        Put32(bytes, 16, static_cast<DWORD>(acl));
        bytes.resize(acl + sizeof(ACL), 0);
        bytes[acl] = ACL_REVISION;
        for (const sim::Ace& ace : security.dacl) {
            std::vector<BYTE> sid = SidBytes(ace.sid);
            size_t at = bytes.size();
            bytes.resize(at + 8 + sid.size(), 0);
            bytes[at] = ace.type;
            bytes[at + 1] = ace.flags;
            Put16(bytes, at + 2, static_cast<WORD>(8 + sid.size()));
            Put32(bytes, at + 4, ace.mask);
            memcpy(&bytes[at + 8], sid.data(), sid.size());
        }
        Put16(bytes, acl + 2, static_cast<WORD>(bytes.size() - acl));
        Put16(bytes, acl + 4, static_cast<WORD>(security.dacl.size()));
    }
    Put16(bytes, 2, control);
    return bytes;
}

// Copies a descriptor out as both Get...Security calls do.
bool CopyDescriptor(const std::vector<BYTE>& bytes, void* out, DWORD size, DWORD* needed) {
    *needed = static_cast<DWORD>(bytes.size());
    if (size < bytes.size()) return false;
    memcpy(out, bytes.data(), bytes.size());
    return true;
}

}  // namespace

namespace sim {

const char* const AdministratorsSid = "S-1-5-32-544";
const char* const SystemSid = "S-1-5-18";
const char* const EveryoneSid = "S-1-1-0";
const char* const UsersSid = "S-1-5-32-545";
const char* const PlainUserSid = "S-1-5-21-1004336348-1177238915-682003330-1003";
const char* const ToolUserSid = "S-1-5-21-1111-2222-3333-500";

// As a file of the Windows folder of Windows XP has it: Administrators and
// SYSTEM may do anything, Users may read.
ObjectSecurity Workstation::DefaultFileSecurity() {
    ObjectSecurity security;
    security.owner = AdministratorsSid;
    security.dacl = {{AdministratorsSid, 0x1F01FF, 0, 0},
                     {SystemSid, 0x1F01FF, 0, 0},
                     {UsersSid, 0x1200A9, 0, 0}};
    return security;
}

ObjectSecurity Workstation::DefaultKeySecurity() {
    ObjectSecurity security;
    security.owner = AdministratorsSid;
    security.dacl = {{AdministratorsSid, 0xF003F, 0, 0},
                     {SystemSid, 0xF003F, 0, 0},
                     {UsersSid, KEY_READ, 0, 0}};
    return security;
}


// A descriptor a program built (absolute, as InitializeSecurityDescriptor
// makes it), as the model keeps it.
ObjectSecurity FromAbsolute(const SECURITY_DESCRIPTOR* descriptor) {
    ObjectSecurity security;
    security.set = true;
    if (descriptor->Owner) security.owner = SidText(static_cast<const BYTE*>(descriptor->Owner));
    security.hasDacl = (descriptor->Control & kDaclPresent) && descriptor->Dacl;
    security.daclProtected = (descriptor->Control & SE_DACL_PROTECTED) != 0;
    if (!security.hasDacl) return security;
    const BYTE* base = reinterpret_cast<const BYTE*>(descriptor->Dacl);
    DWORD at = sizeof(ACL);
    for (WORD i = 0; i < descriptor->Dacl->AceCount; ++i) {
        AceHeader header;
        memcpy(&header, base + at, sizeof(header));
        Ace ace;
        ace.type = header.type;
        ace.flags = header.flags;
        memcpy(&ace.mask, base + at + 4, 4);
        ace.sid = SidText(base + at + 8);
        security.dacl.push_back(ace);
        at += header.size;
    }
    return security;
}

void ApplyFileSecurity(FileNode* node, const SECURITY_ATTRIBUTES* security) {
    if (!node || !security->lpSecurityDescriptor) return;
    ObjectSecurity made =
        FromAbsolute(static_cast<const SECURITY_DESCRIPTOR*>(security->lpSecurityDescriptor));
    // The creator owns what it makes unless the descriptor names an owner.
    if (made.owner.empty()) made.owner = ToolUserSid;
    // Without a list of its own the folder's inheritable entries apply.
    if (!made.hasDacl) made = Workstation::DefaultFileSecurity();
    node->security = made;
}

}  // namespace sim

BOOL WINAPI FlushFileBuffers(HANDLE file) {
    SIM_FAILABLE(FALSE);
    if (!Current().Lookup(file, sim::HandleKind::File)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
    SIM_FAILABLE(FALSE);
    if (revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    memset(descriptor, 0, sizeof(SECURITY_DESCRIPTOR));
    static_cast<SECURITY_DESCRIPTOR*>(descriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL WINAPI InitializeAcl(PACL acl, DWORD length, DWORD revision) {
    SIM_FAILABLE(FALSE);
    if (length < sizeof(ACL) || length > 0xFFFF || revision != ACL_REVISION) {
        SetLastError(length < sizeof(ACL) ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    memset(acl, 0, sizeof(ACL));
    acl->AclRevision = static_cast<BYTE>(revision);
    acl->AclSize = static_cast<WORD>(length);
    return TRUE;
}

BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD revision, DWORD access, PSID sid) {
    SIM_FAILABLE(FALSE);
    (void)revision;
    const BYTE* sidBytes = static_cast<const BYTE*>(sid);
    DWORD used = AclUsed(acl);
    DWORD aceSize = 8 + SidLength(sidBytes);
    if (used + aceSize > acl->AclSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BYTE* at = reinterpret_cast<BYTE*>(acl) + used;
    AceHeader header = {kAccessAllowedAceType, 0, static_cast<WORD>(aceSize)};
    memcpy(at, &header, sizeof(header));
    memcpy(at + 4, &access, 4);
    memcpy(at + 8, sidBytes, SidLength(sidBytes));
    ++acl->AceCount;
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL acl,
                                      BOOL defaulted) {
    SIM_FAILABLE(FALSE);
    (void)defaulted;
    SECURITY_DESCRIPTOR* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    sd->Dacl = present ? acl : nullptr;
    if (present) {
        sd->Control |= kDaclPresent;
    } else {
        sd->Control &= static_cast<WORD>(~kDaclPresent);
    }
    return TRUE;
}

DWORD WINAPI GetLengthSid(PSID sid) {
    SIM_COUNTED();
    return SidLength(static_cast<const BYTE*>(sid));
}

// Self-relative: the header, then the owner, group and ACLs at their offsets;
// the length reaches to the end of the last of them.
DWORD WINAPI GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR descriptor) {
    SIM_COUNTED();
    const BYTE* bytes = static_cast<const BYTE*>(descriptor);
    WORD control = 0;
    memcpy(&control, bytes + 2, 2);
    if (!(control & kSelfRelative)) return sizeof(SECURITY_DESCRIPTOR);
    DWORD length = 20;
    DWORD owner = Offset(bytes, 4);
    DWORD group = Offset(bytes, 8);
    DWORD sacl = Offset(bytes, 12);
    DWORD dacl = Offset(bytes, 16);
    if (owner) length = std::max(length, owner + SidLength(bytes + owner));
    if (group) length = std::max(length, group + SidLength(bytes + group));
    for (DWORD acl : {sacl, dacl}) {
        if (!acl) continue;
        WORD size = 0;
        memcpy(&size, bytes + acl + 2, 2);
        length = std::max(length, acl + size);
    }
    return length;
}

BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner, BOOL defaulted) {
    SIM_FAILABLE(FALSE);
    (void)defaulted;
    static_cast<SECURITY_DESCRIPTOR*>(descriptor)->Owner = owner;
    return TRUE;
}

// Windows looks at the revision and, for a self-relative one, that its parts
// lie within it; the tool checks the bounds itself before it asks.
BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    SIM_COUNTED();
    return descriptor && static_cast<const BYTE*>(descriptor)[0] == SECURITY_DESCRIPTOR_REVISION;
}

BOOL WINAPI GetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION requested,
                                    PSECURITY_DESCRIPTOR descriptor, DWORD size, LPDWORD needed) {
    SIM_FAILABLE(FALSE);
    (void)requested;
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(object, sim::HandleKind::File);
    if (!entry) entry = ws.Lookup(object, sim::HandleKind::Folder);
    if (!entry || !needed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(entry->access & READ_CONTROL)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // A volume without access lists answers with no owner and no list.
    std::string path = ws.PathOf(entry->node);
    auto drive = ws.drives.find(static_cast<char>(toupper(static_cast<unsigned char>(path[0]))));
    sim::ObjectSecurity security = entry->node->security.set ? entry->node->security
                                                             : sim::Workstation::DefaultFileSecurity();
    if (drive != ws.drives.end() && !drive->second.persistentAcls) {
        security = sim::ObjectSecurity();
        security.hasDacl = false;
    }
    if (!CopyDescriptor(SelfRelative(security), descriptor, size, needed)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize,
                                  LPDWORD serial, LPDWORD maxComponentLength,
                                  LPDWORD fileSystemFlags, LPSTR fileSystemName,
                                  DWORD fileSystemNameSize) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    auto drive = root ? ws.drives.find(static_cast<char>(toupper(static_cast<unsigned char>(root[0]))))
                      : ws.drives.end();
    if (drive == ws.drives.end() || strlen(root) != 3 || root[1] != ':' || root[2] != '\\') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const bool acls = drive->second.persistentAcls;
    if (volumeName && volumeNameSize) volumeName[0] = '\0';
    if (serial) *serial = drive->second.serial;
    if (maxComponentLength) *maxComponentLength = 255;
    // Case kept and case-blind names, Unicode names, and access lists on NTFS.
    if (fileSystemFlags) *fileSystemFlags = 0x2 | 0x4 | (acls ? FILE_PERSISTENT_ACLS : 0);
    if (fileSystemName && fileSystemNameSize) {
        snprintf(fileSystemName, fileSystemNameSize, "%s", acls ? "NTFS" : "FAT32");
    }
    return TRUE;
}

LONG WINAPI RegGetKeySecurity(HKEY key, SECURITY_INFORMATION requested,
                              PSECURITY_DESCRIPTOR descriptor, LPDWORD size) {
    SIM_FAILABLE_STATUS();
    (void)requested;
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(reinterpret_cast<HANDLE>(key), sim::HandleKind::Key);
    if (!entry || !size) return ERROR_INVALID_HANDLE;
    if (!(entry->access & READ_CONTROL)) return ERROR_ACCESS_DENIED;
    sim::ObjectSecurity security = entry->key->security.set ? entry->key->security
                                                            : sim::Workstation::DefaultKeySecurity();
    DWORD needed = 0;
    bool copied = CopyDescriptor(SelfRelative(security), descriptor, *size, &needed);
    *size = needed;
    return copied ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER;
}
