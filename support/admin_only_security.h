// Things of the tool's own that a later run acts on (the share journal) are
// trusted only when only administrators could have written them: owned by
// Administrators or SYSTEM, and nobody else may change them. This unit makes
// the security such a file or key is created with, and checks the one that
// an existing file or key has. It also checks the bytes of a self-relative
// security descriptor before anything else looks into them.
#ifndef KURRELFIX_SUPPORT_ADMIN_ONLY_SECURITY_H
#define KURRELFIX_SUPPORT_ADMIN_ONLY_SECURITY_H

#include "platform/platform.h"

// Owner Administrators, and an access list that lets Administrators and
// SYSTEM alone in, without the folder's or parent key's inheritable entries.
struct AdminOnlySecurity {
    SECURITY_DESCRIPTOR descriptor;
    DWORD acl[32];  // DWORD-aligned room for the ACL and its two entries
    PSID administrators;
    PSID system;
    SECURITY_ATTRIBUTES attributes;
};
// 1 when `attributes` is ready; 0 with the last error. Free it either way.
int MakeAdminOnlySecurity(AdminOnlySecurity* security);
void FreeAdminOnlySecurity(AdminOnlySecurity* security);

// The rights that let someone change a file's contents, its access list or
// owner, or delete it; and the same for a registry key's values.
const DWORD FileChangeRights = 0x0002 | 0x0004 | 0x0010 | 0x0100 | DELETE | WRITE_DAC |
                               WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
const DWORD KeyChangeRights = 0x0002 | 0x0004 | 0x0020 | DELETE | WRITE_DAC | WRITE_OWNER |
                              GENERIC_WRITE | GENERIC_ALL;

// 1 when the bytes are a self-relative descriptor whose owner, group and
// access lists, and every entry of the lists, lie within `size` bytes.
int IsSoundSelfRelativeDescriptor(const BYTE* bytes, DWORD size);

// Why the descriptor does not keep the object to administrators, or nullptr
// when it does: its owner is Administrators, SYSTEM or `runningUser` (the
// administrator's own account the tool runs as, which only that account can
// have made an owner; may be nullptr), and no entry that applies to it
// grants anyone else one of `changeRights`.
const char* WhyNotAdminOnly(const BYTE* bytes, DWORD size, DWORD changeRights,
                            const BYTE* runningUser);

// The same for an open file (opened with READ_CONTROL) or registry key, its
// owner and access list read from the handle itself; `error` is set when
// they cannot be read.
const char* FileNotAdminOnly(HANDLE file, DWORD* error);

// The rights that let someone make a path through a folder lead elsewhere:
// delete or rename the folder, delete what it holds, change its access list
// or owner, or write it.
const DWORD FolderRedirectRights = 0x0040 | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Why a folder (opened with READ_CONTROL) may be changed by someone other
// than Administrators, SYSTEM, TrustedInstaller or the account the tool runs
// as, or nullptr when it may not; `error` is set when its owner and access
// list cannot be read.
const char* FolderNotAdminOnly(HANDLE folder, DWORD* error);
const char* KeyNotAdminOnly(HKEY key, DWORD* error);

// The SID of the account this process runs as, as text ("S-1-5-21-...-500"),
// the name of its hive under HKEY_USERS; 0 when it cannot be read or would
// not fit `size`.
int RunningUserSidText(char* text, size_t size);

#endif
