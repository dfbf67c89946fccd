// Test-only svrapi.dll for the Wine scenarios: the share functions of the
// 9x family over the prefix's share store (share_store.h), because Wine's own
// svrapi functions are bare stubs. Never shipped.
#include <windows.h>

#include <string.h>

#include <string>

#include "share_info_50.h"
#include "share_store.h"

namespace {

HMODULE g_self = nullptr;

const unsigned kSuccess = 0;
const unsigned kInvalidParameter = ERROR_INVALID_PARAMETER;
const unsigned kInvalidLevel = ERROR_INVALID_LEVEL;
const unsigned kMoreData = ERROR_MORE_DATA;
const unsigned kInternalError = 2140;
const unsigned kDuplicateShare = 2118;
const unsigned kNetNameNotFound = 2310;

std::string Text(const char* text) { return text ? std::string(text) : std::string("(null)"); }
std::string Num(unsigned long n) { return std::to_string(n); }

// Copies TEXT into a fixed field, cut to fit, always ended by a zero.
void CopyField(char* field, size_t size, const std::string& text) {
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    memcpy(field, text.data(), n);
    field[n] = '\0';
}

std::string Field(const char* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n]) ++n;
    return std::string(field, n);
}

size_t TextBytes(const StoredShare& share) {
    return AnsiFromUtf8(share.remark.utf8).size() + 1 + AnsiFromUtf8(share.path.utf8).size() + 1;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// Fills the caller's buffer with as many level-50 records as fit, all records
// first and then the texts they point to; more shares than fit answer 234.
extern "C" unsigned __stdcall NetShareEnum(const char* server, short level, char* buffer, unsigned short size,
                                           unsigned short* entries_read, unsigned short* total_available) {
    std::string call = "NetShareEnum server=" + Text(server) + " level=" + Num((unsigned long)level) +
                       " size=" + Num(size);
    if (!entries_read || !total_available || (!buffer && size > 0)) {
        LogCall(g_self, call + " -> 87");
        return kInvalidParameter;
    }
    *entries_read = 0;
    *total_available = 0;
    if (level != 50) {
        LogCall(g_self, call + " -> 124");
        return kInvalidLevel;
    }
    StoreLock lock;
    ShareStore store;
    if (!OpenStore(lock, store)) {
        LogCall(g_self, call + " -> 2140 (store)");
        return kInternalError;
    }
    CloseStore(lock);
    if (const StoredSwitch* fail = FindSwitch(store, "fail-enum", "")) {
        LogCall(g_self, call + " -> " + Num(fail->value) + " (switch)");
        return fail->value;
    }

    size_t count = store.shares.size();
    size_t fit = 0, texts = 0;
    while (fit < count) {
        size_t more = TextBytes(store.shares[fit]);
        if ((fit + 1) * sizeof(share_info_50) + texts + more > size) break;
        texts += more;
        ++fit;
    }
    share_info_50* records = reinterpret_cast<share_info_50*>(buffer);
    char* text = buffer + fit * sizeof(share_info_50);
    for (size_t i = 0; i < fit; ++i) {
        const StoredShare& share = store.shares[i];
        share_info_50 record;
        memset(&record, 0, sizeof record);
        CopyField(record.shi50_netname, sizeof record.shi50_netname, AnsiFromUtf8(share.name));
        record.shi50_type = (unsigned char)share.type;
        record.shi50_flags = (unsigned short)share.flags;
        std::string remark = AnsiFromUtf8(share.remark.utf8), path = AnsiFromUtf8(share.path.utf8);
        record.shi50_remark = text;
        memcpy(text, remark.c_str(), remark.size() + 1);
        text += remark.size() + 1;
        record.shi50_path = text;
        memcpy(text, path.c_str(), path.size() + 1);
        text += path.size() + 1;
        CopyField(record.shi50_rw_password, sizeof record.shi50_rw_password, AnsiFromUtf8(share.rw_password.utf8));
        CopyField(record.shi50_ro_password, sizeof record.shi50_ro_password, AnsiFromUtf8(share.ro_password.utf8));
        memcpy(&records[i], &record, sizeof record);
    }
    *entries_read = (unsigned short)fit;
    *total_available = (unsigned short)count;
    unsigned status = fit < count ? kMoreData : kSuccess;
    LogCall(g_self, call + " -> " + Num(status) + " read=" + Num(fit) + " total=" + Num(count));
    return status;
}

extern "C" unsigned __stdcall NetShareDel(const char* server, const char* netname, unsigned short reserved) {
    std::string call = "NetShareDel server=" + Text(server) + " name=" + Text(netname) + " reserved=" + Num(reserved);
    if (!netname || !*netname) {
        LogCall(g_self, call + " -> 87");
        return kInvalidParameter;
    }
    std::string name = Utf8FromAnsi(netname);
    StoreLock lock;
    ShareStore store;
    if (!OpenStore(lock, store)) {
        LogCall(g_self, call + " -> 2140 (store)");
        return kInternalError;
    }
    unsigned status = kSuccess;
    int index = FindShare(store, name);
    if (index < 0) {
        status = kNetNameNotFound;
    } else if (const StoredSwitch* refuse = FindSwitch(store, "refuse-delete", name)) {
        status = refuse->value;
    } else {
        store.shares.erase(store.shares.begin() + index);
        if (!SaveStore(lock, store)) status = kInternalError;
    }
    CloseStore(lock);
    LogCall(g_self, call + " -> " + Num(status));
    return status;
}

extern "C" unsigned __stdcall NetShareAdd(const char* server, short level, const char* buffer, unsigned short size) {
    std::string call = "NetShareAdd server=" + Text(server) + " level=" + Num((unsigned long)level) +
                       " size=" + Num(size);
    auto answer = [&](unsigned status) {
        LogCall(g_self, call + " -> " + Num(status));
        return status;
    };
    if (level != 50) return answer(kInvalidLevel);
    if (!buffer || size < sizeof(share_info_50)) return answer(kInvalidParameter);
    share_info_50 record;
    memcpy(&record, buffer, sizeof record);
    std::string netname = Field(record.shi50_netname, sizeof record.shi50_netname);
    call += " name=" + netname;
    if (netname.empty()) return answer(kInvalidParameter);

    StoredShare share;
    share.name = Utf8FromAnsi(netname.c_str());
    share.type = record.shi50_type;
    share.flags = record.shi50_flags;
    share.remark = {record.shi50_remark != nullptr, Utf8FromAnsi(record.shi50_remark)};
    share.path = {record.shi50_path != nullptr, Utf8FromAnsi(record.shi50_path)};
    share.rw_password = {true, Utf8FromAnsi(Field(record.shi50_rw_password, sizeof record.shi50_rw_password).c_str())};
    share.ro_password = {true, Utf8FromAnsi(Field(record.shi50_ro_password, sizeof record.shi50_ro_password).c_str())};

    StoreLock lock;
    ShareStore store;
    if (!OpenStore(lock, store)) return answer(kInternalError);
    unsigned status = kSuccess;
    if (FindShare(store, share.name) >= 0) {
        status = kDuplicateShare;
    } else if (const StoredSwitch* refuse = FindSwitch(store, "refuse-add", share.name)) {
        status = refuse->value;
    } else {
        store.shares.push_back(share);
        if (!SaveStore(lock, store)) status = kInternalError;
    }
    CloseStore(lock);
    return answer(status);
}
