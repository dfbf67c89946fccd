// The whole-run workstations that the fault sweep cleans again and again:
// infected and clean machines of both families, with and without the maker's
// scanner.
#ifndef KURRELFIX_TESTS_FAULT_SWEEP_WORKSTATIONS_H
#define KURRELFIX_TESTS_FAULT_SWEEP_WORKSTATIONS_H

#include <string>
#include <vector>

#include "sim/workstation.h"

namespace fault_sweep {

extern const char* const kShellKey;       // under HKEY_CLASSES_ROOT
extern const char* const kShellKey32;     // its 32-bit copy on 64-bit Windows
extern const char* const kNtWindowsKey;   // under HKEY_CURRENT_USER: win.ini's [windows] on NT
extern const char* const kRightCommand;   // "\"%1\" %*"

struct WorkstationKind {
    const char* name;
    bool nt;
    bool infected;
    bool scanner;
    // 64-bit Windows Vista (two views of the classes), a copy in the real
    // system folder and a clean 32-bit namesake in SysWOW64.
    bool wow64 = false;
    // An earlier run, ended from outside, left its share journal: it names a
    // share whose deletion had failed, so the replay finds it there.
    bool leftJournal = false;
};

// Every workstation the sweep runs, in the order it runs them.
const std::vector<WorkstationKind>& Workstations();

// Describes the machine on the (fresh) workstation, and gives the paths of
// the worm's files planted on it.
void Describe(sim::Workstation& ws, const WorkstationKind& kind, std::vector<std::string>* wormFiles);

// The run= entry of win.ini's [windows] section as the machine holds it:
// the user's registry on NT, the file on 9x. "(none)" when there is none.
std::string RunEntry(sim::Workstation& ws, const WorkstationKind& kind);

}  // namespace fault_sweep

#endif
