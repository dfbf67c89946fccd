// Security descriptors of the simulated workstation: the absolute ones a
// program builds for a file it creates (ACL and ACEs laid out as Windows lays
// them out), the self-relative ones that shares carry, and flushing a file.
#include <string.h>

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

}  // namespace

namespace sim {

void ApplyFileSecurity(FileNode* node, const SECURITY_ATTRIBUTES* security) {
    if (!node || !security->lpSecurityDescriptor) return;
    const SECURITY_DESCRIPTOR* descriptor =
        static_cast<const SECURITY_DESCRIPTOR*>(security->lpSecurityDescriptor);
    if (!(descriptor->Control & kDaclPresent) || !descriptor->Dacl) return;
    node->ownDacl = true;
    node->daclProtected = (descriptor->Control & SE_DACL_PROTECTED) != 0;
    node->daclAllowed.clear();
    const BYTE* base = reinterpret_cast<const BYTE*>(descriptor->Dacl);
    DWORD at = sizeof(ACL);
    for (WORD i = 0; i < descriptor->Dacl->AceCount; ++i) {
        AceHeader header;
        memcpy(&header, base + at, sizeof(header));
        if (header.type == kAccessAllowedAceType) node->daclAllowed.push_back(SidText(base + at + 8));
        at += header.size;
    }
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
