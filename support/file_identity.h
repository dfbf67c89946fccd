// What the file system calls a file or folder: its volume's serial number
// and its file index, read from an open handle. A path only says where to
// look at the moment it is resolved; between two calls a plain user may
// rename a folder of theirs and put a junction in its place, but the file a
// handle was opened on keeps its identity.
#ifndef KURRELFIX_SUPPORT_FILE_IDENTITY_H
#define KURRELFIX_SUPPORT_FILE_IDENTITY_H

#include "platform/platform.h"

struct FileIdentity {
    DWORD volumeSerial;
    DWORD indexHigh;
    DWORD indexLow;
};

// 1 with the identity (and, when asked for, the attributes) of the file or
// folder the handle is open on; 0 with the error.
int ReadFileIdentity(HANDLE file, FileIdentity* identity, DWORD* attributes, DWORD* error);

int SameFileIdentity(const FileIdentity& a, const FileIdentity& b);

#endif
