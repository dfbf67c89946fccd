// What both walks of the disk sweep (by ANSI names on Windows 9x, by wide
// names on NT) do alike: the folders they report as not looked at, the links
// they do not enter, and the folders they enter only once.
#ifndef KURRELFIX_CLEANUP_WALK_RULES_H
#define KURRELFIX_CLEANUP_WALK_RULES_H

#include "cleanup/walked_folders.h"
#include "platform/platform.h"
#include "support/file_path.h"

extern const char UnlookedFolder[];  // "Cannot look into folder %s, error=%ld\n"
extern const char UncheckedFile[];   // "Cannot check file %s, error=%ld\n"

// A part of the disks that could not be looked at may hold the worm, so the
// run must not end saying it found none, or removed it: logged as an error
// and counted as a failure.
void ReportUnlooked(const char* format, const char* shown, DWORD error);

// A folder that is not ours to look into, as Windows keeps "System Volume
// Information", or one that went away since it was listed: said at level 4,
// and passed.
int IsPassedOver(DWORD error);
void ReportPassedOver(const char* shown, DWORD error);

// A folder of the listing (its path ending with a backslash) that is a
// reparse point: 1 when the walk enters it, which it does for a folder that
// stands for no other name and for the mount point of a fixed volume
// without a drive letter of its own; 0, with a level-4 line naming it as
// `shown` (without the backslash), for a junction or symbolic link.
int EntersReparseFolder(const WIN32_FIND_DATAA* found, const FilePath& folder, const char* shown);

// How a walk enters a folder once. Before the listing: 0 when it is not to
// be entered (walked already, or a link whose identity cannot be read; said
// and counted as its kind asks), else 1 with what it knows of the folder.
struct FolderVisit {
    FolderId id;
    int known;
};
int MayEnterFolder(const FilePath& folder, DWORD attributes, WalkedFolders* walked, FolderVisit* visit);
// Once it lists: remembered, so that no other road enters it again; 0 (said
// and counted) when the table could not grow.
int RememberEnteredFolder(const FilePath& folder, WalkedFolders* walked, const FolderVisit* visit);

#endif
