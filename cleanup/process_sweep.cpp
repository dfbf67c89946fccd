#include "cleanup/process_sweep.h"

#include <stdio.h>
#include <string.h>

#include "app/outcome.h"
#include "cleanup/worm_file.h"
#include "cleanup/wow64_view.h"
#include "support/system_library.h"
#include "support/system_queries.h"
#include "support/wide_names.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

KF_PROCESS_STATE InfectedProcessFileList InfectedProcessFiles;

static const DWORD MaxProcessIds = 1024;
static const DWORD MaxModules = 1024;
static const char DebugPrivilege[] = "SeDebugPrivilege";
static const WCHAR Verbatim[] = {'\\', '\\', '?', '\\'};
static const DWORD VerbatimUnits = 4;

ToolhelpProcessEnumerator::ToolhelpProcessEnumerator()
    : kernelModule(nullptr),
      snapshot(INVALID_HANDLE_VALUE),
      createToolhelp32Snapshot(nullptr),
      process32First(nullptr),
      process32Next(nullptr) {
    memset(&processEntry, 0, sizeof(processEntry));
    kernelModule = GetModuleHandleA("KERNEL32.DLL");
    if (!kernelModule) return;
    createToolhelp32Snapshot =
        BindFunction<CreateToolhelp32SnapshotFunction>(kernelModule, "CreateToolhelp32Snapshot");
    process32First = BindFunction<Process32FirstFunction>(kernelModule, "Process32First");
    process32Next = BindFunction<Process32NextFunction>(kernelModule, "Process32Next");
    if (createToolhelp32Snapshot && process32First && process32Next) {
        processEntry.dwSize = sizeof(PROCESSENTRY32);
        ready = 1;
    }
}

int ToolhelpProcessEnumerator::Enumerate(ProcessCallback callback, void* userData) {
    if (!ready || !createToolhelp32Snapshot || !process32First || !process32Next) return 0;
    snapshot = createToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 1;  // no process to report
    if (process32First(snapshot, &processEntry)) {
        processEntry.szExeFile[MAX_PATH - 1] = '\0';
        callback(processEntry.szExeFile, processEntry.th32ProcessID, nullptr, userData);
        while (process32Next(snapshot, &processEntry) == TRUE) {
            processEntry.szExeFile[MAX_PATH - 1] = '\0';
            callback(processEntry.szExeFile, processEntry.th32ProcessID, nullptr, userData);
        }
    }
    CloseHandle(snapshot);
    snapshot = INVALID_HANDLE_VALUE;
    return 1;
}

PsapiProcessEnumerator::PsapiProcessEnumerator()
    : psapiModule(nullptr),
      vdmdbgModule(nullptr),
      enumProcesses(nullptr),
      getModuleFileNameExA(nullptr),
      enumProcessModules(nullptr),
      vdmEnumTaskWOWEx(nullptr),
      getModuleBaseNameA(nullptr),
      getModuleFileNameExW(nullptr),
      systemNamer{nullptr, nullptr, nullptr, 0} {
    psapiModule = LoadSystemLibrary("PSAPI.DLL");
    vdmdbgModule = LoadSystemLibrary("VDMDBG.DLL");
    if (!psapiModule || !vdmdbgModule) return;
    vdmEnumTaskWOWEx = BindFunction<VDMEnumTaskWOWExFunction>(vdmdbgModule, "VDMEnumTaskWOWEx");
    enumProcesses = BindFunction<EnumProcessesFunction>(psapiModule, "EnumProcesses");
    getModuleFileNameExA =
        BindFunction<GetModuleFileNameExAFunction>(psapiModule, "GetModuleFileNameExA");
    getModuleBaseNameA =
        BindFunction<GetModuleBaseNameAFunction>(psapiModule, "GetModuleBaseNameA");
    enumProcessModules =
        BindFunction<EnumProcessModulesFunction>(psapiModule, "EnumProcessModules");
    getModuleFileNameExW = BindFunction<GetModuleFileNameExWFunction>(psapiModule, "GetModuleFileNameExW");
    systemNamer = BindSystemImageNamer(psapiModule);
    if (vdmEnumTaskWOWEx && enumProcesses && getModuleFileNameExA && getModuleBaseNameA &&
        enumProcessModules) {
        ready = 1;
    }
}

