// Seeds, lists and exercises network shares through the share library, bound
// as a program run by an administrator must bind it: the file of that name in
// the system folder (GetSystemDirectory), loaded by its full path with
// LOAD_WITH_ALTERED_SEARCH_PATH, never a file of that name beside the
// program; netapi32.dll (wide) on the NT family, svrapi.dll on the 9x family,
// then GetProcAddress.
//   share_tool nt list                     every share at level 502, one line each
//   share_tool nt enum LEVEL PREFMAXLEN    each call of a paged enumeration
//   share_tool nt add NAME PATH REMARK [key=value...]   level 502 (level=2 for 2)
//   share_tool nt take NAME PATH REMARK [key=value...]  the same, once NAME is free (2118 is tried again)
//   share_tool nt del NAME
//   share_tool nt cycle [NAME...]          enumerate, delete, re-add from the records
//   share_tool 9x list | enum SIZE | add NAME PATH REMARK [key=value...] | del NAME | cycle [NAME...]
//   share_tool nt|9x which                 the file the library was loaded from
// Lines use the share store's text form (share_store.h): a text key that is
// missing is a null pointer, and %XX stands for spaces and other bytes.
#include <windows.h>
#include <lm.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "shares/share_info_50.h"
#include "shares/share_store.h"

namespace {

typedef NET_API_STATUS(WINAPI* NetShareEnumFn)(LMSTR, DWORD, LPBYTE*, DWORD, LPDWORD, LPDWORD, LPDWORD);
typedef NET_API_STATUS(WINAPI* NetShareDelFn)(LMSTR, LMSTR, DWORD);
typedef NET_API_STATUS(WINAPI* NetShareAddFn)(LMSTR, DWORD, LPBYTE, LPDWORD);
typedef NET_API_STATUS(WINAPI* NetApiBufferFreeFn)(LPVOID);
typedef unsigned(__stdcall* NetShareEnum9xFn)(const char*, short, char*, unsigned short, unsigned short*,
                                              unsigned short*);
typedef unsigned(__stdcall* NetShareDel9xFn)(const char*, const char*, unsigned short);
typedef unsigned(__stdcall* NetShareAdd9xFn)(const char*, short, const char*, unsigned short);

template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
    FARPROC proc = GetProcAddress(module, name);
    if (!proc) {
        fprintf(stderr, "%s is missing: error %lu\n", name, (unsigned long)GetLastError());
        exit(3);
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

// The system folder's file NAME, by full path; exits with 3 when it does not load.
HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    HMODULE module = nullptr;
    if (length > 0 && length + 1 + wcslen(name) < MAX_PATH) {
        path[length] = L'\\';
        wcscpy(path + length + 1, name);
        module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    if (!module) {
        fprintf(stderr, "%s does not load: error %lu\n", Utf8FromWide(name).c_str(),
                (unsigned long)GetLastError());
        exit(3);
    }
    return module;
}

void PrintModule(HMODULE module) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    printf("%s\n", n ? Utf8FromWide(path).c_str() : "?");
}

std::string Text(const char* key, const std::string& utf8) { return std::string(" ") + key + "=" + EscapeText(utf8); }
std::string Text(const char* key, LPCWSTR text) { return text ? Text(key, Utf8FromWide(text)) : std::string(); }
std::string Num(const char* key, unsigned long n) {
    char text[48];
    snprintf(text, sizeof text, " %s=%lu", key, n);
    return text;
}

// key=value arguments after the positional ones.
std::string Option(int argc, char** argv, int from, const char* key, const char* fallback, bool* given = nullptr) {
    size_t len = strlen(key);
    for (int i = from; i < argc; ++i)
        if (strncmp(argv[i], key, len) == 0 && argv[i][len] == '=') {
            if (given) *given = true;
            return argv[i] + len + 1;
        }
    if (given) *given = false;
    return fallback;
}
unsigned long NumOption(int argc, char** argv, int from, const char* key, unsigned long fallback) {
    bool given = false;
    std::string value = Option(argc, argv, from, key, "", &given);
    return given ? strtoul(value.c_str(), nullptr, 0) : fallback;
}

bool Named(const std::vector<std::string>& names, const std::string& name) {
    if (names.empty()) return true;
    for (const std::string& n : names)
        if (lstrcmpiA(n.c_str(), name.c_str()) == 0) return true;
    return false;
}

// ---- NT family ----

struct Nt {
    HMODULE module;
    NetShareEnumFn enumerate;
    NetShareDelFn del;
    NetShareAddFn add;
    NetApiBufferFreeFn free;
};

Nt LoadNt() {
    Nt nt;
    nt.module = LoadSystemLibrary(L"netapi32.dll");
    nt.enumerate = Bind<NetShareEnumFn>(nt.module, "NetShareEnum");
    nt.del = Bind<NetShareDelFn>(nt.module, "NetShareDel");
    nt.add = Bind<NetShareAddFn>(nt.module, "NetShareAdd");
    nt.free = Bind<NetApiBufferFreeFn>(nt.module, "NetApiBufferFree");
    return nt;
}

std::string Line502(const SHARE_INFO_502& info) {
    char type[24];
    snprintf(type, sizeof type, " type=0x%lx", (unsigned long)info.shi502_type);
    std::string line = "name=" + EscapeText(Utf8FromWide(info.shi502_netname)) + type;
    line += Text("remark", info.shi502_remark);
    line += Num("permissions", info.shi502_permissions) + Num("max_uses", info.shi502_max_uses) +
            Num("current_uses", info.shi502_current_uses);
    line += Text("path", info.shi502_path) + Text("passwd", info.shi502_passwd);
    line += Num("reserved", info.shi502_reserved);
    if (info.shi502_security_descriptor) {
        const unsigned char* sd = static_cast<const unsigned char*>(info.shi502_security_descriptor);
        DWORD length = GetSecurityDescriptorLength(info.shi502_security_descriptor);
        line += " sd=";
        for (DWORD i = 0; i < length; ++i) {
            char hex[3];
            snprintf(hex, sizeof hex, "%02x", sd[i]);
            line += hex;
        }
    }
    return line;
}

// The whole enumeration at level 502, page by page; the buffers are kept so
// that the records stay valid for the caller, who frees them.
NET_API_STATUS Enumerate502(const Nt& nt, DWORD prefmaxlen, std::vector<LPBYTE>& buffers,
                            std::vector<SHARE_INFO_502*>& records) {
    DWORD resume = 0;
    for (int call = 0; call < 1000; ++call) {
        LPBYTE buffer = nullptr;
        DWORD read = 0, total = 0;
        NET_API_STATUS status = nt.enumerate(nullptr, 502, &buffer, prefmaxlen, &read, &total, &resume);
        if (buffer) buffers.push_back(buffer);
        if (status != NERR_Success && status != ERROR_MORE_DATA) return status;
        for (DWORD i = 0; i < read; ++i) records.push_back(reinterpret_cast<SHARE_INFO_502*>(buffer) + i);
        if (status == NERR_Success) return status;
    }
    return ERROR_MORE_DATA;
}

int NtMain(int argc, char** argv) {
    std::string command = argv[2];
    Nt nt = LoadNt();
    if (command == "which") {
        PrintModule(nt.module);
        return 0;
    }
    if (command == "list") {
        std::vector<LPBYTE> buffers;
        std::vector<SHARE_INFO_502*> records;
        NET_API_STATUS status = Enumerate502(nt, argc > 3 ? strtoul(argv[3], nullptr, 0) : MAX_PREFERRED_LENGTH,
                                             buffers, records);
        for (SHARE_INFO_502* info : records) printf("%s\n", Line502(*info).c_str());
        for (LPBYTE buffer : buffers) nt.free(buffer);
        if (status != NERR_Success) printf("NetShareEnum -> %lu\n", (unsigned long)status);
        return status == NERR_Success ? 0 : 1;
    }
    if (command == "enum" && argc > 4) {
        DWORD level = strtoul(argv[3], nullptr, 0), prefmaxlen = strtoul(argv[4], nullptr, 0), resume = 0;
        NET_API_STATUS status = ERROR_MORE_DATA;
        for (int call = 0; call < 100 && status == ERROR_MORE_DATA; ++call) {
            LPBYTE buffer = nullptr;
            DWORD read = 0, total = 0;
            status = nt.enumerate(nullptr, level, &buffer, prefmaxlen, &read, &total, &resume);
            printf("call rc=%lu read=%lu total=%lu resume=%lu\n", (unsigned long)status, (unsigned long)read,
                   (unsigned long)total, (unsigned long)resume);
            for (DWORD i = 0; buffer && i < read; ++i) {
                // Every level starts with the share's name.
                LPWSTR name = 0;
                if (level == 0) name = reinterpret_cast<SHARE_INFO_0*>(buffer)[i].shi0_netname;
                else if (level == 1) name = reinterpret_cast<SHARE_INFO_1*>(buffer)[i].shi1_netname;
                else if (level == 2) name = reinterpret_cast<SHARE_INFO_2*>(buffer)[i].shi2_netname;
                else name = reinterpret_cast<SHARE_INFO_502*>(buffer)[i].shi502_netname;
                printf("  %s\n", EscapeText(Utf8FromWide(name)).c_str());
            }
            if (level == 2)
                for (DWORD i = 0; buffer && i < read; ++i) {
                    const SHARE_INFO_2& info = reinterpret_cast<SHARE_INFO_2*>(buffer)[i];
                    printf("  2: %s\n", Line502(SHARE_INFO_502{info.shi2_netname, info.shi2_type, info.shi2_remark,
                                                               info.shi2_permissions, info.shi2_max_uses,
                                                               info.shi2_current_uses, info.shi2_path,
                                                               info.shi2_passwd, 0, nullptr})
                                            .c_str());
                }
            if (buffer) nt.free(buffer);
        }
        return status == NERR_Success ? 0 : 1;
    }
    if (command == "del" && argc > 3) {
        std::wstring name = WideFromUtf8(argv[3]);
        NET_API_STATUS status = nt.del(nullptr, &name[0], 0);
        printf("NetShareDel %s -> %lu\n", argv[3], (unsigned long)status);
        return status == NERR_Success ? 0 : 1;
    }
    if ((command == "add" || command == "take") && argc > 5) {
        std::wstring name = WideFromUtf8(argv[3]), path = WideFromUtf8(argv[4]), remark = WideFromUtf8(argv[5]);
        bool has_passwd = false;
        std::wstring passwd = WideFromUtf8(Option(argc, argv, 6, "passwd", "", &has_passwd));
        std::string sd_hex = Option(argc, argv, 6, "sd", "");
        std::vector<unsigned char> sd;
        for (size_t i = 0; i + 1 < sd_hex.size(); i += 2) sd.push_back((unsigned char)strtoul(sd_hex.substr(i, 2).c_str(), nullptr, 16));
        SHARE_INFO_502 info = {};
        info.shi502_netname = &name[0];
        info.shi502_type = NumOption(argc, argv, 6, "type", STYPE_DISKTREE);
        info.shi502_remark = &remark[0];
        info.shi502_permissions = NumOption(argc, argv, 6, "permissions", 0);
        info.shi502_max_uses = NumOption(argc, argv, 6, "max_uses", SHI_USES_UNLIMITED);
        info.shi502_current_uses = NumOption(argc, argv, 6, "current_uses", 0);
        info.shi502_path = &path[0];
        info.shi502_passwd = has_passwd ? &passwd[0] : nullptr;
        info.shi502_reserved = NumOption(argc, argv, 6, "reserved", 0);
        info.shi502_security_descriptor = sd.empty() ? nullptr : sd.data();
        DWORD level = NumOption(argc, argv, 6, "level", 502), parm_err = 0xFFFFFFFFul;
        NET_API_STATUS status = nt.add(nullptr, level, reinterpret_cast<LPBYTE>(&info), &parm_err);
        // take: someone else who waits for the name to be free, and makes a
        // share of it the moment it is (tried every 50 ms for two minutes).
        for (int tries = 0; command == "take" && status == 2118 && tries < 2400; ++tries) {
            Sleep(50);
            parm_err = 0xFFFFFFFFul;
            status = nt.add(nullptr, level, reinterpret_cast<LPBYTE>(&info), &parm_err);
        }
        printf("NetShareAdd %s -> %lu parm_err=%lu\n", argv[3], (unsigned long)status, (unsigned long)parm_err);
        return status == NERR_Success ? 0 : 1;
    }
    if (command == "cycle") {
        // What the tool does around its cleaning: take the shares off the
        // network, then put each one back from the record it enumerated.
        std::vector<std::string> names(argv + 3, argv + argc);
        std::vector<LPBYTE> buffers;
        std::vector<SHARE_INFO_502*> records;
        NET_API_STATUS status = Enumerate502(nt, MAX_PREFERRED_LENGTH, buffers, records);
        printf("NetShareEnum -> %lu\n", (unsigned long)status);
        std::vector<SHARE_INFO_502*> deleted;
        int failures = status == NERR_Success ? 0 : 1;
        for (SHARE_INFO_502* info : records) {
            std::string name = Utf8FromWide(info->shi502_netname);
            if (!Named(names, name)) continue;
            NET_API_STATUS del = nt.del(nullptr, info->shi502_netname, 0);
            printf("del %s -> %lu\n", EscapeText(name).c_str(), (unsigned long)del);
            if (del == NERR_Success) deleted.push_back(info); else ++failures;
        }
        for (SHARE_INFO_502* info : deleted) {
            DWORD parm_err = 0;
            NET_API_STATUS add = nt.add(nullptr, 502, reinterpret_cast<LPBYTE>(info), &parm_err);
            printf("add %s -> %lu\n", EscapeText(Utf8FromWide(info->shi502_netname)).c_str(), (unsigned long)add);
            if (add != NERR_Success) ++failures;
        }
        for (LPBYTE buffer : buffers) nt.free(buffer);
        return failures == 0 ? 0 : 1;
    }
    fprintf(stderr, "unknown or incomplete command: nt %s\n", command.c_str());
    return 2;
}

// ---- 9x family ----

struct Nine {
    HMODULE module;
    NetShareEnum9xFn enumerate;
    NetShareDel9xFn del;
    NetShareAdd9xFn add;
};

Nine LoadNine() {
    Nine nine;
    nine.module = LoadSystemLibrary(L"svrapi.dll");
    nine.enumerate = Bind<NetShareEnum9xFn>(nine.module, "NetShareEnum");
    nine.del = Bind<NetShareDel9xFn>(nine.module, "NetShareDel");
    nine.add = Bind<NetShareAdd9xFn>(nine.module, "NetShareAdd");
    return nine;
}

std::string Field(const char* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n]) ++n;
    return Utf8FromAnsi(std::string(field, n).c_str());
}

