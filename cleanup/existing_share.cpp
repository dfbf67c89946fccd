#include "cleanup/existing_share.h"

#include <stdio.h>
#include <string.h>

#include "cleanup/network_shares.h"
#include "support/system_library.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

// The same path: UTF-16 unit for unit, A to Z in either case. The server
// keeps a share's path as it was given, and the file system finds a folder
// whatever the case of its name, so C:\DATA and c:\data are one folder. Only
// A to Z are folded, not the whole of Windows' case table: a path that differs
// in the case of any other letter counts as another, which keeps the share in
// the journal. That is the safe side: a share taken for ours that is not is
// lost for good, one not taken for ours costs a kept journal and exit code 3.
// A missing path and an empty one are the same (IPC$ has neither).
static int SamePath(const WCHAR* a, const WCHAR* b) {
    static const WCHAR empty[1] = {0};
    if (!a) a = empty;
    if (!b) b = empty;
    for (;; ++a, ++b) {
        WCHAR x = *a;
        WCHAR y = *b;
        if (x >= 'a' && x <= 'z') x = static_cast<WCHAR>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<WCHAR>(y - 'a' + 'A');
        if (x != y) return 0;
        if (!x) return 1;
    }
}

// The same descriptor: both self-relative, of one length and byte for byte
// equal. Two descriptors that grant the same may be spelled differently (the
// entries in another order, an owner named or not), but telling so would mean
// judging access lists that someone else wrote; any difference keeps the
// journal, for the administrator to settle. Neither having one is the same:
// such a share is open to everyone, the remembered one as the found one.
static int SameDescriptor(PSECURITY_DESCRIPTOR a, PSECURITY_DESCRIPTOR b) {
    if (!a || !b) return !a && !b;
    DWORD length = GetSecurityDescriptorLength(a);
    return length == GetSecurityDescriptorLength(b) && memcmp(a, b, length) == 0;
}

// The remark and the user limit let no one in anywhere: the path, the type,
// the permissions and the descriptor decide who reaches which folder.
const char* ShareRecordDifference(const SHARE_INFO_502* remembered, const SHARE_INFO_502* found) {
    if (!SamePath(remembered->shi502_path, found->shi502_path)) return "another path";
    if (remembered->shi502_type != found->shi502_type) return "another type";
    if (remembered->shi502_permissions != found->shi502_permissions) return "other permissions";
    if (!SameDescriptor(remembered->shi502_security_descriptor, found->shi502_security_descriptor))
        return "another security descriptor";
    return nullptr;
}

int ExistingShareIsRemembered(const SHARE_INFO_502* remembered) {
    char why[96];
    int same = 0;
    HMODULE library = LoadShareLibrary(1);
    if (!library) {
        snprintf(why, sizeof(why), "it cannot be read, error %ld", (long)GetLastError());
    } else {
        // Both first: a record that could not be freed is not asked for.
        NetShareGetInfoNTFunction getInfo = BindFunction<NetShareGetInfoNTFunction>(library, "NetShareGetInfo");
        NetApiBufferFreeFunction bufferFree =
            getInfo ? BindFunction<NetApiBufferFreeFunction>(library, "NetApiBufferFree") : nullptr;
        if (!bufferFree) {
            snprintf(why, sizeof(why), "it cannot be read, there is no %s %ld",
                     getInfo ? "NetApiBufferFree" : "NetShareGetInfo", (long)GetLastError());
        } else {
            LPBYTE buffer = nullptr;
            NET_API_STATUS status = getInfo(nullptr, remembered->shi502_netname, 502, &buffer);
            if (status == NERR_Success && buffer) {
                const char* difference =
                    ShareRecordDifference(remembered, reinterpret_cast<const SHARE_INFO_502*>(buffer));
                if (difference) {
                    snprintf(why, sizeof(why), "%s", difference);
                } else {
                    same = 1;
                }
            } else {
                snprintf(why, sizeof(why), "it cannot be read, status %ld", (long)status);
            }
            if (buffer) bufferFree(buffer);
        }
        FreeLibrary(library);
    }
    if (!same) {
        char name[256];
        ShareNameToAnsi(remembered->shi502_netname, name, sizeof(name));
        TraceMsg(TraceModule, TraceAllTypes, TraceError,
                 "Share %s not back on the network: the share of that name is not the one removed (%s), "
                 "the share journal keeps it\n",
                 Escaped(name).text, why);
    }
    return same;
}
