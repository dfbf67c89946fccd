// The workstations that whole runs of the tool clean: infected and clean
// machines of both families, described once for the whole-run tests and for
// the fault and crash sweeps. The plain machine (every extra off) is the one
// whose console and log the whole-run tests check to the letter; the sweeps
// clean machines with the extras on, which give their runs more to get wrong.
#ifndef KURRELFIX_TESTS_WORKSTATIONS_H
#define KURRELFIX_TESTS_WORKSTATIONS_H

#include <string>
#include <vector>

#include "sim/workstation.h"

namespace workstations {

extern const char* const kShellKey;       // under HKEY_CLASSES_ROOT
extern const char* const kShellKey32;     // its 32-bit copy on 64-bit Windows
extern const char* const kNtWindowsKey;   // under HKEY_CURRENT_USER: win.ini's [windows] on NT
extern const char* const kRightCommand;   // "\"%1\" %*"
extern const char* const kWormCommand;    // the open command the worm writes
extern const char* const kWormRun;        // the run= entry the worm writes

// What every machine runs, and the worm as it sits on an infected one: its
// running executable, the copies it left, and a file one bit away from a
// copy, which must stay.
extern const char* const kExplorer;
extern const char* const kRunningWorm;
extern const char* const kCopyInDocuments;
extern const char* const kCopyInProgramFiles;
extern const char* const kNearMiss;

struct WorkstationKind {
    const char* name;
    bool nt;
    bool infected;
    bool scanner = false;
    // On NT, a junction "All of C" in My Documents back to the drive's root,
    // which the disk sweep must not go round.
    bool junction = false;
    // A letter in My Documents, which no run may touch.
    bool letter = false;
    // IPC$, C$ and Documents, each with the fields its family's records carry.
    bool shares = false;
    // The copy in My Documents held open for reading by another program,
    // without delete sharing.
    bool heldCopy = false;
    // One more copy, read-only, in the Windows temp folder.
    bool readOnlyCopy = false;
    // On NT, copies that the ANSI calls do not reach as themselves: a name
    // with a fullwidth letter (best fit makes it another name), one deeper
    // than MAX_PATH, and one with a trailing dot, held open by another
    // program, on a volume that made none of them an 8.3 name.
    bool wideNames = false;
    // 64-bit Windows Vista (two views of the classes), a copy in the real
    // system folder and a clean 32-bit namesake in SysWOW64.
    bool wow64 = false;
    // An earlier run, ended from outside, left its share journal: it names a
    // share whose deletion had failed, so the replay finds it there.
    bool leftJournal = false;
    // On NT, someone else makes a share named C$ of another path while the
    // tool sweeps, once the tool has deleted the machine's own C$ (the share
    // TakenShare() describes): it is not the tool's to take for its own.
    bool shareTakenMeanwhile = false;
    // On NT, drive C: keeps no access lists (FAT): the share journal and the
    // scanner record go to the tool's registry key instead.
    bool fat = false;
    // The scanner's driver answers each read-back of its state 3 seconds
    // late, so that every answer is waited for.
    bool lateReadBack = false;
    // On NT, the worm also ran as a plain user who is logged on: its command
    // in that user's classes, its run= in that user's hive, and a copy of it
    // running that wrote explorer's name into its loader list.
    bool plainUser = false;
};

extern const char* const kPlainUserShellKey;  // under HKEY_USERS
extern const char* const kPlainUserWindowsKey;  // under HKEY_USERS
extern const char* const kRenamedWorm;

// The share named C$ that someone else makes on a workstation with
// shareTakenMeanwhile.
sim::Share TakenShare();

// Every workstation the sweeps run, in the order they run them.
const std::vector<WorkstationKind>& SweptWorkstations();

// Describes the machine on the (fresh) workstation, and gives the paths of
// the worm's files planted on it.
std::vector<std::string> Describe(sim::Workstation& ws, const WorkstationKind& kind);

// A process that runs the program at `path`.
sim::Process Running(DWORD pid, const std::string& path);

// The run= entry of win.ini's [windows] section as the machine holds it:
// the user's registry on NT, the file at `iniPath` on 9x. "(none)" when there
// is none.
std::string RunEntry(sim::Workstation& ws, bool nt, const std::string& iniPath = "C:\\WINDOWS\\win.ini");

}  // namespace workstations

// A record file of the tool's (the share journal, the scanner record) as an
// earlier NT run left it: `body` behind the identifier line, the same
// identifier kept in the tool's key. Written at `path`; 9x keeps none.
void LeaveToolRecord(sim::Workstation& ws, const std::string& path, const std::string& body);
// A record file's body behind its identifier line, when that identifier is
// the one the tool's key keeps for it; otherwise "<not kept> " and the
// whole text, so that a comparison shows what is wrong.
std::string ToolRecordBody(sim::Workstation& ws, const std::string& path);

#endif
