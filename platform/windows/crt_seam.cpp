// On Windows the seam is the runtime itself.
#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

FILE* CrtFopen(const char* path, const char* mode) { return fopen(path, mode); }

FILE* CrtStreamOnHandle(HANDLE file, const char* mode) {
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT);
    if (descriptor < 0) {
        CloseHandle(file);
        return nullptr;
    }
    FILE* stream = _fdopen(descriptor, mode);
    if (!stream) _close(descriptor);  // closes the handle with it
    return stream;
}

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
