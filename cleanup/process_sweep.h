// The process sweep: running processes whose executable is the worm are
// terminated, and their files deleted afterwards.
#ifndef KURRELFIX_CLEANUP_PROCESS_SWEEP_H
#define KURRELFIX_CLEANUP_PROCESS_SWEEP_H

#include "cleanup/signature_matcher.h"
#include "cleanup/system_image_name.h"
#include "platform/platform.h"

// The NT enumerator's handle on a process, open while the callback runs. It
// read the process's name, and it is the one that ends the process: an id
// may name another process by the time it is opened again, a handle stays
// on its process. Opened with the right to end the process where that is
// granted; `terminateError` says why not otherwise (0 when it may).
// The image's name too: `widePath` is the image's wide path when its ANSI
// name does not reach it as itself (letters the code page lacks, a name the
// ANSI calls' path rules change, MAX_PATH characters or more), and the path
// handed to the callback is then its readable form; nullptr otherwise.
// The loader list that gives these names lives in the process's own memory,
// where the process may write any name: `systemPath` is the image as the
// system itself names it (XP and later), when that is another file than the
// loader's name, with `systemShown` its readable form; nullptr otherwise.
// `systemError` says why the system's name could not be had where this
// Windows keeps one (0 when it was, or when there is none to have).
struct NamedProcessHandle {
    HANDLE handle;
    DWORD terminateError;
    const WCHAR* widePath;
    const WCHAR* systemPath;
    const char* systemShown;
    DWORD systemError;
};

// Called once for each process an enumerator can name: the executable's path
// (valid only during the call), the process id, the handle that named it
// (nullptr from the tool-help snapshot, which opens no process), and the
// caller's user data.
typedef void (*ProcessCallback)(const char* path, DWORD processId, const NamedProcessHandle* process,
                                void* userData);

// The test of an executable: non-zero means infected, with the identity of
// the file it read (IsInfectedCopyAt).
typedef int (*FileMatcher)(const FilePath& path, WormCopy* copy);

// Lists the processes of the machine. The entry points of the system
// libraries are bound at run time, so the program starts on every Windows;
// `ready` says whether they were all found.
class ProcessEnumerator {
public:
    ProcessEnumerator() : ready(0) {}
    // Calls the callback for each process; 1 when the walk ran, 0 when the
    // enumerator is not ready or the process list could not be read.
    virtual int Enumerate(ProcessCallback callback, void* userData) = 0;

    int ready;

protected:
    // Local objects only, never deleted through this class.
    ~ProcessEnumerator() {}
};

// Entry points of the tool-help snapshot in KERNEL32.DLL (missing on NT 4).
typedef HANDLE(WINAPI* CreateToolhelp32SnapshotFunction)(DWORD flags, DWORD processId);
typedef BOOL(WINAPI* Process32FirstFunction)(HANDLE snapshot, LPPROCESSENTRY32 entry);
typedef BOOL(WINAPI* Process32NextFunction)(HANDLE snapshot, LPPROCESSENTRY32 entry);

// Windows 9x (and any family but NT): the tool-help snapshot.
class ToolhelpProcessEnumerator : public ProcessEnumerator {
public:
    ToolhelpProcessEnumerator();
    int Enumerate(ProcessCallback callback, void* userData) override;

private:
    HMODULE kernelModule;  // not ours: neither loaded nor released here
    HANDLE snapshot;
    PROCESSENTRY32 processEntry;
    CreateToolhelp32SnapshotFunction createToolhelp32Snapshot;
    Process32FirstFunction process32First;
    Process32NextFunction process32Next;
};

// Entry points of PSAPI.DLL and VDMDBG.DLL (NT only, not imported).
typedef BOOL(WINAPI* EnumProcessesFunction)(DWORD* processIds, DWORD size, DWORD* bytesReturned);
typedef DWORD(WINAPI* GetModuleFileNameExAFunction)(HANDLE process, HMODULE module, LPSTR name,
                                                     DWORD size);
