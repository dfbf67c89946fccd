// On Windows the seam is the runtime itself.
#include "platform/platform.h"

#include <stdlib.h>

FILE* CrtFopen(const char* path, const char* mode) { return fopen(path, mode); }

int CrtRemove(const char* path) { return remove(path); }

int CrtRename(const char* oldPath, const char* newPath) { return rename(oldPath, newPath); }

void* AllocBuffer(size_t size) { return malloc(size); }

void FreeBuffer(void* buffer) { free(buffer); }