PsapiProcessEnumerator::~PsapiProcessEnumerator() { ReleaseLibraries(); }

// Also when one library was missing or the list could not be read: a library
// we loaded is always given back. The entry points go with it.
void PsapiProcessEnumerator::ReleaseLibraries() {
    enumProcesses = nullptr;
    getModuleFileNameExA = nullptr;
    enumProcessModules = nullptr;
    vdmEnumTaskWOWEx = nullptr;
    getModuleBaseNameA = nullptr;
    getModuleFileNameExW = nullptr;
    systemNamer = SystemImageNamer{nullptr, nullptr, nullptr, 0};
    ready = 0;
    if (vdmdbgModule) FreeLibrary(vdmdbgModule);
    vdmdbgModule = nullptr;
    if (psapiModule) FreeLibrary(psapiModule);
    psapiModule = nullptr;
}

int PsapiProcessEnumerator::Enumerate(ProcessCallback callback, void* userData) {
    if (!ready || !enumProcesses || !getModuleFileNameExA || !enumProcessModules ||
        !vdmEnumTaskWOWEx || !getModuleBaseNameA) {
        return 0;
    }
    DWORD processIds[MaxProcessIds];
    DWORD bytes = 0;
    if (!enumProcesses(processIds, sizeof(processIds), &bytes)) {
        ReleaseLibraries();
        return 0;
    }
    DWORD count = bytes / sizeof(DWORD);
    if (count > MaxProcessIds) count = MaxProcessIds;
    // One buffer for every image's wide name, and one for its readable form;
    // without them the ANSI names are taken as they are. Two more for the
    // image as the system names it.
    WCHAR* wide = getModuleFileNameExW ? static_cast<WCHAR*>(AllocBuffer(MaxWideImageName * sizeof(WCHAR))) : nullptr;
    char* shown = wide ? static_cast<char*>(AllocBuffer(LogTextSize)) : nullptr;
    bool systemNames =
        systemNamer.keepsName || systemNamer.queryFullProcessImageNameW || systemNamer.getProcessImageFileNameW;
    WCHAR* system = systemNames ? static_cast<WCHAR*>(AllocBuffer(MaxWideImageName * sizeof(WCHAR))) : nullptr;
    char* systemShown = system ? static_cast<char*>(AllocBuffer(LogTextSize)) : nullptr;
    // Without room for them no process is looked at whole: each says so.
    DWORD systemRoomError = 0;
    if (systemNames && (!system || !systemShown)) {
        if (system) FreeBuffer(system);
        system = nullptr;
        systemShown = nullptr;
        systemRoomError = ERROR_NOT_ENOUGH_MEMORY;
    }

    for (DWORD i = 0; i < count; ++i) {
        // One handle reads the name and, for a worm, ends the process. A
        // process that refuses the right to end it is still named, so that a
        // worm guarded so is reported as one that could not be ended.
        NamedProcessHandle named = {nullptr, 0, nullptr, nullptr, nullptr, 0};
        named.handle = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE, FALSE,
                                   processIds[i]);
        if (!named.handle) {
            named.terminateError = GetLastError();
            named.handle = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processIds[i]);
        }
        if (!named.handle) continue;
        HMODULE modules[MaxModules];
        DWORD needed = 0;
        char name[MAX_PATH];
        DWORD length = 0;
        DWORD wideLength = 0;
        WCHAR* image = wide ? wide + VerbatimUnits : nullptr;
        // The first module is the executable; a list without one names nothing.
        if (enumProcessModules(named.handle, modules, sizeof(modules), &needed) && needed >= sizeof(HMODULE)) {
            length = getModuleFileNameExA(named.handle, modules[0], name, sizeof(name));
            name[sizeof(name) - 1] = '\0';
            // The ANSI name may be another file's (best fit), cut, or one
            // the ANSI calls' path rules change: then the wide one is used.
            // Read after room for "\\?\", which makes the wide calls take a
            // drive's path as it is, with none of the ANSI calls' rules.
            wideLength = length && shown ? getModuleFileNameExW(named.handle, modules[0], image,
                                                                MaxWideImageName - VerbatimUnits)
                                         : 0;
            if (wideLength && wideLength < MaxWideImageName - VerbatimUnits) {
                image[wideLength] = 0;
                if (!AnsiPathReachesItself(image, name)) {
                    bool drivePath = wideLength >= 3 && image[1] == ':' && image[2] == '\\';
                    if (drivePath) memcpy(wide, Verbatim, sizeof(Verbatim));
                    named.widePath = drivePath ? wide : image;
                    AppendShownName(image, wideLength, shown, 0, LogTextSize);
                }
            } else {
                wideLength = 0;
            }
        }
        // The system's own name, tested too when it is another file. A
        // process whose loader list names nothing is named by it alone.
        WCHAR* systemImage = system ? system + VerbatimUnits : nullptr;
        DWORD systemError = systemRoomError;
        DWORD systemLength = system ? SystemImageName(systemNamer, named.handle, systemImage,
                                                      MaxWideImageName - VerbatimUnits, &systemError)
                                    : 0;
        // A process whose loader list names nothing either has ended: no word of it.
        if (length) named.systemError = systemError;
        if (systemLength && !(wideLength && SameImagePath(systemImage, image))) {
            bool drivePath = systemLength >= 3 && systemImage[1] == ':' && systemImage[2] == '\\';
            if (drivePath) memcpy(system, Verbatim, sizeof(Verbatim));
            AppendShownName(systemImage, systemLength, systemShown, 0, LogTextSize);
            if (length) {
                named.systemPath = drivePath ? system : systemImage;
                named.systemShown = systemShown;
            } else {
                named.widePath = drivePath ? system : systemImage;
                callback(systemShown, processIds[i], &named, userData);
                CloseHandle(named.handle);
                continue;
            }
        }
        if (length) callback(named.widePath ? shown : name, processIds[i], &named, userData);
        CloseHandle(named.handle);
    }
    if (system) FreeBuffer(system);
    if (systemShown) FreeBuffer(systemShown);
    if (wide) FreeBuffer(wide);
    if (shown) FreeBuffer(shown);
    ReleaseLibraries();
    return 1;
}

