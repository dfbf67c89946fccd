// Deleting one file that the signature matcher has just confirmed to be the
// worm, shared by the process sweep and the disk sweep.
#ifndef KURRELFIX_CLEANUP_WORM_FILE_H
#define KURRELFIX_CLEANUP_WORM_FILE_H

#include "support/replace_file.h"

// Clears the file's read-only attribute (a read-only file is refused by the
// delete, and by the boot-time delete too, so it would stay for good), then
// deletes it through ReplaceFile, logs "Deleting file" with the result and
// counts a failure for results 3 and 4, when the read-only attribute could
// not be cleared, and when a file left for the boot may be read-only (its
// attributes could not be read). Returns ReplaceFile's result.
ReplaceResult DeleteWormFile(const char* path);

#endif
