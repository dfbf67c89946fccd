// Processes of the simulated workstation: opening and terminating them, the
// tool-help snapshot of KERNEL32.DLL, the PSAPI.DLL process list and module
// names, and VDMDBG.DLL's 16-bit task list.
#include <ctype.h>
#include <string.h>

#include <string>

#include "sim/code_page.h"
#include "sim/workstation.h"

using sim::Current;

namespace {

// The first module of every process: its executable, at the usual base.
HMODULE const kExeModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000));

bool DebugPrivilegeEnabled(const sim::Workstation& ws) {
    auto it = ws.privilegeAttributes.find(std::string_view("SeDebugPrivilege"));
    return it != ws.privilegeAttributes.end() && (it->second & SE_PRIVILEGE_ENABLED);
}

// The running process behind a handle opened with all of the given access.
sim::Process* ProcessOf(sim::Workstation& ws, HANDLE handle, DWORD access, DWORD* error) {
    sim::HandleEntry* entry = ws.Lookup(handle, sim::HandleKind::Process);
    if (!entry) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if ((entry->access & access) != access) {
        *error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    // A process that has ended keeps its handle, but answers nothing more,
    // even when its id now names another.
    sim::Process* process = ws.FindProcessBySerial(entry->processSerial);
    if (!process) *error = ERROR_INVALID_HANDLE;
    return process;
}

// Copies as GetModuleFileNameExA does: cut to fit, always terminated, and the
// count of characters copied.
DWORD CopyName(const std::string& text, LPSTR buffer, DWORD size) {
    if (size == 0) return 0;
    size_t count = text.size() < size - 1 ? text.size() : size - 1;
    memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

// The loader list's name of the image, which the process itself may have
// rewritten.
const std::string& LoaderPath(const sim::Process& process) {
    return process.loaderPath.empty() ? process.exePath : process.loaderPath;
}

// "\Device\HarddiskVolumeN" of a drive letter: its place among the drives.
std::string DeviceOf(const sim::Workstation& ws, char letter) {
    int number = 1;
    for (const auto& drive : ws.drives) {
        if (drive.first == letter) return "\\Device\\HarddiskVolume" + std::to_string(number);
        ++number;
    }
    return std::string();
}

// Copies a wide text as the system's image calls do: the count of units
// without the terminator, or 0 with ERROR_INSUFFICIENT_BUFFER when it does
// not fit.
DWORD CopyWide(const std::string& utf8, WCHAR* out, DWORD size) {
    size_t units = sim::Utf16(utf8).size();
    if (!out || units + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    sim::Utf16Into(utf8, out, size);
    return static_cast<DWORD>(units);
}

void FillEntry(const sim::Process& process, LPPROCESSENTRY32 entry) {
    DWORD size = entry->dwSize;
    memset(entry, 0, sizeof(*entry));
    entry->dwSize = size;
    entry->cntUsage = 1;
    entry->th32ProcessID = process.pid;
    entry->cntThreads = 1;
    entry->pcPriClassBase = 8;
    const std::string& name = process.toolhelpName.empty() ? process.exePath : process.toolhelpName;
    CopyName(name, entry->szExeFile, MAX_PATH);
}

// Hands out the snapshot's next process that has not vanished since.
BOOL NextSnapshotEntry(HANDLE snapshot, LPPROCESSENTRY32 entry, bool first) {
    sim::Workstation& ws = Current();
    sim::HandleEntry* search = ws.Lookup(snapshot, sim::HandleKind::Snapshot);
    if (!search || !entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry->dwSize != sizeof(PROCESSENTRY32)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    if (first) search->position = 0;
    while (search->position < search->snapshotPids.size()) {
        DWORD pid = search->snapshotPids[search->position++];
        // The snapshot keeps what it saw, even a process ended since.
        for (const sim::Process& process : ws.processes) {
            if (process.pid == pid) {
                FillEntry(process, entry);
                return TRUE;
            }
        }
    }
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

}  // namespace

namespace sim {

Process* Workstation::FindProcess(DWORD pid) {
    for (Process& process : processes) {
        if (process.running && process.pid == pid) return &process;
    }
    return nullptr;
}

Process* Workstation::FindProcessBySerial(uint64_t serial) {
    for (Process& process : processes) {
        if (process.running && process.serial == serial) return &process;
    }
    return nullptr;
}

}  // namespace sim

HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD processId) {
    SIM_FAULT(fault, error);
    (void)inherit;
    sim::Workstation& ws = Current();
    if (fault) {
        ws.processOpens.push_back(sim::ProcessOpen{processId, access, false, DebugPrivilegeEnabled(ws)});
        SetLastError(error);
        return nullptr;
    }
    sim::Process* process = ws.FindProcess(processId);
    if (!process) {
        error = ERROR_INVALID_PARAMETER;  // what Windows says for an id that is not running
    } else if ((access & (PROCESS_QUERY_INFORMATION | PROCESS_VM_READ)) && !process->canOpenQuery) {
        error = ERROR_ACCESS_DENIED;
    } else if ((access & PROCESS_TERMINATE) && !process->canTerminate) {
        error = ERROR_ACCESS_DENIED;
    }
    ws.processOpens.push_back(sim::ProcessOpen{processId, access, error == 0, DebugPrivilegeEnabled(ws)});
    if (error) {
        SetLastError(error);
        return nullptr;
    }
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Process;
    entry.access = access;
    entry.pid = processId;
    entry.processSerial = process->serial;
    SetLastError(0);
    return ws.NewHandle(entry);
}

// The process ends at once; with it goes its hold on its executable.
BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode) {
    SIM_FAILABLE(FALSE);
    (void)exitCode;
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(process, sim::HandleKind::Process);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sim::Process* target = ws.FindProcessBySerial(entry->processSerial);
    // Windows refuses a handle without the right, and a process already gone.
    if (!(entry->access & PROCESS_TERMINATE) || !target) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    target->running = false;
    return TRUE;
}

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
    SIM_FAILABLE(INVALID_HANDLE_VALUE);
    (void)processId;  // only module lists look at it
    sim::Workstation& ws = Current();
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Snapshot;
    if (flags & TH32CS_SNAPPROCESS) {
        for (const sim::Process& process : ws.processes) {
            if (process.running) entry.snapshotPids.push_back(process.pid);
        }
    }
    return ws.NewHandle(entry);
}

BOOL WINAPI Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) {
    SIM_FAILABLE(FALSE);
    return NextSnapshotEntry(snapshot, entry, true);
}

