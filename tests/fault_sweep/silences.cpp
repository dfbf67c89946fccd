#include "tests/fault_sweep/silences.h"

namespace fault_sweep {

namespace {

// Kinds of violation (fault_sweep.cpp): "changed", "handles", "scanner",
// "log-end", "worm file remains", "worm process runs", "open command wrong",
// "run= remains", "1 without worm", "0 with worm", "0 before the stages",
// "shares" (not every share back), "buffers" (share buffers not freed),
// "redirection off" (64-bit Windows: left off by a run that exits without 3).
// Call numbers refer to the sweeps' workstations (tests/workstations.cpp).
const Silence kSilences[] = {
    // Letting go of a handle.
    {"CloseHandle", 0, "", "", "handles",
     "the close itself failed: the tool has no other way to let go of the handle, and the system "
     "closes it when the process ends"},
    {"FindClose", 0, "", "", "handles", "the close of the search itself failed; the system closes it when the process ends"},
    {"RegCloseKey", 0, "", "", "handles", "the close of the key itself failed; the system closes it when the process ends"},
    {"WaitForSingleObject", 0, "late driver", "from then on", "handles",
     "no wait for the scanner's answer can be made, so the request may still be written by the driver: "
     "its event and device are left open on purpose, said at level 1 (\"cannot be waited for\"), and the "
     "run exits with 3; the process's end closes them"},

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
    {"CreateFileW", 0, "infected NT", "", "worm file remains",
     "a file that only its wide name reaches cannot be opened for reading: it counts as clean, as by "
     "its ANSI name; the NT walk opens each folder by this call too, and a folder that cannot be "
     "opened to be identified is walked as ever, but one refused so from then on is never identified"},
    {"CreateFileW", 0, "infected NT", "", "worm process runs",
     "the running worm's image cannot be opened by its wide name, so it counts as clean"},
    {"SetFilePointer", 0, "infected", "", "worm file remains",
     "a region that cannot be positioned does not match, so the file counts as clean"},
    {"SetFilePointer", 0, "infected", "", "0 with worm", "no region can be positioned, so no file matches"},
    {"ReadFile", 0, "infected", "", "worm file remains",
     "a region that cannot be read whole does not match, so the file counts as clean"},
    {"ReadFile", 0, "infected", "", "0 with worm", "no region can be read, so no file matches"},

    {"LoadLibraryExW", 0, "NT with scanner", "", "buffers",
     "netapi32.dll cannot be loaded to release the enumeration buffer: the buffer stays, as the "
     "system's own; the process's end releases it"},
    {"GetSystemDirectoryW", 0, "NT with scanner", "", "buffers",
     "without the system folder netapi32.dll cannot be loaded to release the enumeration buffer: "
     "the buffer stays, as the system's own; the process's end releases it"},
    {"GetProcAddress", 0, "NT with scanner", "", "buffers",
     "NetApiBufferFree cannot be found: the enumeration buffer stays; the process's end releases it"},
    {"NetApiBufferFree", 0, "NT with scanner", "", "buffers",
     "the system refuses to release the enumeration buffer: it stays; the process's end releases it"},

    // The disk sweep's walk.
    {"FindFirstFileA", 0, "infected", "", "worm file remains",
     "the fault is access denied: a sub-folder refused for lack of access is normal (Windows keeps "
     "such folders, as System Volume Information), said at level 4 and passed over; a drive root "
     "refused so, or any other error, counts a failure"},
    {"FindFirstFileW", 0, "infected NT", "", "worm file remains",
     "the NT walk's listing, the same: a sub-folder refused for lack of access is said at level 4 "
     "and passed over"},

    // The family check.
    {"GetVersionExA", 0, "NT", "", "worm file remains",
     "the family check failing makes the run take neither family's road: a copy in use is written to "
     "WININIT.INI, which an NT boot never reads"},

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
    {"OpenProcess", 3, "infected NT", "from then on", "worm process runs",
     "from the renamed worm's process on, no process can be opened to read its name: each is skipped "
     "without a word"},
    {"EnumProcessModules", 0, "infected NT", "", "worm process runs",
     "a process whose modules cannot be listed is skipped without a word"},
    {"GetModuleFileNameExA", 0, "infected NT", "", "worm process runs",
     "a process whose executable's name cannot be read is skipped without a word"},

    // Someone else's share of a remembered name.
    {"CrtWrite", 0, "C$ taken meanwhile", "from then on", "shares",
     "the log cannot be written from then on, so the level-1 line naming someone else's C$ is lost "
     "with every later line; the run still exits with 3 and keeps the journal that holds the "
     "machine's C$, and the next run names it again"},

    // win.ini.
    {"GetProfileStringA", 0, "infected", "", "run= remains",
     "an entry that cannot be read reads as empty: there is nothing to remove"},
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
