#include "support/wow64.h"

#include <string.h>

#include "trace/trace_log.h"

namespace {

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE process, BOOL* wow64);
typedef BOOL(WINAPI* Wow64DisableFunction)(PVOID* previous);
typedef BOOL(WINAPI* Wow64RevertFunction)(PVOID previous);

// KERNEL32 is in every process, so nothing is loaded to find these.
FARPROC FindKernelFunction(const char* name) {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    return kernel ? GetProcAddress(kernel, name) : nullptr;
}

template <typename Function>
Function BindKernelFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(FindKernelFunction(name)));
}

int ReportFailure(const char* format, DWORD error) {
    TraceMsg(TraceModule, TraceAllTypes, TraceError, format, (long)error);
    return 0;
}

int CannotTell(DWORD error) {
    ReportFailure("Cannot tell whether Windows is 64-bit, error=%ld\n", error);
    return -1;
}

}  // namespace

int IsWow64Windows() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        return CannotTell(GetLastError());
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) return 0;
    // KERNEL32 is in every process: not finding it is a failure, not an answer.
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (!kernel) return CannotTell(GetLastError());
    FARPROC found = GetProcAddress(kernel, "IsWow64Process");
    if (!found) {
        // Only 32-bit Windows older than Vista lacks the function; every
        // Windows from Vista on has it, and there its absence tells nothing.
        DWORD error = GetLastError();
        if (error == ERROR_PROC_NOT_FOUND && version.dwMajorVersion < 6) return 0;
        return CannotTell(error);
    }
    IsWow64ProcessFunction isWow64Process =
        reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)(void)>(found));
    BOOL wow64 = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &wow64))
        return CannotTell(GetLastError());
    return wow64 ? 1 : 0;
}

int SeeRealSystemFolder(int wow64, FsRedirection* state) {
    state->off = 0;
    state->previous = nullptr;
    if (wow64 != 1) return 1;
    Wow64DisableFunction disable =
        BindKernelFunction<Wow64DisableFunction>("Wow64DisableWow64FsRedirection");
    if (!disable) return ReportFailure("Cannot see the real system folder, error=%ld\n", GetLastError());
    if (!disable(&state->previous))
        return ReportFailure("Cannot see the real system folder, error=%ld\n", GetLastError());
    state->off = 1;
    return 1;
}

int RedirectAgain(FsRedirection* state) {
    if (!state->off) return 1;
    state->off = 0;
    Wow64RevertFunction revert = BindKernelFunction<Wow64RevertFunction>("Wow64RevertWow64FsRedirection");
    if (!revert)
        return ReportFailure("Cannot turn the system folder's redirection back on, error=%ld\n",
                             GetLastError());
    if (!revert(state->previous))
        return ReportFailure("Cannot turn the system folder's redirection back on, error=%ld\n",
                             GetLastError());
    return 1;
}
