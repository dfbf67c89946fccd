// Deletes a file, or moves one file onto another name, at once where it can,
// and leaves the same change for the next boot when the file is held.
#ifndef KURRELFIX_SUPPORT_REPLACE_FILE_H
#define KURRELFIX_SUPPORT_REPLACE_FILE_H

#include "platform/platform.h"

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

#endif