std::string Line50(const share_info_50& info) {
    std::string line = "name=" + EscapeText(Field(info.shi50_netname, sizeof info.shi50_netname));
    line += Num("type", info.shi50_type) + Num("flags", info.shi50_flags);
    line += info.shi50_remark ? Text("remark", Utf8FromAnsi(info.shi50_remark)) : std::string();
    line += info.shi50_path ? Text("path", Utf8FromAnsi(info.shi50_path)) : std::string();
    line += Text("rw_password", Field(info.shi50_rw_password, sizeof info.shi50_rw_password));
    line += Text("ro_password", Field(info.shi50_ro_password, sizeof info.shi50_ro_password));
    return line;
}

int NineMain(int argc, char** argv) {
    std::string command = argv[2];
    Nine nine = LoadNine();
    static char buffer[65535];
    if (command == "which") {
        PrintModule(nine.module);
        return 0;
    }
    if (command == "list" || (command == "enum" && argc > 3)) {
        unsigned short size = command == "enum" ? (unsigned short)strtoul(argv[3], nullptr, 0) : sizeof buffer;
        unsigned short read = 0, total = 0;
        unsigned status = nine.enumerate(nullptr, 50, buffer, size, &read, &total);
        if (command == "enum") printf("call rc=%u read=%u total=%u\n", status, read, total);
        const share_info_50* records = reinterpret_cast<const share_info_50*>(buffer);
        for (unsigned i = 0; i < read; ++i) printf("%s\n", Line50(records[i]).c_str());
        if (command == "list" && status != 0) printf("NetShareEnum -> %u\n", status);
        return status == 0 ? 0 : 1;
    }
    if (command == "del" && argc > 3) {
        unsigned status = nine.del(nullptr, argv[3], 0);
        printf("NetShareDel %s -> %u\n", argv[3], status);
        return status == 0 ? 0 : 1;
    }
    if (command == "add" && argc > 5) {
        share_info_50 info;
        memset(&info, 0, sizeof info);
        lstrcpynA(info.shi50_netname, argv[3], sizeof info.shi50_netname);
        info.shi50_type = (unsigned char)NumOption(argc, argv, 6, "type", 0);
        info.shi50_flags = (unsigned short)NumOption(argc, argv, 6, "flags", 0);
        info.shi50_path = argv[4];
        info.shi50_remark = argv[5];
        lstrcpynA(info.shi50_rw_password, Option(argc, argv, 6, "rw_password", "").c_str(), sizeof info.shi50_rw_password);
        lstrcpynA(info.shi50_ro_password, Option(argc, argv, 6, "ro_password", "").c_str(), sizeof info.shi50_ro_password);
        unsigned short size = (unsigned short)NumOption(argc, argv, 6, "size", sizeof info);
        unsigned status = nine.add(nullptr, 50, reinterpret_cast<const char*>(&info), size);
        printf("NetShareAdd %s -> %u\n", argv[3], status);
        return status == 0 ? 0 : 1;
    }
    if (command == "cycle") {
        std::vector<std::string> names(argv + 3, argv + argc);
        unsigned short read = 0, total = 0;
        unsigned status = nine.enumerate(nullptr, 50, buffer, sizeof buffer, &read, &total);
        printf("NetShareEnum -> %u\n", status);
        int failures = status == 0 ? 0 : 1;
        share_info_50* records = reinterpret_cast<share_info_50*>(buffer);
        std::vector<share_info_50*> deleted;
        for (unsigned i = 0; i < read; ++i) {
            std::string name = Field(records[i].shi50_netname, sizeof records[i].shi50_netname);
            if (!Named(names, name)) continue;
            unsigned del = nine.del(nullptr, records[i].shi50_netname, 0);
            printf("del %s -> %u\n", EscapeText(name).c_str(), del);
            if (del == 0) deleted.push_back(&records[i]); else ++failures;
        }
        for (share_info_50* info : deleted) {
            unsigned add = nine.add(nullptr, 50, reinterpret_cast<const char*>(info), sizeof *info);
            printf("add %s -> %u\n", EscapeText(Field(info->shi50_netname, sizeof info->shi50_netname)).c_str(), add);
            if (add != 0) ++failures;
        }
        return failures == 0 ? 0 : 1;
    }
    fprintf(stderr, "unknown or incomplete command: 9x %s\n", command.c_str());
    return 2;
}