int EnumerateProcesses(int isNT, ProcessCallback callback, void* userData) {
    if (isNT) {
        PsapiProcessEnumerator enumerator;
        return enumerator.Enumerate(callback, userData);
    }
    ToolhelpProcessEnumerator enumerator;
    return enumerator.Enumerate(callback, userData);
}

// Appends heap copies of the path (and of the wide path, when only it
// reaches the image) and the copy that matched; 0 when memory ran out.
static int RememberProcessFile(const char* path, const WCHAR* widePath, const WormCopy& copy) {
    InfectedProcessFile* node =
        static_cast<InfectedProcessFile*>(AllocBuffer(sizeof(InfectedProcessFile)));
    size_t size = strlen(path) + 1;
    char* text = static_cast<char*>(AllocBuffer(size));
    size_t wideSize = 0;
    if (widePath) {
        while (widePath[wideSize]) ++wideSize;
        ++wideSize;
    }
    WCHAR* wide = widePath ? static_cast<WCHAR*>(AllocBuffer(wideSize * sizeof(WCHAR))) : nullptr;
    if (!node || !text || (widePath && !wide)) {
        if (node) FreeBuffer(node);
        if (text) FreeBuffer(text);
        if (wide) FreeBuffer(wide);
        return 0;
    }
    memcpy(text, path, size);
    if (wide) memcpy(wide, widePath, wideSize * sizeof(WCHAR));
    node->path = text;
    node->widePath = wide;
    node->copy = copy;
    node->next = nullptr;
    if (InfectedProcessFiles.tail) {
        InfectedProcessFiles.tail->next = node;
    } else {
        InfectedProcessFiles.head = node;
    }
    InfectedProcessFiles.tail = node;
    return 1;
}

// Ends the process through the handle that named it (NT), or, from the
// tool-help snapshot, through a handle opened by its id (Windows 9x). 1 when
// it was ended.
static int EndProcess(const char* name, DWORD processId, const NamedProcessHandle* named) {
    HANDLE process = named ? named->handle : OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    DWORD openError = named ? named->terminateError : (process ? 0 : GetLastError());
    if (!process || openError) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "cannot open infected process %s, Error=%ld\n", name,
                 (long)openError);
        return 0;
    }
    int terminated = TerminateProcess(process, 0);
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Process %s terminated with status %i\n", name, terminated);
    if (!named) CloseHandle(process);
    return terminated;
}

