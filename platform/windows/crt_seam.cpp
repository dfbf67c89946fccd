// On Windows the seam is the runtime itself.
#include "platform/platform.h"

#include <stdlib.h>
#include <string.h>

FILE* CrtFopen(const char* path, const char* mode) { return fopen(path, mode); }

int CrtRemove(const char* path) { return remove(path); }

int CrtRename(const char* oldPath, const char* newPath) { return rename(oldPath, newPath); }

void* AllocBuffer(size_t size) { return malloc(size); }

void FreeBuffer(void* buffer) { free(buffer); }

int ShareNameToAnsi(const WCHAR* name, char* text, size_t size) {
    if (size == 0) return 0;
    // _snprintf leaves the text unterminated when it is cut.
    int written = _snprintf(text, size - 1, "%S", name);
    text[size - 1] = '\0';
    if (written < 0) written = static_cast<int>(strlen(text));
    return written;
}
