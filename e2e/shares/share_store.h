// The shares of a Wine prefix for the test-only netapi32.dll and svrapi.dll:
// one text file, C:\windows\kurrel-shares.txt, that every process reads and
// rewrites, so that a share one process deleted is gone for the next one.
// Each call of the replacement DLLs also appends one line to the call log,
// C:\windows\kurrel-shares.log, naming the DLL's own file: Wine's builtin
// libraries never write there, so the log proves which library answered.
//
// The store, one entry a line, in the shares' order (LF or CR LF):
//   # any comment
//   share name=IPC$ type=0x80000003 remark=Remote%20IPC permissions=0 ...
//   switch refuse-delete NAME CODE   NetShareDel of NAME answers CODE, keeps it
//   switch refuse-add NAME CODE      NetShareAdd of NAME answers CODE
//   switch page N                    NT enumeration hands out N entries a call
//   switch fail-enum CODE            NetShareEnum answers CODE
// Share keys: name type remark permissions max_uses current_uses path passwd
// reserved sd (the self-relative security descriptor in hex) flags
// rw_password ro_password. Texts are UTF-8 with %XX for '%', '=', spaces,
// control and non-ASCII bytes. A text key that is missing is a null pointer;
// "key=" is an empty text. Numbers are decimal or 0x hex.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct StoredText {
    bool present = false;
    std::string utf8;
};

struct StoredShare {
    std::string name;  // UTF-8
    unsigned long type = 0;
    StoredText remark;
    unsigned long permissions = 0;
    unsigned long max_uses = 0xFFFFFFFFul;
    unsigned long current_uses = 0;
    StoredText path;
    StoredText passwd;
    unsigned long reserved = 0;
    bool has_sd = false;
    std::vector<unsigned char> sd;
    // The 9x family's own fields.
    unsigned long flags = 0;
    StoredText rw_password;
    StoredText ro_password;
};

struct StoredSwitch {
    std::string kind;  // refuse-delete, refuse-add, page, fail-enum
    std::string name;  // for refuse-delete / refuse-add
    unsigned long value = 0;
};

struct ShareStore {
    std::vector<StoredShare> shares;
    std::vector<StoredSwitch> switches;
    std::vector<std::string> other_lines;  // comments, kept as they were
};

// An open store: the file stays locked (no sharing) until CloseStore, so a
// read-modify-write of one process cannot interleave with another's.
struct StoreLock {
    HANDLE file = INVALID_HANDLE_VALUE;
};

bool OpenStore(StoreLock& lock, ShareStore& store);
bool SaveStore(StoreLock& lock, const ShareStore& store);
void CloseStore(StoreLock& lock);

// Index of the share named NAME (compared without letter case), or -1.
int FindShare(const ShareStore& store, const std::string& name);
// The switch of KIND (for NAME, when the kind takes one), or null.
const StoredSwitch* FindSwitch(const ShareStore& store, const char* kind, const std::string& name);

// A text as the store writes it: %XX for '%', '=', spaces, control and
// non-ASCII bytes, so that it is one word without spaces.
std::string EscapeText(const std::string& utf8);

std::string Utf8FromWide(const wchar_t* text);
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromAnsi(const char* text);
std::string AnsiFromUtf8(const std::string& text);

// Appends "MODULE FUNCTION DETAILS" to the call log; MODULE is the file of
// the DLL that holds this code.
void LogCall(HMODULE self, const std::string& function_and_details);
