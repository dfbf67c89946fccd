// The C runtime calls that touch the machine's files, and the allocations whose
// failure the tool handles. On Windows these are the runtime's own; on the host
// the simulated workstation resolves Windows paths in its file system and hands
// back an ordinary FILE* with Windows text-mode line ends.
#ifndef KURRELFIX_PLATFORM_CRT_SEAM_H
#define KURRELFIX_PLATFORM_CRT_SEAM_H

#include <stddef.h>
#include <stdio.h>

// For WCHAR; that header includes this one after declaring it.
#include "platform/platform.h"

// fopen, remove and rename of the Windows C runtime, errno set as it sets it.
FILE* CrtFopen(const char* path, const char* mode);
int CrtRemove(const char* path);
int CrtRename(const char* oldPath, const char* newPath);
// A stream over a file the caller opened itself (_open_osfhandle and
// _fdopen): the stream then owns the handle, and fclose closes it. On
// failure the handle is closed too.
FILE* CrtStreamOnHandle(HANDLE file, const char* mode);

// Heap buffers whose allocation failure the tool reports or survives.
void* AllocBuffer(size_t size);
void FreeBuffer(void* buffer);

// A share name in UTF-16 as the runtime's sprintf "%S" turns it into 8-bit
// text, cut to fit `size` bytes and always terminated; the length written.
int ShareNameToAnsi(const WCHAR* name, char* text, size_t size);

#endif
