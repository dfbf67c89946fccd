// Test-only netapi32.dll for the Wine scenarios: the share functions of the
// NT family over the prefix's share store (share_store.h), because Wine's own
// netapi32 answers "not supported" to share enumeration. Never shipped.
#include <windows.h>
#include <lm.h>

#include <string.h>

#include <string>
#include <vector>

#include "share_store.h"

namespace {

HMODULE g_self = nullptr;

size_t Align(size_t n, size_t to) { return (n + to - 1) / to * to; }

size_t RecordSize(DWORD level) {
    switch (level) {
        case 0: return sizeof(SHARE_INFO_0);
        case 1: return sizeof(SHARE_INFO_1);
        case 2: return sizeof(SHARE_INFO_2);
        case 502: return sizeof(SHARE_INFO_502);
    }
    return 0;
}

size_t TextBytes(const StoredText& text) {
    return text.present ? (WideFromUtf8(text.utf8).size() + 1) * sizeof(WCHAR) : 0;
}

// What one share adds to the buffer at LEVEL: its record, its security
// descriptor (kept on an 8-byte boundary) and its texts.
size_t EntryBytes(const StoredShare& share, DWORD level) {
    size_t bytes = RecordSize(level) + (WideFromUtf8(share.name).size() + 1) * sizeof(WCHAR);
    if (level >= 1) bytes += TextBytes(share.remark);
    if (level >= 2) bytes += TextBytes(share.path) + TextBytes(share.passwd);
    if (level == 502 && share.has_sd) bytes += Align(share.sd.size(), 8);
    return bytes;
}

// Hands out texts and descriptors from the end of the buffer, the way the
// records point into one block that NetApiBufferFree releases whole.
struct Packer {
    BYTE* low;   // end of the records and descriptors so far
    BYTE* high;  // start of the texts so far
    LPWSTR Text(const std::string& utf8) {
        std::wstring wide = WideFromUtf8(utf8);
        high -= (wide.size() + 1) * sizeof(WCHAR);
        memcpy(high, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
        return reinterpret_cast<LPWSTR>(high);
    }
    LPWSTR Text(const StoredText& text) { return text.present ? Text(text.utf8) : nullptr; }
    PSECURITY_DESCRIPTOR Descriptor(const std::vector<unsigned char>& sd) {
        BYTE* at = low;
        memcpy(at, sd.data(), sd.size());
        low += Align(sd.size(), 8);
        return at;
    }
};

void Fill(BYTE* record, const StoredShare& share, DWORD level, Packer& pack) {
    switch (level) {
        case 0: {
            auto* info = reinterpret_cast<SHARE_INFO_0*>(record);
            info->shi0_netname = pack.Text(share.name);
            break;
        }
        case 1: {
            auto* info = reinterpret_cast<SHARE_INFO_1*>(record);
            info->shi1_netname = pack.Text(share.name);
            info->shi1_type = share.type;
            info->shi1_remark = pack.Text(share.remark);
            break;
        }
        case 2:
        case 502: {
            // SHARE_INFO_502 starts with the fields of SHARE_INFO_2, in the same places.
            auto* info = reinterpret_cast<SHARE_INFO_502*>(record);
            info->shi502_netname = pack.Text(share.name);
            info->shi502_type = share.type;
            info->shi502_remark = pack.Text(share.remark);
            info->shi502_permissions = share.permissions;
            info->shi502_max_uses = share.max_uses;
            info->shi502_current_uses = share.current_uses;
            info->shi502_path = pack.Text(share.path);
            info->shi502_passwd = pack.Text(share.passwd);
            if (level == 502) {
                info->shi502_reserved = share.reserved;
                info->shi502_security_descriptor = share.has_sd ? pack.Descriptor(share.sd) : nullptr;
            }
            break;
        }
    }
}

std::string Text(LPCWSTR text) { return text ? Utf8FromWide(text) : std::string("(null)"); }

std::string Num(unsigned long n) { return std::to_string(n); }

}  // namespace

static_assert(sizeof(void*) != 4 || sizeof(SHARE_INFO_502) == 40, "SHARE_INFO_502 is 40 bytes in 32-bit");

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" NET_API_STATUS WINAPI NetApiBufferAllocate(DWORD bytes, LPVOID* buffer) {
    if (!buffer) return ERROR_INVALID_PARAMETER;
    *buffer = HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
    return *buffer ? NERR_Success : ERROR_NOT_ENOUGH_MEMORY;
}

extern "C" NET_API_STATUS WINAPI NetApiBufferFree(LPVOID buffer) {
    LogCall(g_self, std::string("NetApiBufferFree ") + (buffer ? "buffer" : "null") + " -> 0");
    if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
    return NERR_Success;
}