int Command(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: share_tool.exe nt|9x list|enum|add|take|del|cycle|which ...\n"
                        "       share_tool.exe serve\n");
        return 2;
    }
    std::string family = argv[1];
    if (family == "nt") return NtMain(argc, argv);
    if (family == "9x") return NineMain(argc, argv);
    fprintf(stderr, "unknown family %s\n", argv[1]);
    return 2;
}

// serve: many commands in one process, read from standard input, each as its
// arguments one a line, ended by an empty line; after a command's output
// comes a line of byte 1 and "rc=" with what it would have exited with.
// Where 32-bit Wine runs through qemu-user each process start takes seconds;
// the stand-in DLLs read the store afresh at every call, so what a scenario
// changes in the store between two commands is seen as by a new process.
int Serve(char* program) {
    std::vector<std::string> words;
    char line[4096];
    while (fgets(line, sizeof line, stdin)) {
        size_t n = strlen(line);
        while (n && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
        if (n) {
            words.push_back(line);
            continue;
        }
        std::vector<char*> args{program};
        for (std::string& word : words) args.push_back(&word[0]);
        args.push_back(nullptr);
        int rc = Command(static_cast<int>(args.size()) - 1, args.data());
        printf("\001rc=%d\n", rc);
        fflush(stdout);
        words.clear();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "serve") == 0) return Serve(argv[0]);
    return Command(argc, argv);
}
