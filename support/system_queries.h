// Small stateless questions to the platform: which Windows family, whether we
// are an administrator, privileges, services, registry values, files.
#ifndef KURRELFIX_SUPPORT_SYSTEM_QUERIES_H
#define KURRELFIX_SUPPORT_SYSTEM_QUERIES_H

#include "platform/platform.h"
#include "support/file_path.h"

// 0 other (or the query failed), 1 Windows 9x, 2 Windows NT.
typedef int OsFamily;
const OsFamily OsOther = 0;
const OsFamily OsWindows9x = 1;
const OsFamily OsWindowsNT = 2;

int IsWindowsNT();
OsFamily GetOsFamily();
int IsAdmin();
int SetPrivilege(HANDLE token, const char* privilegeName, int enable);
int IsServiceRunning(const char* serviceName);
int FileExist(const char* path);
// FileExist for a file by its ANSI path, or (NT) by its wide one: opened for
// reading as the runtime's fopen opens it, with the same lines.
int FileExistAt(const FilePath& path);

// Status codes of ReadRegistryPath.
const int RegistryPathRead = 0;
const int RegistryPathNoKey = 1;
const int RegistryPathNoValue = 2;
const int RegistryPathTooLarge = 3;
const int RegistryPathMalformed = 4;
const int RegistryPathNoMemory = 100;

// Reads one value addressed as "ROOT\key\path\\value|default". The data is
// not terminated: a caller reading a string clears its buffer first.
int ReadRegistryPath(void* buffer, DWORD bufferSize, const char* textPath);

#endif
