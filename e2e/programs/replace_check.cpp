// Runs ReplaceFile as the sweeps do (an empty directory, the full path, no
// new name) on each path given, and prints one line each:
//   replace_check.exe [/LOG FILE] PATH...
//   ->  "C:\Data\a file.txt: 2 short C:\DATA\AFILE~1.TXT"
// The short form ("-" when there is none) is taken before the call, so that
// a scenario can find the entry that the call leaves in WININIT.INI. With
// /LOG the trace lines go to FILE.
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"
#include "support/replace_file.h"
#include "trace/trace_log.h"

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "/LOG") == 0) {
        SetLogFile(argv[2], "a+");
        first = 3;
    }
    for (int i = first; i < argc; ++i) {
        char shortPath[MAX_PATH];
        DWORD length = GetShortPathNameA(argv[i], shortPath, sizeof(shortPath));
        if (length == 0 || length >= sizeof(shortPath)) strcpy(shortPath, "-");
        int result = ReplaceFile("", argv[i], nullptr);
        printf("%s: %d short %s\n", argv[i], result, shortPath);
        fflush(stdout);
    }
    return 0;
}
