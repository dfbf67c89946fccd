// Tells whether a file on disk is a copy of the worm: the CRC-32 of fixed
// regions of the file is compared with a built-in table of known values.
// The matcher only reads files and reports nothing.
#ifndef KURRELFIX_CLEANUP_SIGNATURE_MATCHER_H
#define KURRELFIX_CLEANUP_SIGNATURE_MATCHER_H

#include "platform/platform.h"
#include "support/crc32.h"
#include "support/file_identity.h"
#include "support/file_path.h"

// One region of a file and the CRC-32 that a copy of the worm has there.
// A length of 0 ends a table.
struct SignatureEntry {
    DWORD offset;
    DWORD length;
    DWORD crc;
};

// The worm's known regions: 19 entries and the end entry.
extern const SignatureEntry SignatureTable[20];

// Every region is read into this one buffer, so no file costs an allocation.
// Longer regions are never read and never match.
const DWORD RegionBufferSize = 12288;

// Tests the file against a table. *index gets the first matching entry's
// index, or -1. Returns 1 when the file could be opened (match or not), 0 when
// it could not.
int MatchSignatures(const char* path, const SignatureEntry* table, int* index);

// The same test of a file that is already open (for reading).
int MatchSignaturesOfOpenFile(HANDLE file, const SignatureEntry* table, int* index);

// Tests the file against SignatureTable. *found gets 1 on a match, else 0.
// Returns what MatchSignatures returned.
int ScanFile(const char* path, int* found);

// 1 when the file is a copy of the worm, 0 otherwise (also when it cannot be
// opened). The shape of the test that the process sweep is handed.
int IsInfectedFile(const char* path);

// A copy of the worm as the matcher found it: what the file system calls the
// file it read, taken from the handle that read it before it was closed, so
// that what is deleted later can be told to be this very file. Nothing is
// read for a clean file.
struct WormCopy {
    FileIdentity identity;
    int identified;  // 0 when the identity could not be read
};

// IsInfectedFile, and for a copy of the worm its identity in *copy.
int IsInfectedCopy(const char* path, WormCopy* copy);
// The same for a file by its ANSI path or by its wide one, opened with the
// same access and sharing either way.
int IsInfectedCopyAt(const FilePath& path, WormCopy* copy);

// 1 when the file open on the handle (for reading) is still a copy of the worm.
int IsStillInfected(HANDLE file);

#endif
