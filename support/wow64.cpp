#include "support/wow64.h"

#include "support/system_queries.h"
#include "trace/trace_log.h"

namespace {

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE process, BOOL* wow64);
typedef BOOL(WINAPI* Wow64DisableFunction)(PVOID* previous);
typedef BOOL(WINAPI* Wow64RevertFunction)(PVOID previous);

// KERNEL32 is in every process, so nothing is loaded to find these; a
// KERNEL32 without them belongs to a Windows that redirects nothing.
FARPROC FindKernelFunction(const char* name) {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (!kernel) return nullptr;
    return GetProcAddress(kernel, name);
}

template <typename Function>
Function BindKernelFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(FindKernelFunction(name)));
}

int ReportFailure(const char* format, DWORD error) {
    TraceMsg(TraceModule, TraceAllTypes, TraceError, format, (long)error);
    return 0;
}

}  // namespace

int IsWow64Windows() {
    if (GetOsFamily() != OsWindowsNT) return 0;
    IsWow64ProcessFunction isWow64Process = BindKernelFunction<IsWow64ProcessFunction>("IsWow64Process");
    if (!isWow64Process) return 0;
    BOOL wow64 = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &wow64)) {
        ReportFailure("Cannot tell whether Windows is 64-bit, error=%ld\n", GetLastError());
        return -1;
    }
    return wow64 ? 1 : 0;
}

int SeeRealSystemFolder(int wow64, FsRedirection* state) {
    state->off = 0;
    state->previous = nullptr;
    if (wow64 != 1) return 1;
    Wow64DisableFunction disable =
        BindKernelFunction<Wow64DisableFunction>("Wow64DisableWow64FsRedirection");
    if (!disable) return ReportFailure("Cannot see the real system folder, error=%ld\n", ERROR_PROC_NOT_FOUND);
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
                             ERROR_PROC_NOT_FOUND);
    if (!revert(state->previous))
        return ReportFailure("Cannot turn the system folder's redirection back on, error=%ld\n",
                             GetLastError());
    return 1;
}
