#include "tests/fault_sweep/silences.h"

namespace fault_sweep {

namespace {

// Kinds of violation (fault_sweep.cpp): "changed", "handles", "scanner",
// "log-end", "worm file remains", "worm process runs", "open command wrong",
// "run= remains", "1 without worm", "0 with worm", "0 before the stages",
// "shares" (not every share back), "buffers" (share buffers not freed),
// "redirection off" (64-bit Windows: left off by a run that exits without 3).
// Call numbers refer to the workstations of workstations.cpp.
const Silence kSilences[] = {
    // Letting go of a handle.
    {"CloseHandle", 0, "", "", "handles",
     "the close itself failed: the tool has no other way to let go of the handle, and the system "
     "closes it when the process ends"},
    {"FindClose", 0, "", "", "handles", "the close of the search itself failed; the system closes it when the process ends"},
    {"RegCloseKey", 0, "", "", "handles", "the close of the key itself failed; the system closes it when the process ends"},

    // The administrator gate on NT.
    {"OpenProcessToken", 0, "NT", "", "0 before the stages",
     "a token that cannot be opened reads as no administrator rights: the run ends with 0 having "
     "changed nothing, and its log holds no exit-code line, which tells the administrator so"},
    {"GetTokenInformation", 0, "NT", "", "0 before the stages",
     "the token's groups cannot be read: no administrator rights, exit 0 without the exit-code line"},
    {"AllocateAndInitializeSid", 0, "NT", "", "0 before the stages",
     "the Administrators group cannot be named: no administrator rights, exit 0 without the exit-code line"},
    {"AllocBuffer", 1, "NT", "", "0 before the stages",
     "the buffer for the token's groups cannot be had: no administrator rights, exit 0 without the "
     "exit-code line"},

    // The worm test of a file.
    {"CreateFileA", 0, "infected", "", "worm file remains",
     "a file that cannot be opened for reading counts as clean, so it is neither reported nor deleted"},
    {"CreateFileA", 0, "infected", "", "worm process runs",
     "the running worm's executable cannot be opened, so it counts as clean and its process is not ended"},
    {"CreateFileA", 0, "infected", "", "0 with worm", "no file can be opened, so every file counts as clean"},
    {"SetFilePointer", 0, "infected", "", "worm file remains",
     "a region that cannot be positioned does not match, so the file counts as clean"},
    {"SetFilePointer", 0, "infected", "", "0 with worm", "no region can be positioned, so no file matches"},
    {"ReadFile", 0, "infected", "", "worm file remains",
     "a region that cannot be read whole does not match, so the file counts as clean"},
    {"ReadFile", 0, "infected", "", "0 with worm", "no region can be read, so no file matches"},

    // The network shares' re-creation. A share that does not come back is
    // said in the log, kept in the share journal for the next run, and
    // counted nowhere.
    {"LoadLibraryExW", 0, "NT with scanner", "", "shares",
     "netapi32.dll cannot be loaded to re-create a share: that share is not re-created and the log "
     "says so; the share journal keeps it, and the next run brings it back"},
    {"LoadLibraryExA", 0, "9x", "", "shares",
     "svrapi.dll cannot be loaded to re-create a share: that share is not re-created and the log "
     "says so; the share journal keeps it, and the next run brings it back"},
    {"GetProcAddress", 0, "", "", "shares",
     "NetShareAdd cannot be found: that share is not re-created and the log says so; the share "
     "journal keeps it, and the next run brings it back"},
    {"NetShareAdd", 0, "", "", "shares",
     "the system refuses to re-create a share: its line gives the status, the next share is tried, "
     "and the share journal keeps the one refused for the next run"},
    {"GetSystemDirectoryW", 0, "NT with scanner", "", "shares",
     "the system folder cannot be named to load netapi32.dll from it: that share is not re-created "
     "and the log says so; the share journal keeps it, and the next run brings it back"},
    {"GetSystemDirectoryA", 0, "9x", "", "shares",
     "the system folder cannot be named to load svrapi.dll from it: that share is not re-created "
     "and the log says so; the share journal keeps it, and the next run brings it back"},
    {"GetSystemDirectoryW", 0, "NT with scanner", "", "buffers",
     "the system folder cannot be named to load netapi32.dll and release the enumeration buffer: "
     "the buffer stays; the process's end releases it"},
    {"LoadLibraryExW", 0, "NT with scanner", "", "buffers",
     "netapi32.dll cannot be loaded to release the enumeration buffer: the buffer stays, as the "
     "system's own; the process's end releases it"},
    {"GetProcAddress", 0, "NT with scanner", "", "buffers",
     "NetApiBufferFree cannot be found: the enumeration buffer stays; the process's end releases it"},
    {"NetApiBufferFree", 0, "NT with scanner", "", "buffers",
     "the system refuses to release the enumeration buffer: it stays; the process's end releases it"},

    // The disk sweep's walk.
    {"FindFirstFileA", 0, "infected", "", "worm file remains",
     "the fault is access denied: a sub-folder refused for lack of access is normal (Windows keeps "
     "such folders, as System Volume Information), said at level 4 and passed over; a drive root "
     "refused so, or any other error, counts a failure"},

    // Deleting a file that exists.
    {"CrtFopen", 0, "infected", "", "worm file remains",
     "a file exists only when it can be opened for reading; one that cannot is nothing to do for the "
     "deletion, which is counted nowhere"},

    // The family check.
    {"GetVersionExA", 0, "NT", "", "worm file remains",
     "the family check failing makes the run take neither family's road: a copy in use is written to "
     "WININIT.INI, which an NT boot never reads"},
    {"GetVersionExA", 0, "NT with scanner", "", "scanner",
     "the family check failing makes the switch take neither family's road, so the scanner is not "
     "switched on again"},

    // The process list.
    {"LoadLibraryExA", 0, "infected NT", "", "worm process runs",
     "without PSAPI.DLL or VDMDBG.DLL the enumerator is not ready: no process is reported"},
    {"GetSystemDirectoryA", 0, "infected NT", "", "worm process runs",
     "without the system folder PSAPI.DLL and VDMDBG.DLL cannot be found: the enumerator is not "
     "ready and no process is reported"},
    {"GetProcAddress", 0, "infected", "", "worm process runs",
     "a missing entry point of the process list disables it: no process is reported"},
    {"GetModuleHandleA", 0, "infected 9x", "", "worm process runs",
     "without KERNEL32.DLL's handle the tool-help enumerator is not ready: no process is reported"},
    {"EnumProcesses", 0, "infected NT", "", "worm process runs",
     "a process list that cannot be read reports no infected process"},
    {"CreateToolhelp32Snapshot", 0, "infected 9x", "", "worm process runs",
     "without a snapshot no process is reported"},
    {"Process32First", 0, "infected 9x", "", "worm process runs",
     "a snapshot whose first entry cannot be read reports no process"},
    {"Process32Next", 0, "infected 9x", "", "worm process runs",
     "the snapshot's walk ends at the first entry that cannot be read; the worm comes after it"},
    {"OpenProcess", 1, "infected NT", "from then on", "worm process runs",
     "a process that cannot be opened to read its name is skipped without a word; from the first "
     "call on, the worm's process is never named"},
    {"OpenProcess", 2, "infected NT", "", "worm process runs",
     "the worm's process cannot be opened to read its name, so it is skipped without a word"},
    {"EnumProcessModules", 0, "infected NT", "", "worm process runs",
     "a process whose modules cannot be listed is skipped without a word"},
    {"GetModuleFileNameExA", 0, "infected NT", "", "worm process runs",
     "a process whose executable's name cannot be read is skipped without a word"},

    // win.ini.
    {"GetProfileStringA", 0, "infected", "", "run= remains",
     "an entry that cannot be read reads as empty: there is nothing to remove"},

    // The maker's scanner.
    {"CreateFileA", 0, "NT with scanner", "", "scanner",
     "the device cannot be opened to switch the scanner on: the log says so, and the exit code does "
     "not change"},
    {"DeviceIoControl", 0, "NT with scanner", "", "scanner",
     "the driver refuses the request to switch the scanner on: the log names the phase that failed, "
     "and the exit code does not change"},
};

}  // namespace

const Silence* FindSilence(const std::string& function, int call, const std::string& workstation,
                           const std::string& mode, const std::string& violation) {
    for (const Silence& row : kSilences) {
        if (function != row.function || violation != row.violation) continue;
        if (row.call && call != row.call) continue;
        if (row.mode[0] && mode != row.mode) continue;
        if (row.workstation[0] && workstation.find(row.workstation) == std::string::npos) continue;
        return &row;
    }
    return nullptr;
}

}  // namespace fault_sweep
