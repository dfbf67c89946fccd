// The NT family's walk of the disk sweep, by wide names on "\\?\" paths, so
// that every entry is reached as itself: a name with letters the ANSI code
// page lacks, one whose trailing dot or blank or device name the ANSI calls'
// path rules would change, and any depth up to the system's limit. Each
// entry is also given in the ANSI code page: exactly, when that reaches it
// as itself (and the rest of the tool goes the ANSI way of ever), or in a
// readable form for the log, with the wide path beside it.
#ifndef KURRELFIX_CLEANUP_WIDE_WALK_H
#define KURRELFIX_CLEANUP_WIDE_WALK_H

#include "cleanup/disk_sweep.h"
#include "cleanup/walked_folders.h"
#include "platform/platform.h"

// The system's longest path, 32,767 units, and the terminator.
const size_t WideWalkPathUnits = 32768;
// The readable form of such a path: at most an escape of 8 characters for
// each of its units.
const size_t WideWalkShownSize = 8 * WideWalkPathUnits + 1;
// Each level of folders adds at least a name and a backslash.
const size_t WideWalkMaxLevels = WideWalkPathUnits / 2;

// One folder being listed.
struct WideWalkLevel {
    HANDLE search;
    size_t wideEnd;   // where the folder's path ends (after its backslash) in `wide`
    size_t shownEnd;  // the same in `shown`
    int exact;        // its ANSI path reaches it as itself
    int first;        // the entry of FindFirstFileW is still to be handled
};

// The walk's buffers, allocated once for a run, never per file or folder:
// the one wide path, its ANSI or readable form, the open levels, and the
// listing's entry in both forms.
struct WideWalk {
    WCHAR* wide;
    char* shown;
    WideWalkLevel* levels;
    WIN32_FIND_DATAW found;
    WIN32_FIND_DATAA foundAnsi;
};
// How many heap buffers a run's walk holds (the benchmark counts them).
const int WideWalkBufferCount = 3;

// 1 with the buffers, or 0 with nothing allocated.
int StartWideWalk(WideWalk* walk);
void EndWideWalk(WideWalk* walk);

// Walks the folder (an ANSI path ending with a backslash, a drive's root in
// the sweep) as WalkDirectory does, with the run's buffers and the set of
// folders walked on this drive.
int WalkWide(WideWalk* walk, const char* folder, DirectoryCallback callback, WalkedFolders* walked);

#endif
