// Deleting one file that the signature matcher has just confirmed to be the
// worm, shared by the process sweep and the disk sweep.
#ifndef KURRELFIX_CLEANUP_WORM_FILE_H
#define KURRELFIX_CLEANUP_WORM_FILE_H

#include "cleanup/signature_matcher.h"
#include "support/replace_file.h"

// Deletes the copy the matcher found at `path` through ReplaceMatchedFile:
// on NT only that very file, and only while it still matches, with a
// read-only attribute cleared first (a read-only file is refused by the
// delete, and by the boot-time delete too, so it would stay for good); on
// Windows 9x by its path, the read-only attribute cleared by path first.
// Logs "Deleting file" with the result and counts a failure for results 3
// and 4, when the read-only attribute could not be cleared, and when a file
// left for the boot may be read-only (its attributes could not be read).
// Returns the deletion's result.
// A file that only its wide path reaches (NT) goes by the wide calls, and the
// lines name it as `path.shown`.
ReplaceResult DeleteWormFile(const FilePath& path, const WormCopy* copy);

#endif