extern "C" NET_API_STATUS WINAPI NetShareEnum(LMSTR servername, DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                              LPDWORD entriesread, LPDWORD totalentries,
                                              LPDWORD resume_handle) {
    std::string call = "NetShareEnum server=" + Text(servername) + " level=" + Num(level) +
                       " prefmaxlen=" + Num(prefmaxlen) +
                       " resume=" + (resume_handle ? Num(*resume_handle) : std::string("(null)"));
    if (!bufptr || !entriesread || !totalentries) {
        LogCall(g_self, call + " -> 87");
        return ERROR_INVALID_PARAMETER;
    }
    *bufptr = nullptr;
    *entriesread = 0;
    *totalentries = 0;
    if (RecordSize(level) == 0) {
        LogCall(g_self, call + " -> 124");
        return ERROR_INVALID_LEVEL;
    }
    StoreLock lock;
    ShareStore store;
    if (!OpenStore(lock, store)) {
        LogCall(g_self, call + " -> 2140 (store)");
        return NERR_InternalError;
    }
    CloseStore(lock);
    if (const StoredSwitch* fail = FindSwitch(store, "fail-enum", "")) {
        LogCall(g_self, call + " -> " + Num(fail->value) + " (switch)");
        return fail->value;
    }

    size_t first = resume_handle ? *resume_handle : 0;
    size_t count = store.shares.size();
    if (first > count) first = count;
    // At least one share a call whatever the preferred length, so that a
    // caller that pages always gets on; the page switch caps the number.
    size_t limit = count - first;
    if (const StoredSwitch* page = FindSwitch(store, "page", ""))
        if (page->value > 0 && page->value < limit) limit = page->value;
    size_t taken = 0, bytes = 0;
    while (taken < limit) {
        size_t more = EntryBytes(store.shares[first + taken], level);
        if (taken > 0 && prefmaxlen != MAX_PREFERRED_LENGTH && bytes + more > prefmaxlen) break;
        bytes += more;
        ++taken;
    }

    NET_API_STATUS status = (first + taken < count) ? ERROR_MORE_DATA : NERR_Success;
    if (taken > 0) {
        BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
        if (!buffer) {
            LogCall(g_self, call + " -> 8");
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        Packer pack{buffer + RecordSize(level) * taken, buffer + bytes};
        for (size_t i = 0; i < taken; ++i)
            Fill(buffer + RecordSize(level) * i, store.shares[first + i], level, pack);
        *bufptr = buffer;
    }
    *entriesread = (DWORD)taken;
    *totalentries = (DWORD)(count - first);
    // The handle says where the next call goes on; after the last page it
    // starts over.
    if (resume_handle) *resume_handle = status == ERROR_MORE_DATA ? (DWORD)(first + taken) : 0;
    LogCall(g_self, call + " -> " + Num(status) + " read=" + Num(taken) + " total=" + Num(count - first) +
                        " next=" + (resume_handle ? Num(*resume_handle) : std::string("(null)")));
    return status;
}

// One share by its name, in one block as NetShareEnum's, which
// NetApiBufferFree releases.
extern "C" NET_API_STATUS WINAPI NetShareGetInfo(LMSTR servername, LMSTR netname, DWORD level, LPBYTE* bufptr) {
    std::string call = "NetShareGetInfo server=" + Text(servername) + " name=" + Text(netname) +
                       " level=" + Num(level);
    if (!bufptr || !netname || !*netname) {
        LogCall(g_self, call + " -> 87");
        return ERROR_INVALID_PARAMETER;
    }
    *bufptr = nullptr;
    if (RecordSize(level) == 0) {
        LogCall(g_self, call + " -> 124");
        return ERROR_INVALID_LEVEL;
    }
    StoreLock lock;
    ShareStore store;
    if (!OpenStore(lock, store)) {
        LogCall(g_self, call + " -> 2140 (store)");
        return NERR_InternalError;
    }
    CloseStore(lock);
    int index = FindShare(store, Utf8FromWide(netname));
    if (index < 0) {
        LogCall(g_self, call + " -> " + Num(NERR_NetNameNotFound));
        return NERR_NetNameNotFound;
    }
    const StoredShare& share = store.shares[index];
    size_t bytes = EntryBytes(share, level);
    BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes));
    if (!buffer) {
        LogCall(g_self, call + " -> 8");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    Packer pack{buffer + RecordSize(level), buffer + bytes};
    Fill(buffer, share, level, pack);
    *bufptr = buffer;
    LogCall(g_self, call + " -> 0");
    return NERR_Success;
}

