// Loadable modules of the simulated workstation: GetModuleHandleA,
// LoadLibraryA, GetProcAddress and FreeLibrary over ws.modules, with load
// counts, so that a test can take a DLL or a single function away.
#include "sim/workstation.h"

using sim::Current;

namespace {

// The handle of the program's own image, as GetModuleHandleA(NULL) gives it.
HMODULE const kProgramImage = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000));

// GetProcAddress hands out FARPROC; the cast through void(*)(void) is the
// one the compiler accepts between unrelated function types.
template <typename Function>
FARPROC Export(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

// "psapi", "PSAPI.DLL" and "C:\WINDOWS\system32\psapi.dll" all name one
// module: ".DLL" is added when there is no extension. `folder` gets the
// folder the name gives, without its last backslash ("" for a bare name).
std::string ModuleKey(const char* name, std::string* folder = nullptr) {
    std::string key(name);
    size_t cut = key.find_last_of("\\/");
    if (folder) *folder = cut == std::string::npos ? std::string() : key.substr(0, cut);
    if (cut != std::string::npos) key = key.substr(cut + 1);
    if (key.find('.') == std::string::npos) key += ".DLL";
    return key;
}

HMODULE HandleOf(sim::Module& module) { return reinterpret_cast<HMODULE>(&module); }

// A handle is the address of its module, a system one or one planted in the
// program's folder; one that was taken away is no handle.
sim::Module* ModuleOf(sim::Workstation& ws, HMODULE handle) {
    for (auto* table : {&ws.modules, &ws.plantedModules}) {
        for (auto& entry : *table) {
            if (HandleOf(entry.second) == handle) return &entry.second;
        }
    }
    return nullptr;
}

// The program's own folder, where Windows looks first for a bare name.
std::string ProgramFolder(const sim::Workstation& ws) {
    size_t cut = ws.modulePath.find_last_of('\\');
    return cut == std::string::npos ? std::string() : ws.modulePath.substr(0, cut);
}

// The module of that name in one folder: the system folder holds the
// system's libraries (those this family has), the program's folder those a
// test planted there.
sim::Module* InFolder(sim::Workstation& ws, const std::string& key, const std::string& folder) {
    if (sim::NoCaseEqual(folder, ws.SystemDirectory())) {
        auto it = ws.modules.find(key);
        if (it == ws.modules.end() || !it->second.loadable ||
            (it->second.onlyOnPlatform != 0 && it->second.onlyOnPlatform != ws.platformId)) {
            return nullptr;
        }
        return &it->second;
    }
    if (sim::NoCaseEqual(folder, ProgramFolder(ws))) {
        auto it = ws.plantedModules.find(key);
        return it == ws.plantedModules.end() ? nullptr : &it->second;
    }
    return nullptr;
}

// A bare name: the program's folder first, then the system folder, as
// Windows searches for a library that is not one of its known ones.
sim::Module* Search(sim::Workstation& ws, const std::string& key, const std::string& firstFolder) {
    sim::Module* found = InFolder(ws, key, firstFolder);
    return found ? found : InFolder(ws, key, ws.SystemDirectory());
}

// Every LoadLibrary: the module, and the libraries it imports, which are
// looked for first beside it when it was named by its full path with the
// altered search order, and in the program's folder otherwise. Each load
// runs the library's start-up code: `timesLoaded` counts them.
HMODULE Load(sim::Workstation& ws, const char* name, bool alteredSearch) {
    // On 64-bit Windows with the redirection off, the system folder holds
    // the 64-bit libraries, which a 32-bit program cannot load.
    if (ws.wow64 && !ws.fsRedirected) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    std::string folder;
    std::string key = ModuleKey(name, &folder);
    sim::Module* module = folder.empty() ? Search(ws, key, ProgramFolder(ws)) : InFolder(ws, key, folder);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::string importsFirst = alteredSearch && !folder.empty() ? folder : ProgramFolder(ws);
    for (const std::string& import : module->imports) {
        sim::Module* dependency = Search(ws, ModuleKey(import.c_str()), importsFirst);
        if (!dependency) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        ++dependency->loadCount;
        ++dependency->timesLoaded;
    }
    ++module->loadCount;
    ++module->timesLoaded;
    return HandleOf(*module);
}

// Functions that came with a later NT than the first ones the model knows:
// an older NT, and Windows 9x, have no such export.
bool InThisVersion(const sim::Workstation& ws, const std::string& function) {
    struct Since {
        const char* function;
        DWORD major;
        DWORD minor;
    };
    static const Since kSince[] = {
        {"QueryFullProcessImageNameW", 6, 0},
        {"GetProcessImageFileNameW", 5, 1},
    };
    for (const Since& since : kSince) {
        if (function != since.function) continue;
        if (ws.platformId != VER_PLATFORM_WIN32_NT) return false;
        return ws.majorVersion > since.major || (ws.majorVersion == since.major && ws.minorVersion >= since.minor);
    }
    return true;
}

std::string Narrow(const WCHAR* name) {
    std::string narrow;
    for (const WCHAR* at = name; *at; ++at) narrow += *at < 0x80 ? static_cast<char>(*at) : '?';
    return narrow;
}

}  // namespace

