// Operating system basics of the simulated workstation: version, last error,
// directories, clock, debugger output, critical sections, handles.
#include <string.h>

#include <mutex>

#include "sim/scanner.h"
#include "sim/workstation.h"

using sim::Current;

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    SIM_FAULT(fault, error);
    if (fault || !info ||
        info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetLastError(error ? error : ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    sim::Workstation& ws = Current();
    info->dwMajorVersion = ws.majorVersion;
    info->dwMinorVersion = ws.minorVersion;
    info->dwBuildNumber = ws.buildNumber;
    info->dwPlatformId = ws.platformId;
    memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    return TRUE;
}

DWORD WINAPI GetLastError(void) { return Current().lastError; }

void WINAPI SetLastError(DWORD code) { Current().lastError = code; }

// Copies text into a caller's buffer the way the Get...DirectoryA functions
// do: the length without the terminator when it fits, otherwise the size
// needed with the terminator, and the buffer left alone.
static UINT CopyOut(const std::string& text, LPSTR buffer, UINT size) {
    if (text.size() + 1 > size) return static_cast<UINT>(text.size() + 1);
    memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<UINT>(text.size());
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    SIM_FAILABLE(0);
    return CopyOut(Current().windowsDirectory, buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    SIM_FAILABLE(0);
    return CopyOut(Current().SystemDirectory(), buffer, size);
}

UINT WINAPI GetSystemDirectoryW(WCHAR* buffer, UINT size) {
    SIM_FAILABLE(0);
    const std::string path = Current().SystemDirectory();
    if (path.size() + 1 > size) return static_cast<UINT>(path.size() + 1);
    for (size_t i = 0; i <= path.size(); ++i) buffer[i] = static_cast<unsigned char>(path[i]);
    return static_cast<UINT>(path.size());
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    SIM_FAULT(fault, error);
    if (fault || module != nullptr || size == 0) {
        SetLastError(error ? error : ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string& path = Current().modulePath;
    if (path.size() + 1 > size) {
        // Cut to fit, terminated, as Windows does since XP.
        memcpy(buffer, path.c_str(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

DWORD WINAPI GetTickCount(void) {
    SIM_COUNTED();
    return Current().clockMs;
}

void WINAPI GetSystemInfo(LPSYSTEM_INFO info) {
    SIM_COUNTED();
    sim::Workstation& ws = Current();
    memset(info, 0, sizeof(*info));
    info->u.dwOemId = ws.oemId;
    info->dwPageSize = 4096;
    info->dwNumberOfProcessors = 1;
    info->dwProcessorType = ws.processorType;
    info->dwAllocationGranularity = 65536;
}

// Never blocks: the virtual clock moves on and whatever was scheduled for
// that time happens.
void WINAPI Sleep(DWORD milliseconds) {
    SIM_COUNTED();
    Current().AdvanceClock(milliseconds);
}

void WINAPI OutputDebugStringA(LPCSTR text) {
    SIM_COUNTED();
    if (text) Current().debugOutput += text;
}

// The trace log takes its lock during static initialisation, before any test
// has built a workstation, so the lock functions need none.
void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->impl = new std::recursive_mutex();
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->impl)->lock();
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
    static_cast<std::recursive_mutex*>(section->impl)->unlock();
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete static_cast<std::recursive_mutex*>(section->impl);
    section->impl = nullptr;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    SIM_COUNTED();
    sim::Workstation& ws = Current();
    ws.boxesShown.push_back(sim::MessageBoxShown{text ? text : "", caption ? caption : "", type,
                                                 owner == nullptr});
    if (ws.boxAnswers.empty()) return IDOK;
    int answer = ws.boxAnswers.front();
    ws.boxAnswers.pop_front();
    return answer;
}

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    SIM_FAILABLE(FALSE);
    auto& handlers = Current().ctrlHandlers;
    if (add) {
        handlers.push_back(handler);
        return TRUE;
    }
    for (auto it = handlers.begin(); it != handlers.end(); ++it) {
        if (*it == handler) {
            handlers.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    if (ws.Lookup(handle, sim::HandleKind::Device) || ws.Lookup(handle, sim::HandleKind::Event)) {
        sim::CloseDeviceOrEvent(ws, handle);
        return TRUE;
    }
    if (sim::HandleEntry* entry = ws.Lookup(handle, sim::HandleKind::File)) {
        // A file marked for deletion through a handle goes with the last one.
        sim::FileNode* node = entry->node;
        ws.FreeHandle(handle);
        if (node->deletePending && !node->held && !ws.IsOpen(node)) ws.RemoveNode(node);
        return TRUE;
    }
    for (sim::HandleKind kind : {sim::HandleKind::Folder, sim::HandleKind::Token, sim::HandleKind::Process,
                                 sim::HandleKind::Snapshot}) {
        if (ws.Lookup(handle, kind)) {
            ws.FreeHandle(handle);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// 64-bit Windows and the tool's one thread: whether the system shows it
// SysWOW64 for System32. The saved state is one of two markers.
namespace {
char g_redirectionWasOn;
char g_redirectionWasOff;
}  // namespace

BOOL WINAPI IsWow64Process(HANDLE process, BOOL* wow64) {
    SIM_FAILABLE(FALSE);
    if (!process || !wow64) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *wow64 = Current().wow64 ? TRUE : FALSE;
    return TRUE;
}

// 32-bit Windows has nothing to turn off.
BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* previous) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    if (!ws.wow64 || !previous) {
        SetLastError(ws.wow64 ? ERROR_INVALID_PARAMETER : ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    *previous = ws.fsRedirected ? &g_redirectionWasOn : &g_redirectionWasOff;
    ws.fsRedirected = false;
    return TRUE;
}

BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID previous) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    if (!ws.wow64 || (previous != &g_redirectionWasOn && previous != &g_redirectionWasOff)) {
        SetLastError(ws.wow64 ? ERROR_INVALID_PARAMETER : ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    ws.fsRedirected = previous == &g_redirectionWasOn;
    return TRUE;
}
