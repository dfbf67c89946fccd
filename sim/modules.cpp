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
// module: the folder is dropped and ".DLL" added when there is no extension.
std::string ModuleKey(const char* name) {
    std::string key(name);
    size_t cut = key.find_last_of("\\/");
    if (cut != std::string::npos) key = key.substr(cut + 1);
    if (key.find('.') == std::string::npos) key += ".DLL";
    return key;
}

HMODULE HandleOf(sim::Module& module) { return reinterpret_cast<HMODULE>(&module); }

// A handle is the address of its module; one that was taken away is no handle.
sim::Module* ModuleOf(sim::Workstation& ws, HMODULE handle) {
    for (auto& entry : ws.modules) {
        if (HandleOf(entry.second) == handle) return &entry.second;
    }
    return nullptr;
}

// LoadLibraryA and LoadLibraryW alike: a library that this family has.
HMODULE Load(sim::Workstation& ws, const char* name) {
    // On 64-bit Windows with the redirection off, the system folder holds
    // the 64-bit libraries, which a 32-bit program cannot load.
    if (ws.wow64 && !ws.fsRedirected) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    auto it = ws.modules.find(ModuleKey(name));
    if (it == ws.modules.end() || !it->second.loadable ||
        (it->second.onlyOnPlatform != 0 && it->second.onlyOnPlatform != ws.platformId)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++it->second.loadCount;
    return HandleOf(it->second);
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

    Module& psapi = modules["PSAPI.DLL"];
    psapi.name = "PSAPI.DLL";
    psapi.functions["EnumProcesses"] = Export(&::EnumProcesses);
    psapi.functions["EnumProcessModules"] = Export(&::EnumProcessModules);
    psapi.functions["GetModuleFileNameExA"] = Export(&::GetModuleFileNameExA);
    psapi.functions["GetModuleBaseNameA"] = Export(&::GetModuleBaseNameA);

    Module& vdmdbg = modules["VDMDBG.DLL"];
    vdmdbg.name = "VDMDBG.DLL";
    vdmdbg.functions["VDMEnumTaskWOWEx"] = Export(&::VDMEnumTaskWOWEx);
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
    return Load(Current(), name);
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
    if (it == found->functions.end() || !it->second) {
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

// The NT family loads its network library by the wide name.
HMODULE WINAPI LoadLibraryW(const WCHAR* name) {
    SIM_FAILABLE(nullptr);
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string narrow;
    for (const WCHAR* at = name; *at; ++at) narrow += *at < 0x80 ? static_cast<char>(*at) : '?';
    return Load(Current(), narrow.c_str());
}
