// The network share records and entry points of the two families. Both
// libraries are bound at run time (svrapi.dll on Windows 9x, netapi32.dll on
// NT), so only their types are declared here, never their functions.
#ifndef KURRELFIX_PLATFORM_SHARE_RECORDS_H
#define KURRELFIX_PLATFORM_SHARE_RECORDS_H

#include "platform/platform.h"

#ifdef _WIN32
#include <lmcons.h>
#include <lmerr.h>
#include <lmshare.h>
#else
typedef DWORD NET_API_STATUS;
typedef WCHAR* LMSTR;
#define MAX_PREFERRED_LENGTH ((DWORD)-1)
#define NERR_Success 0

typedef struct _SHARE_INFO_502 {
    LMSTR shi502_netname;
    DWORD shi502_type;
    LMSTR shi502_remark;
    DWORD shi502_permissions;
    DWORD shi502_max_uses;
    DWORD shi502_current_uses;
    LMSTR shi502_path;
    LMSTR shi502_passwd;
    DWORD shi502_reserved;
    PSECURITY_DESCRIPTOR shi502_security_descriptor;
} SHARE_INFO_502, *PSHARE_INFO_502, *LPSHARE_INFO_502;
#endif

// A share of that name exists already (NetShareAdd, both families).
const NET_API_STATUS ShareExistsStatus = 2118;

// The 9x family's record at level 50. No SDK header of the NT family has it,
// and the 9x header declares NetShareEnum with its own arguments, so it is
// ours: packed, 42 bytes in the 32-bit program. Its name comes first, so the
// record's address is its name's.
#pragma pack(push, 1)
struct share_info_50 {
    char shi50_netname[13];
    unsigned char shi50_type;
    unsigned short shi50_flags;
    char* shi50_remark;
    char* shi50_path;
    char shi50_rw_password[9];
    char shi50_ro_password[9];
};
#pragma pack(pop)

// svrapi.dll (Windows 9x): counts and sizes are 16-bit.
typedef unsigned(WINAPI* NetShareEnum9xFunction)(const char* server, short level, char* buffer,
                                                 unsigned short bufferSize,
                                                 unsigned short* entriesRead,
                                                 unsigned short* totalAvailable);
typedef unsigned(WINAPI* NetShareDel9xFunction)(const char* server, const char* name,
                                                unsigned short reserved);
typedef unsigned(WINAPI* NetShareAdd9xFunction)(const char* server, short level,
                                                const char* record, unsigned short recordSize);

// netapi32.dll (NT).
typedef NET_API_STATUS(WINAPI* NetShareEnumNTFunction)(LMSTR server, DWORD level, LPBYTE* buffer,
                                                       DWORD preferredMaximum,
                                                       LPDWORD entriesRead,
                                                       LPDWORD totalEntries,
                                                       LPDWORD resumeHandle);
typedef NET_API_STATUS(WINAPI* NetShareDelNTFunction)(LMSTR server, LMSTR name, DWORD reserved);
typedef NET_API_STATUS(WINAPI* NetShareAddNTFunction)(LMSTR server, DWORD level, LPBYTE record,
                                                      LPDWORD parameterError);
typedef NET_API_STATUS(WINAPI* NetShareGetInfoNTFunction)(LMSTR server, LMSTR name, DWORD level,
                                                          LPBYTE* buffer);
typedef NET_API_STATUS(WINAPI* NetApiBufferFreeFunction)(LPVOID buffer);

#endif
