// Holds a file open the way a program that uses it does: for reading, sharing
// reading only, so that deleting or renaming the file is refused with a
// sharing violation while reading it still works.
//   hold_file.exe PATH [MARKER]
// Once the file is held it creates MARKER (when given) and prints
// "holding PATH"; then it waits until it is ended.
#include <windows.h>

#include <stdio.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: hold_file.exe PATH [MARKER]\n");
        return 2;
    }
    HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        printf("cannot hold %s: error %lu\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
    // The marker tells a waiting scenario that the file is held from now on.
    if (argc > 2) {
        HANDLE marker = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
    printf("holding %s\n", argv[1]);
    fflush(stdout);
    for (;;) Sleep(INFINITE);
}
