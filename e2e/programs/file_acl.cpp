// Test-only: shows or widens the access list of a file, as someone other than
// the tool might have left it.
//   file_acl show PATH               prints "owner SID" and one "allow|deny MASK SID" per entry
//   file_acl grant-everyone PATH     adds an entry that lets Everyone write and append
// Exits with 0 on success, 1 on a failed call (with the call and its error).
#include <windows.h>
#include <sddl.h>

#include <stdio.h>
#include <string.h>

namespace {

int Fail(const char* call) {
    printf("%s failed, error %lu\n", call, (unsigned long)GetLastError());
    return 1;
}

void PrintSid(const char* label, PSID sid, const char* tail) {
    char* text = nullptr;
    if (sid && ConvertSidToStringSidA(sid, &text)) {
        printf("%s %s%s\n", label, text, tail);
        LocalFree(text);
    } else {
        printf("%s none%s\n", label, tail);
    }
}

int Show(const char* path) {
    static BYTE buffer[8192];
    DWORD needed = 0;
    if (!GetFileSecurityA(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, buffer,
                          sizeof(buffer), &needed))
        return Fail("GetFileSecurityA");
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(buffer, &owner, &defaulted);
    PrintSid("owner", owner, "");
    BOOL present = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(buffer, &present, &dacl, &defaulted);
    if (!present || !dacl) {
        printf("no access list\n");
        return 0;
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) return Fail("GetAce");
        char label[64];
        snprintf(label, sizeof(label), "%s %08lX", ace->Header.AceType == ACCESS_DENIED_ACE_TYPE ? "deny" : "allow",
                 (unsigned long)ace->Mask);
        PrintSid(label, &ace->SidStart, "");
    }
    return 0;
}

int GrantEveryone(const char* path) {
    static BYTE buffer[8192];
    DWORD needed = 0;
    if (!GetFileSecurityA(path, DACL_SECURITY_INFORMATION, buffer, sizeof(buffer), &needed))
        return Fail("GetFileSecurityA");
    BOOL present = FALSE, defaulted = FALSE;
    PACL old = nullptr;
    GetSecurityDescriptorDacl(buffer, &present, &old, &defaulted);
    static DWORD aclBuffer[2048];
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    if (!InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION)) return Fail("InitializeAcl");
    for (DWORD i = 0; present && old && i < old->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(old, i, &ace) ||
            !AddAce(acl, ACL_REVISION, MAXDWORD, ace, static_cast<ACE_HEADER*>(ace)->AceSize))
            return Fail("AddAce");
    }
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return Fail("AllocateAndInitializeSid");
    BOOL added = AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ | FILE_WRITE_DATA | FILE_APPEND_DATA,
                                     everyone);
    FreeSid(everyone);
    if (!added) return Fail("AddAccessAllowedAce");
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE))
        return Fail("SetSecurityDescriptorDacl");
    if (!SetFileSecurityA(path, DACL_SECURITY_INFORMATION, &descriptor)) return Fail("SetFileSecurityA");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "show") == 0) return Show(argv[2]);
    if (argc == 3 && strcmp(argv[1], "grant-everyone") == 0) return GrantEveryone(argv[2]);
    printf("usage: file_acl show|grant-everyone PATH\n");
    return 2;
}
