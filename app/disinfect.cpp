#include "app/disinfect.h"

#include <stdio.h>

#include "app/outcome.h"
#include "cleanup/disk_sweep.h"
#include "cleanup/network_shares.h"
#include "cleanup/process_sweep.h"
#include "cleanup/signature_matcher.h"
#include "cleanup/settings_repair.h"
#include "protection/scanner_record.h"
#include "trace/trace_log.h"

int Disinfect_Kurrel(int* resultSlot, DWORD reserved2, const char* wormName, DWORD reserved4,
                     DWORD interfaceVersion, DWORD reserved6, const char* fileMask,
                     DWORD reserved8, DWORD reserved9, DWORD reserved10, DWORD reserved11) {
    (void)reserved2;
    (void)wormName;
    (void)reserved4;
    (void)reserved6;
    (void)reserved8;
    (void)reserved9;
    (void)reserved10;
    (void)reserved11;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "[VTSU - Disinfect_Kurrel]\n");
    if ((interfaceVersion & 0xFFFF) != 1 || fileMask == nullptr) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "%s",
                 "[VTSU - Disinfect_Kurrel]: Wrong arguments.\n");
        if (resultSlot) *resultSlot = 4;
        return 0;
    }
    // No stage's result stops the sequence: every later stage runs whatever
    // an earlier one reported, and the scanner is always switched back on.

    // An earlier run that died with the scanner off left its record: the
    // scanner goes back on before anything else.
    ResumeScanningLeftOff();

    // The maker's on-access scanner is off from before the first cleaning
    // stage until after the last, and written down as off meanwhile.
    SuspendScanning();

    // The shares go off the network before the sweeps, so that no other
    // machine reads or writes a worm file while the tool works on it.
    int sharesRemoved = RemoveShares(stdout);
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Removed all network shares, success=%d\n",
             sharesRemoved);

    // Running copies go first: a worm that is running holds its file and
    // would write itself back while the disks are swept.
    printf("find and kill all Kurrel tasks in memory ... \n");
    KillInfectedProcesses(IsInfectedCopyAt);
    printf("scan all hard disks and delete all Kurrel files, it will take a while ...\n");
    SweepFixedDisks(DeleteIfInfected);

    // The shell command is repaired after the sweeps, so that a worm they
    // missed shows itself by writing its command back during the wait.
    int shellRestored = RestoreShellCommand();
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Restore shell, success=%d\n", shellRestored);
    if (GetOutcomeCode() == 1) {
        printf("clean up Win.ini\n");
        CleanWinIniRun();
    }
    int sharesRestored = RestoreShares(stdout);
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Restore shares, success=%d\n", sharesRestored);

    // A scanner left off is a failure of the run: the next run switches it on.
    if (!ResumeScanning()) CountFailure();
    return 1;
}