void KillIfInfected(const char* path, DWORD processId, const NamedProcessHandle* process, void* userData) {
    ProcessSweepStatus* status = static_cast<ProcessSweepStatus*>(userData);
    // The name comes from the process's own memory: whatever it says, it is
    // one line of the log.
    LogText name = Escaped(path);
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "examinate process %s (PID=0x%x)\n", name.text,
             (unsigned)processId);
    // A process's image is named as the system sees it: a worm started from
    // the real System32 by a 64-bit program is named there, and only the
    // real folder holds that file. The copy's identity is taken as it
    // matches, before the process is ended.
    FsRedirection redirection;
    BeginRealSystemFolder(status->wow64, &redirection);
    WormCopy copy;
    const WCHAR* widePath = process ? process->widePath : nullptr;
    FilePath image = {widePath ? nullptr : path, widePath, path};
    int infected = status->matcher(image, &copy);
    // A worm may write another program's name into its loader list: the
    // image the system names is tested too, and when it is the one that
    // matches, it is the one named, ended for and deleted. Where that name
    // cannot be had, the process was not looked at whole.
    if (!infected && process && process->systemError) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError,
                 "Cannot read the image of process %s (PID=0x%x) as the system names it, error=%lu\n", name.text,
                 (unsigned)processId, (unsigned long)process->systemError);
        CountFailure();
    }
    if (!infected && process && process->systemPath) {
        LogText systemName = Escaped(process->systemShown);
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "examinate process %s (PID=0x%x), its image as the system names it\n",
                 systemName.text, (unsigned)processId);
        FilePath systemImage = {nullptr, process->systemPath, process->systemShown};
        infected = status->matcher(systemImage, &copy);
        if (infected) {
            name = systemName;
            path = process->systemShown;
            widePath = process->systemPath;
        }
    }
    EndRealSystemFolder(&redirection);
    if (!infected) return;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Process %s (PID=0x%x) is infection\n", name.text,
             (unsigned)processId);
    SetInfectionState(InfectionPresent);

    int terminated = EndProcess(name.text, processId, process);
    // A worm still running after the run is no removal: its file cannot go
    // before the restart that the closing message then asks for.
    if (!terminated) CountFailure();

    if (!RememberProcessFile(path, widePath, copy)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "NO MEMORY\n");
        return;
    }
    status->found = 1;
    if (status->terminateStatus) status->terminateStatus = terminated;
}

void DeleteProcessFiles() {
    // The system needs a moment after a termination before it lets go of
    // the executable.
    Sleep(1000);
    for (InfectedProcessFile* node = InfectedProcessFiles.head; node; node = node->next) {
        FilePath image = {node->widePath ? nullptr : node->path, node->widePath, node->path};
        DeleteWormFile(image, &node->copy);
    }
}

int KillInfectedProcesses(FileMatcher matcher) {
    ProcessSweepStatus status;
    status.matcher = matcher;
    status.found = 0;
    status.terminateStatus = 1;
    status.wow64 = RunsOnWow64();

    // The debug privilege opens other users' processes; it is held only for
    // the enumeration.
    int isNT = IsWindowsNT();
    HANDLE token = nullptr;
    int tokenOpened = 0;
    if (isNT) {
        tokenOpened = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                       &token)
                          ? 1
                          : 0;
        if (!tokenOpened) {
            token = nullptr;
            TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Cannot open current process %ld\n",
                     (long)GetLastError());
        }
        if (!SetPrivilege(token, DebugPrivilege, 1)) {
            TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Cannot SetPrivilege %ld\n",
                     (long)GetLastError());
        }
    }

    EnumerateProcesses(isNT, KillIfInfected, &status);

    if (isNT && tokenOpened) {
        SetPrivilege(token, DebugPrivilege, 0);
        CloseHandle(token);
    }

    if (!status.found) {
        printf("no Kurrel tasks in memory \n");
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "No infected processes were found\n");
        return 1;
    }
    printf("found Kurrel tasks in memory \n");
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo,
             "There were infected proceses, terminated with status =%s, start delete infected "
             "process files\n",
             status.terminateStatus ? "OK" : "NOT OK");
    FsRedirection redirection;
    BeginRealSystemFolder(status.wow64, &redirection);
    DeleteProcessFiles();
    EndRealSystemFolder(&redirection);
    return status.terminateStatus;
}
