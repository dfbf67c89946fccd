// The fixed-disk sweep: every file on every fixed drive is tested with the
// signature matcher, and every copy of the worm is deleted.
#ifndef KURRELFIX_CLEANUP_DISK_SWEEP_H
#define KURRELFIX_CLEANUP_DISK_SWEEP_H

#include "platform/platform.h"

// Called by WalkDirectory for every entry below the folder it walks: the
// entry's full path, its find data as the listing gave it (in the ANSI code
// page), and 1 for a folder (its path then has no trailing backslash) or 0
// for anything else. On the NT family, an entry that its ANSI path does not
// reach as itself (a name with letters the code page lacks, a trailing dot
// or blank, a device's name, a path of MAX_PATH characters or more) comes
// with `widePath`, its "\\?\" path, which the wide calls reach it by;
// `path` is then only its readable form for the log. `widePath` is nullptr
// for every other entry. Paths and find data are valid only during the
// call. 0 lets the walk go on; any other value stops it and comes back
// unchanged from WalkDirectory and SweepFixedDisks.
typedef int (*DirectoryCallback)(const char* path, const WIN32_FIND_DATAA* findData, int isDirectory,
                                 const WCHAR* widePath);

// Each level of the walk has a heap buffer of this size for its paths.
const size_t WalkPathBufferSize = 64000;
// GetLogicalDriveStringsA's answer is read into this many bytes.
const DWORD DriveListBufferSize = 256;

// Walks every fixed drive from its root, each as WalkDirectory does. 0 when
// all were walked to the end (or no drive list could be read), else the first
// non-zero value of a walk; the drives after it are not visited.
int SweepFixedDisks(DirectoryCallback callback);

// Walks the folder and everything below it, each folder reported before its
// contents. It enters no junction or symbolic link (what one leads to on the
// fixed disks is walked where it is), but the mount point of a fixed volume
// without a drive letter; and a folder that an unmarked link leads to only
// the first time the walk comes to it (it is still reported each time), so
// a link back up the tree closes no loop.
// The path ends with a backslash ("C:\" or "C:\dir\"). 0 when the
// walk ended, the callback's non-zero value when it stopped it, 1 when the
// walk's buffers could not be allocated. With no callback it only descends.
// On the NT family it lists by wide names, as deep as the system allows; on
// Windows 9x by ANSI names, each level with a path buffer of its own, and an
// entry whose path would not fit that buffer (with room for a folder's
// "\*.*") is passed over.
int WalkDirectory(const char* path, DirectoryCallback callback);

// The sweep's callback: deletes an infected file through ReplaceFile and
// counts a failed deletion. Always 0, so the walk never stops for it.
int DeleteIfInfected(const char* path, const WIN32_FIND_DATAA* findData, int isDirectory, const WCHAR* widePath);

#endif