extern "C" NET_API_STATUS WINAPI NetShareDel(LMSTR servername, LMSTR netname, DWORD reserved) {
    std::string call = "NetShareDel server=" + Text(servername) + " name=" + Text(netname) +
                       " reserved=" + Num(reserved);
    if (!netname || !*netname) {
        LogCall(g_self, call + " -> 87");
        return ERROR_INVALID_PARAMETER;
    }
    std::string name = Utf8FromWide(netname);
    StoreLock lock;
    ShareStore store;
    if (!OpenStore(lock, store)) {
        LogCall(g_self, call + " -> 2140 (store)");
        return NERR_InternalError;
    }
    NET_API_STATUS status = NERR_Success;
    int index = FindShare(store, name);
    if (index < 0) {
        status = NERR_NetNameNotFound;
    } else if (const StoredSwitch* refuse = FindSwitch(store, "refuse-delete", name)) {
        status = refuse->value;
    } else {
        store.shares.erase(store.shares.begin() + index);
        if (!SaveStore(lock, store)) status = NERR_InternalError;
    }
    CloseStore(lock);
    LogCall(g_self, call + " -> " + Num(status));
    return status;
}

extern "C" NET_API_STATUS WINAPI NetShareAdd(LMSTR servername, DWORD level, LPBYTE buf, LPDWORD parm_err) {
    std::string call = "NetShareAdd server=" + Text(servername) + " level=" + Num(level);
    auto answer = [&](NET_API_STATUS status, DWORD parm) {
        if (parm_err && parm) *parm_err = parm;
        LogCall(g_self, call + " -> " + Num(status) + (parm ? " parm_err=" + Num(parm) : std::string()));
        return status;
    };
    if (level != 2 && level != 502) return answer(ERROR_INVALID_LEVEL, 0);
    if (!buf) return answer(ERROR_INVALID_PARAMETER, 0);
    // SHARE_INFO_502 starts with the fields of SHARE_INFO_2.
    const SHARE_INFO_502* info = reinterpret_cast<const SHARE_INFO_502*>(buf);
    call += " name=" + Text(info->shi502_netname);
    if (!info->shi502_netname || !*info->shi502_netname) return answer(ERROR_INVALID_PARAMETER, SHARE_NETNAME_PARMNUM);

    StoredShare share;
    share.name = Utf8FromWide(info->shi502_netname);
    share.type = info->shi502_type;
    share.remark = {info->shi502_remark != nullptr, Utf8FromWide(info->shi502_remark)};
    share.permissions = info->shi502_permissions;
    share.max_uses = info->shi502_max_uses;
    share.current_uses = info->shi502_current_uses;
    share.path = {info->shi502_path != nullptr, Utf8FromWide(info->shi502_path)};
    share.passwd = {info->shi502_passwd != nullptr, Utf8FromWide(info->shi502_passwd)};
    if (level == 502) {
        share.reserved = info->shi502_reserved;
        PSECURITY_DESCRIPTOR sd = info->shi502_security_descriptor;
        if (sd) {
            SECURITY_DESCRIPTOR_CONTROL control = 0;
            DWORD revision = 0;
            if (!IsValidSecurityDescriptor(sd) || !GetSecurityDescriptorControl(sd, &control, &revision))
                return answer(ERROR_INVALID_PARAMETER, SHARE_FILE_SD_PARMNUM);
            // The store keeps the bytes as given; an absolute descriptor has
            // no bytes of its own, so it is made self-relative first.
            std::vector<unsigned char> bytes;
            if (control & SE_SELF_RELATIVE) {
                DWORD length = GetSecurityDescriptorLength(sd);
                const unsigned char* from = static_cast<const unsigned char*>(sd);
                bytes.assign(from, from + length);
            } else {
                DWORD length = 0;
                MakeSelfRelativeSD(sd, nullptr, &length);
                bytes.resize(length);
                if (length == 0 || !MakeSelfRelativeSD(sd, bytes.data(), &length))
                    return answer(ERROR_INVALID_PARAMETER, SHARE_FILE_SD_PARMNUM);
            }
            share.has_sd = true;
            share.sd = bytes;
        }
    }

    StoreLock lock;
    ShareStore store;
    if (!OpenStore(lock, store)) return answer(NERR_InternalError, 0);
    NET_API_STATUS status = NERR_Success;
    DWORD parm = 0;
    if (FindShare(store, share.name) >= 0) {
        status = NERR_DuplicateShare;
        parm = SHARE_NETNAME_PARMNUM;
    } else if (const StoredSwitch* refuse = FindSwitch(store, "refuse-add", share.name)) {
        status = refuse->value;
    } else {
        store.shares.push_back(share);
        if (!SaveStore(lock, store)) status = NERR_InternalError;
    }
    CloseStore(lock);
    return status == NERR_Success ? answer(NERR_Success, 0) : answer(status, parm);
}