typedef BOOL(WINAPI* EnumProcessModulesFunction)(HANDLE process, HMODULE* modules, DWORD size,
                                                  DWORD* needed);
typedef BOOL(WINAPI* TaskEnumCallback)(DWORD threadId, WORD module16, WORD task16,
                                       LPSTR moduleName, LPSTR fileName, LPARAM userData);
typedef INT(WINAPI* VDMEnumTaskWOWExFunction)(DWORD processId, TaskEnumCallback callback,
                                              LPARAM userData);
typedef DWORD(WINAPI* GetModuleBaseNameAFunction)(HANDLE process, HMODULE module, LPSTR name,
                                                   DWORD size);
typedef DWORD(WINAPI* GetModuleFileNameExWFunction)(HANDLE process, HMODULE module, WCHAR* name, DWORD size);

// The longest wide name of an image: the system's longest path and its terminator.
const DWORD MaxWideImageName = 32768;

// The NT family: the process list of PSAPI.DLL.
class PsapiProcessEnumerator : public ProcessEnumerator {
public:
    PsapiProcessEnumerator();
    // Releases the libraries if Enumerate has not done so.
    ~PsapiProcessEnumerator();
    PsapiProcessEnumerator(const PsapiProcessEnumerator&) = delete;
    PsapiProcessEnumerator& operator=(const PsapiProcessEnumerator&) = delete;
    int Enumerate(ProcessCallback callback, void* userData) override;

private:
    void ReleaseLibraries();

    HMODULE psapiModule;
    HMODULE vdmdbgModule;
    EnumProcessesFunction enumProcesses;
    GetModuleFileNameExAFunction getModuleFileNameExA;
    EnumProcessModulesFunction enumProcessModules;
    VDMEnumTaskWOWExFunction vdmEnumTaskWOWEx;    // needed to be ready, never called
    GetModuleBaseNameAFunction getModuleBaseNameA;  // needed to be ready, never called
    // Tells whether the ANSI name reaches the image as itself; without it
    // (NT 4.0's PSAPI has it too, but a missing one is no reason to stop)
    // the ANSI name is taken as it is.
    GetModuleFileNameExWFunction getModuleFileNameExW;
    // The system's own name of each image, where this Windows keeps one.
    SystemImageNamer systemNamer;
};

// What KillIfInfected is handed for each process.
struct ProcessSweepStatus {
    FileMatcher matcher;
    int found;            // 1 once an infected process was remembered
    int terminateStatus;  // 1 while every termination succeeded, then 0 for good
    int wow64;            // 64-bit Windows: images are tested with the real System32 in view
};

// One remembered executable; the path is a heap copy owned by the node, and
// the copy says which file matched, so that only that one is deleted.
struct InfectedProcessFile {
    char* path;
    WCHAR* widePath;  // a heap copy of the image's wide path, when only it reaches it; else nullptr
    WormCopy copy;
    InfectedProcessFile* next;
};

// The executables of the infected processes, in the order they were met; the
// same path once for each process that ran it. Filled during the run and kept
// until the process ends.
struct InfectedProcessFileList {
    InfectedProcessFile* head;
    InfectedProcessFile* tail;
};
extern InfectedProcessFileList InfectedProcessFiles;

// Enables the debug privilege on NT, terminates every process whose
// executable the matcher calls infected, and deletes those executables a
// second later. 1 when no infected process was found, else 1 when every one
// was terminated and 0 when one could not be.
int KillInfectedProcesses(FileMatcher matcher);

// Walks the processes with the enumerator of the family (PSAPI on NT,
// tool-help elsewhere) and returns what its Enumerate returned.
int EnumerateProcesses(int isNT, ProcessCallback callback, void* userData);

// The sweep's callback; userData is the ProcessSweepStatus.
void KillIfInfected(const char* path, DWORD processId, const NamedProcessHandle* process, void* userData);

// Deletes every remembered executable through ReplaceFile, after one second.
void DeleteProcessFiles();

#endif
