// The rename request file "VTSL.REN": a list of file renames that the
// scanner's service carries out at the next boot. We write it when a file has
// to be renamed at boot on NT without administrator rights; the service reads
// it with OpenRenameRequestFile for reading and the same validity rules.
//
// Layout: a 16-byte header (four little-endian 32-bit numbers: tick count,
// OEM id, CRC-32 of the plain body, processor type), then the scrambled body:
// pairs of NUL-terminated paths (existing, new), then one more NUL.
#ifndef KURRELFIX_SUPPORT_RENAME_REQUEST_FILE_H
#define KURRELFIX_SUPPORT_RENAME_REQUEST_FILE_H

#include <stdio.h>

#include "platform/platform.h"

// Status of the rename request file operations.
typedef int RenameFileStatus;
const RenameFileStatus RenameFileOk = 0;
const RenameFileStatus RenameFileNoMemory = 1;
const RenameFileStatus RenameFileNoInstallPath = 2;
const RenameFileStatus RenameFileCannotOpen = 3;
const RenameFileStatus RenameFileIoFailed = 4;
const RenameFileStatus RenameFileCloseFailed = 5;
const RenameFileStatus RenameFileTooShort = 7;
const RenameFileStatus RenameFileTooLong = 8;
const RenameFileStatus RenameFileBadChecksum = 9;
const RenameFileStatus RenameFileBadList = 10;

struct RenameRequestHeader {
    DWORD tickCount;
    DWORD oemId;
    DWORD bodyCrc;
    DWORD processorType;
};

const DWORD RenameRequestHeaderSize = 16;
const long RenameRequestMaxFileSize = 8192;

// The header as it lies in the file, byte for byte.
void StoreRenameRequestHeader(const RenameRequestHeader& header,
                              unsigned char bytes[RenameRequestHeaderSize]);
RenameRequestHeader LoadRenameRequestHeader(const unsigned char bytes[RenameRequestHeaderSize]);

// The scrambling keys, shared with the scanner's service.
extern const unsigned char RenameKeyA[16];
extern const unsigned char RenameKeyB[17];

// Scrambles a body in place, or unscrambles it: the operation is its own inverse.
void ScrambleRenameBody(unsigned char* buffer, DWORD length);

// The install directory shared by the maker's products, from the registry.
// 0 on success; -1 when the key or value cannot be read or the value is not
// REG_SZ; -2 when the value does not fit the buffer.
int ReadInstallPath(char* buffer, DWORD size);

// Joins an install directory and "VTSL.REN" as the scanner's service does.
// 1 on success; 0 when the result would not fit the buffer (nothing written).
int ComposeRenameRequestPath(const char* installPath, char* path, size_t size);

// write 1: creates the file anew and writes its header; body must be none.
// write 0: reads and checks the whole file; on success *body receives the
// unscrambled body (the caller releases it with FreeBuffer) and the stream is
// returned at the end of the file. On failure no stream is left open.
FILE* OpenRenameRequestFile(int write, char** body, RenameFileStatus* status);

// Appends one pair. 1 on success, 0 on failure.
int AddRenameRequest(FILE* stream, const char* existingPath, const char* newPath,
                     RenameFileStatus* status);

// Ends the list, checksums and scrambles the body, and closes the stream.
// The stream is released whatever happens. 1 on success, 0 on failure.
int CloseRenameRequestFile(FILE* stream, RenameFileStatus* status);

#endif
