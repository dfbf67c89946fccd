// Network shares of the simulated workstation, the way both families' share
// libraries hand them out: netapi32.dll (NT, level 502) allocates one buffer
// per NetShareEnum or NetShareGetInfo call holding the records and everything
// they point to, freed only by NetApiBufferFree, and pages with
// ERROR_MORE_DATA and a resume handle that counts shares; svrapi.dll
// (Windows 9x, level 50) fills the caller's buffer, records first and their
// texts from the end, and answers 234 when more shares exist than fit.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <stdexcept>

#include "platform/share_records.h"
#include "sim/workstation.h"

using sim::Current;

namespace {

const NET_API_STATUS kInvalidLevel = 124;
const NET_API_STATUS kInvalidParameter = ERROR_INVALID_PARAMETER;
const NET_API_STATUS kNameNotFound = 2310;
const DWORD kNetnameParm = 1;

template <typename Function>
FARPROC Export(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

std::string Narrow(const WCHAR* text) {
    std::string narrow;
    if (!text) return narrow;
    for (const WCHAR* at = text; *at; ++at) narrow += *at < 0x100 ? static_cast<char>(*at) : '?';
    return narrow;
}

size_t WideBytes(const std::string& text) { return (text.size() + 1) * sizeof(WCHAR); }

WCHAR* PutWide(BYTE*& at, const std::string& text) {
    WCHAR* out = reinterpret_cast<WCHAR*>(at);
    for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
    out[text.size()] = 0;
    at += WideBytes(text);
    return out;
}

size_t Align(size_t size) { return (size + 7) & ~static_cast<size_t>(7); }

// What one NT record takes beyond itself: its texts and descriptor.
size_t TextBytesNT(const sim::Share& share) {
    size_t bytes = WideBytes(share.name) + WideBytes(share.remark) + WideBytes(share.path);
    if (!share.password.empty()) bytes += WideBytes(share.password);
    return Align(bytes) + Align(share.securityDescriptor.size());
}

sim::Share* FindShare(sim::Workstation& ws, const std::string& name) {
    for (sim::Share& share : ws.shares) {
        if (sim::NoCaseEqual(share.name, name)) return &share;
    }
    return nullptr;
}

DWORD Refusal(const std::map<std::string, DWORD, sim::NoCaseLess>& refusals, const std::string& name) {
    auto it = refusals.find(name);
    return it == refusals.end() ? 0 : it->second;
}

// ---- netapi32.dll ----------------------------------------------------------

namespace netapi {

// One level-502 record, its texts and descriptor written from `at` on.
void FillRecord(const sim::Share& share, SHARE_INFO_502* record, BYTE*& at) {
    record->shi502_type = share.type;
    record->shi502_permissions = share.permissions;
    record->shi502_max_uses = share.maxUses;
    record->shi502_current_uses = share.currentUses;
    record->shi502_reserved = 0;
    BYTE* texts = at;
    record->shi502_netname = PutWide(at, share.name);
    record->shi502_remark = PutWide(at, share.remark);
    record->shi502_path = PutWide(at, share.path);
    record->shi502_passwd = share.password.empty() ? nullptr : PutWide(at, share.password);
    at = texts + Align(static_cast<size_t>(at - texts));
    record->shi502_security_descriptor = nullptr;
    if (!share.securityDescriptor.empty()) {
        memcpy(at, share.securityDescriptor.data(), share.securityDescriptor.size());
        record->shi502_security_descriptor = at;
        at += Align(share.securityDescriptor.size());
    }
}

NET_API_STATUS WINAPI NetShareEnum(LMSTR server, DWORD level, LPBYTE* buffer, DWORD preferredMaximum,
                                   LPDWORD entriesRead, LPDWORD totalEntries, LPDWORD resumeHandle) {
    SIM_FAILABLE_STATUS();
    sim::Workstation& ws = Current();
    if (!buffer || !entriesRead || !totalEntries || server) return kInvalidParameter;
    *buffer = nullptr;
    *entriesRead = 0;
    *totalEntries = 0;
    if (ws.shareEnumStatus) return ws.shareEnumStatus;
    if (level != 502) return kInvalidLevel;
    size_t first = resumeHandle ? *resumeHandle : 0;
    size_t remaining = first < ws.shares.size() ? ws.shares.size() - first : 0;
    // As many as the preferred length holds (at least one), and no more than
    // a page when the test pages the enumeration.
    size_t count = 0;
    size_t bytes = 0;
    while (count < remaining) {
        size_t more = sizeof(SHARE_INFO_502) + TextBytesNT(ws.shares[first + count]);
        if (count > 0 && preferredMaximum != MAX_PREFERRED_LENGTH && bytes + more > preferredMaximum)
            break;
        if (ws.sharePageSize && count == ws.sharePageSize) break;
        bytes += more;
        ++count;
    }
    *totalEntries = static_cast<DWORD>(remaining);
    if (count == 0) {
        if (resumeHandle) *resumeHandle = 0;
        return NERR_Success;
    }
    BYTE* block = static_cast<BYTE*>(malloc(Align(count * sizeof(SHARE_INFO_502)) + bytes));
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    SHARE_INFO_502* records = reinterpret_cast<SHARE_INFO_502*>(block);
    BYTE* at = block + Align(count * sizeof(SHARE_INFO_502));
    for (size_t i = 0; i < count; ++i) FillRecord(ws.shares[first + i], &records[i], at);
    ws.netBuffers.push_back(block);
    *buffer = block;
    *entriesRead = static_cast<DWORD>(count);
    bool more = count < remaining;
    if (resumeHandle) *resumeHandle = more ? static_cast<DWORD>(first + count) : 0;
    return more ? ERROR_MORE_DATA : NERR_Success;
}

// One share by its name, in a buffer of its own as NetShareEnum's: freed
// only by NetApiBufferFree.
NET_API_STATUS WINAPI NetShareGetInfo(LMSTR server, LMSTR name, DWORD level, LPBYTE* buffer) {
    SIM_FAILABLE_STATUS();
    sim::Workstation& ws = Current();
    if (server || !name || !buffer) return kInvalidParameter;
    *buffer = nullptr;
    if (level != 502) return kInvalidLevel;
    const sim::Share* share = FindShare(ws, Narrow(name));
    if (!share) return kNameNotFound;
    BYTE* block = static_cast<BYTE*>(malloc(Align(sizeof(SHARE_INFO_502)) + TextBytesNT(*share)));
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    BYTE* at = block + Align(sizeof(SHARE_INFO_502));
    FillRecord(*share, reinterpret_cast<SHARE_INFO_502*>(block), at);
    ws.netBuffers.push_back(block);
    *buffer = block;
    return NERR_Success;
}

NET_API_STATUS WINAPI NetShareDel(LMSTR server, LMSTR name, DWORD reserved) {
    SIM_FAILABLE_STATUS();
    sim::Workstation& ws = Current();
    if (server || !name || reserved) return kInvalidParameter;
    std::string narrow = Narrow(name);
    if (DWORD refused = Refusal(ws.shareDeleteRefusals, narrow)) return refused;
    sim::Share* share = FindShare(ws, narrow);
    if (!share) return kNameNotFound;
    ws.shares.erase(ws.shares.begin() + (share - ws.shares.data()));
    return NERR_Success;
}

NET_API_STATUS WINAPI NetShareAdd(LMSTR server, DWORD level, LPBYTE record, LPDWORD parameterError) {
    SIM_FAILABLE_STATUS();
    sim::Workstation& ws = Current();
    if (parameterError) *parameterError = 0xFFFFFFFF;
    if (server || !record) return kInvalidParameter;
    if (level != 502) return kInvalidLevel;
    const SHARE_INFO_502* info = reinterpret_cast<const SHARE_INFO_502*>(record);
    if (!info->shi502_netname || !info->shi502_netname[0]) {
        if (parameterError) *parameterError = kNetnameParm;
        return kInvalidParameter;
    }
    sim::Share share;
    share.name = Narrow(info->shi502_netname);
    if (FindShare(ws, share.name)) {
        if (parameterError) *parameterError = kNetnameParm;
        return ShareExistsStatus;
    }
    if (DWORD refused = Refusal(ws.shareAddRefusals, share.name)) return refused;
    share.type = info->shi502_type;
    share.remark = Narrow(info->shi502_remark);
    share.permissions = info->shi502_permissions;
    share.maxUses = info->shi502_max_uses;
    share.currentUses = info->shi502_current_uses;
    share.path = Narrow(info->shi502_path);
    share.password = Narrow(info->shi502_passwd);
    if (info->shi502_security_descriptor) {
        const BYTE* sd = static_cast<const BYTE*>(info->shi502_security_descriptor);
        share.securityDescriptor.assign(sd, sd + GetSecurityDescriptorLength(info->shi502_security_descriptor));
    }
    ws.shares.push_back(share);
    return NERR_Success;
}

NET_API_STATUS WINAPI NetApiBufferFree(LPVOID buffer) {
    SIM_FAILABLE_STATUS();
    sim::Workstation& ws = Current();
    auto it = std::find(ws.netBuffers.begin(), ws.netBuffers.end(), buffer);
    if (it == ws.netBuffers.end()) return kInvalidParameter;
    ws.netBuffers.erase(it);
    free(buffer);
    return NERR_Success;
}

}  // namespace netapi

// ---- svrapi.dll ------------------------------------------------------------

namespace svrapi {

void CopyField(char* field, size_t size, const std::string& text) {
    if (text.size() >= size) throw std::logic_error("share field too long for level 50: " + text);
    memset(field, 0, size);
    memcpy(field, text.c_str(), text.size());
}

unsigned WINAPI NetShareEnum(const char* server, short level, char* buffer, unsigned short bufferSize,
                             unsigned short* entriesRead, unsigned short* totalAvailable) {
    SIM_FAILABLE_STATUS();
    sim::Workstation& ws = Current();
    if (server || !entriesRead || !totalAvailable || (!buffer && bufferSize)) return kInvalidParameter;
    *entriesRead = 0;
    *totalAvailable = static_cast<unsigned short>(ws.shares.size());
    if (ws.shareEnumStatus) return ws.shareEnumStatus;
    if (level != 50) return kInvalidLevel;
    // Records from the front, their texts from the back, until they meet.
    size_t front = 0;
    size_t back = bufferSize;
    unsigned short count = 0;
    for (const sim::Share& share : ws.shares) {
        size_t texts = share.remark.size() + 1 + share.path.size() + 1;
        if (front + sizeof(share_info_50) + texts > back) break;
        share_info_50* record = reinterpret_cast<share_info_50*>(buffer + front);
        front += sizeof(share_info_50);
        CopyField(record->shi50_netname, sizeof(record->shi50_netname), share.name);
        record->shi50_type = static_cast<unsigned char>(share.type);
        record->shi50_flags = share.flags;
        back -= share.path.size() + 1;
        memcpy(buffer + back, share.path.c_str(), share.path.size() + 1);
        record->shi50_path = buffer + back;
        back -= share.remark.size() + 1;
        memcpy(buffer + back, share.remark.c_str(), share.remark.size() + 1);
        record->shi50_remark = buffer + back;
        CopyField(record->shi50_rw_password, sizeof(record->shi50_rw_password), share.password);
        CopyField(record->shi50_ro_password, sizeof(record->shi50_ro_password), share.readPassword);
        ++count;
    }
    *entriesRead = count;
    return count < ws.shares.size() ? ERROR_MORE_DATA : NERR_Success;
}

unsigned WINAPI NetShareDel(const char* server, const char* name, unsigned short reserved) {
    SIM_FAILABLE_STATUS();
    sim::Workstation& ws = Current();
    if (server || !name || reserved) return kInvalidParameter;
    if (DWORD refused = Refusal(ws.shareDeleteRefusals, name)) return refused;
    sim::Share* share = FindShare(ws, name);
    if (!share) return kNameNotFound;
    ws.shares.erase(ws.shares.begin() + (share - ws.shares.data()));
    return NERR_Success;
}

std::string Field(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

unsigned WINAPI NetShareAdd(const char* server, short level, const char* record,
                            unsigned short recordSize) {
    SIM_FAILABLE_STATUS();
    sim::Workstation& ws = Current();
    if (server || !record) return kInvalidParameter;
    if (level != 50) return kInvalidLevel;
    if (recordSize < sizeof(share_info_50)) return kInvalidParameter;
    const share_info_50* info = reinterpret_cast<const share_info_50*>(record);
    sim::Share share;
    share.name = Field(info->shi50_netname, sizeof(info->shi50_netname));
    if (share.name.empty()) return kInvalidParameter;
    if (FindShare(ws, share.name)) return ShareExistsStatus;
    if (DWORD refused = Refusal(ws.shareAddRefusals, share.name)) return refused;
    share.type = info->shi50_type;
    share.flags = info->shi50_flags;
    share.remark = info->shi50_remark ? info->shi50_remark : "";
    share.path = info->shi50_path ? info->shi50_path : "";
    share.password = Field(info->shi50_rw_password, sizeof(info->shi50_rw_password));
    share.readPassword = Field(info->shi50_ro_password, sizeof(info->shi50_ro_password));
    ws.shares.push_back(share);
    return NERR_Success;
}

}  // namespace svrapi

}  // namespace

namespace sim {

std::string Describe(const Share& share) {
    std::string text = "name=" + share.name + " type=" + std::to_string(share.type) +
                       " remark=" + share.remark + " permissions=" + std::to_string(share.permissions) +
                       " max_uses=" + std::to_string(share.maxUses) +
                       " current_uses=" + std::to_string(share.currentUses) + " path=" + share.path +
                       " password=" + share.password + " read_password=" + share.readPassword +
                       " flags=" + std::to_string(share.flags) + " sd=";
    static const char digits[] = "0123456789ABCDEF";
    for (uint8_t byte : share.securityDescriptor) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

void Workstation::AddShareModules() {
    Module& netapi = modules["NETAPI32.DLL"];
    netapi.name = "NETAPI32.DLL";
    // The share functions live in netapi32.dll on NT and in svrapi.dll on 9x.
    netapi.onlyOnPlatform = VER_PLATFORM_WIN32_NT;
    netapi.imports = {"SRVCLI.DLL"};
    netapi.functions["NetShareEnum"] = Export(&netapi::NetShareEnum);
    netapi.functions["NetShareDel"] = Export(&netapi::NetShareDel);
    netapi.functions["NetShareAdd"] = Export(&netapi::NetShareAdd);
    netapi.functions["NetShareGetInfo"] = Export(&netapi::NetShareGetInfo);
    netapi.functions["NetApiBufferFree"] = Export(&netapi::NetApiBufferFree);

    Module& svrapi = modules["SVRAPI.DLL"];
    svrapi.name = "SVRAPI.DLL";
    svrapi.onlyOnPlatform = VER_PLATFORM_WIN32_WINDOWS;
    svrapi.functions["NetShareEnum"] = Export(&svrapi::NetShareEnum);
    svrapi.functions["NetShareDel"] = Export(&svrapi::NetShareDel);
    svrapi.functions["NetShareAdd"] = Export(&svrapi::NetShareAdd);
}

Workstation& Workstation::AddShare(const Share& share) {
    shares.push_back(share);
    return *this;
}

Workstation& Workstation::RefuseShareDelete(const std::string& name, DWORD status) {
    shareDeleteRefusals[name] = status;
    return *this;
}

Workstation& Workstation::RefuseShareAdd(const std::string& name, DWORD status) {
    shareAddRefusals[name] = status;
    return *this;
}

std::vector<std::string> Workstation::ShareNames() const {
    std::vector<std::string> names;
    for (const Share& share : shares) names.push_back(share.name);
    return names;
}

void Workstation::ReleaseNetBuffer(void* buffer) {
    auto it = std::find(netBuffers.begin(), netBuffers.end(), buffer);
    if (it == netBuffers.end()) return;
    netBuffers.erase(it);
    free(buffer);
}

}  // namespace sim

// msvcrt's sprintf "%S" in the C locale: a unit below 256 is that byte; the
// model's names are 8-bit text widened, so they come back unchanged.
int ShareNameToAnsi(const WCHAR* name, char* text, size_t size) {
    if (size == 0) return 0;
    std::string narrow = name ? Narrow(name) : std::string("(null)");
    size_t length = std::min(narrow.size(), size - 1);
    memcpy(text, narrow.data(), length);
    text[length] = '\0';
    return static_cast<int>(length);
}