namespace sim {

void Workstation::AddSystemModules() {
    Module& kernel = modules["KERNEL32.DLL"];
    kernel.name = "KERNEL32.DLL";
    kernel.loadCount = 1;  // every process has it
    kernel.functions["CreateToolhelp32Snapshot"] = Export(&::CreateToolhelp32Snapshot);
    kernel.functions["Process32First"] = Export(&::Process32First);
    kernel.functions["Process32Next"] = Export(&::Process32Next);
    kernel.functions["CancelIo"] = Export(&::CancelIo);
    kernel.functions["IsWow64Process"] = Export(&::IsWow64Process);
    kernel.functions["Wow64DisableWow64FsRedirection"] = Export(&::Wow64DisableWow64FsRedirection);
    kernel.functions["Wow64RevertWow64FsRedirection"] = Export(&::Wow64RevertWow64FsRedirection);

    kernel.functions["GetVolumeNameForVolumeMountPointA"] = Export(&::GetVolumeNameForVolumeMountPointA);
    kernel.functions["GetVolumeNameForVolumeMountPointW"] = Export(&::GetVolumeNameForVolumeMountPointW);
    kernel.functions["QueryFullProcessImageNameW"] = Export(&::QueryFullProcessImageNameW);
    kernel.functions["QueryDosDeviceW"] = Export(&::QueryDosDeviceW);

    // One of the program's own imports: loaded with it.
    Module& advapi = modules["ADVAPI32.DLL"];
    advapi.name = "ADVAPI32.DLL";
    advapi.loadCount = 1;
    advapi.functions["CryptAcquireContextA"] = Export(&::CryptAcquireContextA);
    advapi.functions["CryptGenRandom"] = Export(&::CryptGenRandom);
    advapi.functions["CryptReleaseContext"] = Export(&::CryptReleaseContext);

    // In every NT process from its start, never loaded by name.
    Module& ntdll = modules["NTDLL.DLL"];
    ntdll.name = "NTDLL.DLL";
    ntdll.loadCount = 1;
    ntdll.onlyOnPlatform = VER_PLATFORM_WIN32_NT;
    ntdll.functions["NtSetInformationFile"] = Export(&::NtSetInformationFile);
    ntdll.functions["RtlNtStatusToDosError"] = Export(&::RtlNtStatusToDosError);

    Module& psapi = modules["PSAPI.DLL"];
    psapi.name = "PSAPI.DLL";
    psapi.functions["EnumProcesses"] = Export(&::EnumProcesses);
    psapi.functions["EnumProcessModules"] = Export(&::EnumProcessModules);
    psapi.functions["GetModuleFileNameExA"] = Export(&::GetModuleFileNameExA);
    psapi.functions["GetModuleFileNameExW"] = Export(&::GetModuleFileNameExW);
    psapi.functions["GetModuleBaseNameA"] = Export(&::GetModuleBaseNameA);
    psapi.functions["GetProcessImageFileNameW"] = Export(&::GetProcessImageFileNameW);

    Module& vdmdbg = modules["VDMDBG.DLL"];
    vdmdbg.name = "VDMDBG.DLL";
    vdmdbg.functions["VDMEnumTaskWOWEx"] = Export(&::VDMEnumTaskWOWEx);

    // Since Windows 7 netapi32.dll hands its share functions on to this one,
    // which is not one of the system's known libraries: Windows looks for it
    // by its bare name, as it looks for netapi32.dll's other imports.
    Module& srvcli = modules["SRVCLI.DLL"];
    srvcli.name = "SRVCLI.DLL";
}

std::string Workstation::SystemDirectory() const {
    if (!systemDirectory.empty()) return systemDirectory;
    return windowsDirectory + (platformId == VER_PLATFORM_WIN32_NT ? "\\system32" : "\\SYSTEM");
}

Workstation& Workstation::PlantModule(const std::string& name) {
    Module& planted = plantedModules[name];
    planted.name = name;
    return *this;
}

}  // namespace sim

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    SIM_FAILABLE(nullptr);
    sim::Workstation& ws = Current();
    if (!name) return kProgramImage;
    auto it = ws.modules.find(ModuleKey(name));
    if (it == ws.modules.end() || it->second.loadCount <= 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return HandleOf(it->second);
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    SIM_FAILABLE(nullptr);
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Load(Current(), name, false);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    SIM_FAILABLE(nullptr);
    sim::Workstation& ws = Current();
    sim::Module* found = ModuleOf(ws, module);
    if (!found || found->loadCount <= 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto it = name ? found->functions.find(std::string_view(name)) : found->functions.end();
    if (it == found->functions.end() || !it->second || !InThisVersion(ws, it->first)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return it->second;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    sim::Module* found = ModuleOf(ws, module);
    if (!found || found->loadCount <= 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --found->loadCount;
    return TRUE;
}

// Bare names through these search the program's folder first.
HMODULE WINAPI LoadLibraryW(const WCHAR* name) {
    SIM_FAILABLE(nullptr);
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Load(Current(), Narrow(name).c_str(), false);
}

HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
    SIM_FAILABLE(nullptr);
    if (!name || file) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Load(Current(), name, (flags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0);
}

HMODULE WINAPI LoadLibraryExW(const WCHAR* name, HANDLE file, DWORD flags) {
    SIM_FAILABLE(nullptr);
    if (!name || file) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Load(Current(), Narrow(name).c_str(), (flags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0);
}
