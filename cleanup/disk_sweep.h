// The fixed-disk sweep: every file on every fixed drive is tested with the
// signature matcher, and every copy of the worm is deleted.
#ifndef KURRELFIX_CLEANUP_DISK_SWEEP_H
#define KURRELFIX_CLEANUP_DISK_SWEEP_H

#include "platform/platform.h"

// Called by WalkDirectory for every entry below the folder it walks: the
// entry's full path, its find data as the listing gave it, and 1 for a folder
// (its path then has no trailing backslash) or 0 for anything else. Path and
// find data are valid only during the call. 0 lets the walk go on; any other
// value stops it and comes back unchanged from WalkDirectory and
// SweepFixedDisks.
typedef int (*DirectoryCallback)(const char* path, const WIN32_FIND_DATAA* findData,
                                 int isDirectory);

// Each level of the walk has a heap buffer of this size for its paths.
const size_t WalkPathBufferSize = 64000;
// GetLogicalDriveStringsA's answer is read into this many bytes.
const DWORD DriveListBufferSize = 256;

// Walks every fixed drive from its root, each as WalkDirectory does. 0 when
// all were walked to the end (or no drive list could be read), else the first
// non-zero value of a walk; the drives after it are not visited.
int SweepFixedDisks(DirectoryCallback callback);

// Walks the folder and everything below it, each folder reported before its
// contents. A folder that a junction or link leads to is entered only the
// first time the walk comes to it (it is still reported each time), so a link
// back up the tree closes no loop.
// The path ends with a backslash ("C:\" or "C:\dir\"). 0 when the
// walk ended, the callback's non-zero value when it stopped it, 1 when a
// level's path buffer could not be allocated. With no callback it only
// descends. An entry whose path would not fit the level's buffer (with room
// for a folder's "\*.*") is passed over.
int WalkDirectory(const char* path, DirectoryCallback callback);

// The sweep's callback: deletes an infected file through ReplaceFile and
// counts a failed deletion. Always 0, so the walk never stops for it.
int DeleteIfInfected(const char* path, const WIN32_FIND_DATAA* findData, int isDirectory);

#endif