BOOL WINAPI Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) {
    SIM_FAILABLE(FALSE);
    return NextSnapshotEntry(snapshot, entry, false);
}

// Lists the running processes' ids, as many as fit; the byte count says how
// many were written, never how many there are.
BOOL WINAPI EnumProcesses(DWORD* processIds, DWORD size, LPDWORD bytesReturned) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    if (!processIds || !bytesReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD count = 0;
    for (const sim::Process& process : ws.processes) {
        if (!process.running) continue;
        if ((count + 1) * sizeof(DWORD) > size) break;
        processIds[count++] = process.pid;
    }
    *bytesReturned = count * static_cast<DWORD>(sizeof(DWORD));
    return TRUE;
}

BOOL WINAPI EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed) {
    SIM_FAILABLE(FALSE);
    DWORD error = 0;
    sim::Workstation& ws = Current();
    if (!ProcessOf(ws, process, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, &error)) {
        SetLastError(error);
        return FALSE;
    }
    // One module: the executable. Further DLLs would change nothing the tool reads.
    if (needed) *needed = static_cast<DWORD>(sizeof(HMODULE));
    if (modules && size >= sizeof(HMODULE)) modules[0] = kExeModule;
    return TRUE;
}

DWORD WINAPI GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR name, DWORD size) {
    SIM_FAILABLE(0);
    DWORD error = 0;
    sim::Workstation& ws = Current();
    sim::Process* target = ProcessOf(ws, process, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, &error);
    if (!target || (module && module != kExeModule) || !name) {
        SetLastError(error ? error : ERROR_INVALID_HANDLE);
        return 0;
    }
    // The ANSI name as Windows' ANSI calls give it: best fit, "?" for the rest.
    return CopyName(sim::AnsiOf(LoaderPath(*target), true, nullptr), name, size);
}

