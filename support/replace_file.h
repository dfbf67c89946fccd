// Deletes a file, or moves one file onto another name, at once where it can,
// and leaves the same change for the next boot when the file is held.
#ifndef KURRELFIX_SUPPORT_REPLACE_FILE_H
#define KURRELFIX_SUPPORT_REPLACE_FILE_H

#include "platform/platform.h"
#include "support/file_identity.h"
#include "support/file_path.h"

// The Windows headers make ReplaceFile a macro for their ReplaceFileA. Left
// alone, this function would be compiled under that name wherever a file
// happened to include the Windows headers first, and under its own name
// elsewhere; the name is taken back here, so every file sees the one ours.
#ifdef ReplaceFile
#undef ReplaceFile
#endif

// Result of ReplaceFile; callers test it by number.
typedef int ReplaceResult;
const ReplaceResult ReplaceNothingToDo = 0;  // no such file, or not a file to delete
const ReplaceResult ReplaceDone = 1;         // deleted or renamed now
const ReplaceResult ReplaceScheduled = 2;    // left for the next boot
const ReplaceResult ReplacePartlyDone = 3;   // destination gone, source not renamed
const ReplaceResult ReplaceFailed = 4;       // nothing changed, and nothing scheduled

// Directory and names are joined without a separator: the directory is empty
// or ends with a backslash. With no new name the file is deleted; with one it
// is renamed to directory + new name, replacing a file there.
ReplaceResult ReplaceFile(const char* directory, const char* name, const char* newName);

// The file a caller matched: what the file system calls it, read from the
// handle that matched it, and the caller's test that the file behind an open
// handle still matches (its contents, read again through that handle).
typedef int (*StillMatches)(HANDLE file);
struct MatchedFile {
    FileIdentity identity;
    int identified;  // 0: the identity could not be read when it matched
    StillMatches stillMatches;
};

// The delete form of ReplaceFile for a file that the caller matched, with its
// lines and results. On the NT family the file is opened without following
// a reparse point at its name, and only when that handle is on the very file
// that matched (its identity) and the file still matches is it changed:
// a read-only attribute cleared and the file deleted, both through the
// handle. A file that is not the one that matched is left alone (a level-1
// line, result 4). A file that cannot be deleted now is left for the boot
// only when no one but administrators can change its path before then;
// otherwise a level-1 line says why, and the result is 4. `readOnlyStays`
// is set when a read-only attribute could not be cleared, so that even a
// deletion at the boot would be refused. Windows 9x has no links: there
// the path is deleted as ReplaceFile deletes it.
// A file that only its wide path reaches (NT) goes the same way by the wide
// calls, its lines naming it as `shown`.
ReplaceResult ReplaceMatchedFile(const FilePath& path, const MatchedFile* matched, int* readOnlyStays);

#endif