// The image's name in UTF-16, cut to fit and always terminated; the count
// of units copied.
DWORD WINAPI GetModuleFileNameExW(HANDLE process, HMODULE module, WCHAR* name, DWORD size) {
    SIM_FAILABLE(0);
    DWORD error = 0;
    sim::Workstation& ws = Current();
    sim::Process* target = ProcessOf(ws, process, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, &error);
    if (!target || (module && module != kExeModule) || !name || size == 0) {
        SetLastError(error ? error : ERROR_INVALID_HANDLE);
        return 0;
    }
    return static_cast<DWORD>(sim::Utf16Into(LoaderPath(*target), name, size));
}

DWORD WINAPI GetModuleBaseNameA(HANDLE process, HMODULE module, LPSTR name, DWORD size) {
    SIM_FAILABLE(0);
    DWORD error = 0;
    sim::Workstation& ws = Current();
    sim::Process* target = ProcessOf(ws, process, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, &error);
    if (!target || (module && module != kExeModule) || !name) {
        SetLastError(error ? error : ERROR_INVALID_HANDLE);
        return 0;
    }
    const std::string& loaderPath = LoaderPath(*target);
    size_t cut = loaderPath.find_last_of('\\');
    return CopyName(cut == std::string::npos ? loaderPath : loaderPath.substr(cut + 1), name, size);
}

// No process of ours runs 16-bit tasks.
INT WINAPI VDMEnumTaskWOWEx(DWORD processId, TASKENUMPROCEX callback, LPARAM userData) {
    SIM_COUNTED();
    (void)processId;
    (void)callback;
    (void)userData;
    return 0;
}

// The image as the system keeps it, whatever the process wrote into its
// loader list: its drive path (Vista and later).
BOOL WINAPI QueryFullProcessImageNameW(HANDLE process, DWORD flags, WCHAR* name, DWORD* size) {
    SIM_FAILABLE(FALSE);
    DWORD error = 0;
    sim::Workstation& ws = Current();
    sim::Process* target = ProcessOf(ws, process, PROCESS_QUERY_INFORMATION, &error);
    if (!target || flags != 0 || !size) {
        SetLastError(error ? error : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD copied = CopyWide(target->exePath, name, *size);
    if (!copied) return FALSE;
    *size = copied;
    return TRUE;
}

// The same on XP and Server 2003, as a path on the volume's device:
// "\Device\HarddiskVolume1\WINDOWS\x.exe". Cut to fit, as its siblings.
DWORD WINAPI GetProcessImageFileNameW(HANDLE process, WCHAR* name, DWORD size) {
    SIM_FAILABLE(0);
    DWORD error = 0;
    sim::Workstation& ws = Current();
    sim::Process* target = ProcessOf(ws, process, PROCESS_QUERY_INFORMATION, &error);
    if (!target || !name || size == 0) {
        SetLastError(error ? error : ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string& path = target->exePath;
    std::string device = path.size() >= 2 && path[1] == ':'
                             ? DeviceOf(ws, static_cast<char>(toupper(static_cast<unsigned char>(path[0])))) + path.substr(2)
                             : "\\Device\\Mup" + path.substr(1);
    return static_cast<DWORD>(sim::Utf16Into(device, name, size));
}

// A drive letter's device: its one text and the list's closing terminator.
DWORD WINAPI QueryDosDeviceW(const WCHAR* deviceName, WCHAR* target, DWORD size) {
    SIM_FAILABLE(0);
    sim::Workstation& ws = Current();
    if (!deviceName || !target) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool letter = deviceName[0] && deviceName[1] == ':' && deviceName[2] == 0;
    char upper = letter ? static_cast<char>(toupper(deviceName[0] & 0x7F)) : 0;
    auto drive = ws.drives.find(upper);
    if (!letter || drive == ws.drives.end() || !drive->second.hasLetter) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    std::string device = DeviceOf(ws, upper);
    if (device.size() + 2 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    sim::Utf16Into(device, target, size);
    target[device.size() + 1] = 0;
    return static_cast<DWORD>(device.size() + 2);
}
