// A file as the tool names it to the system. On the NT family the sweep
// reaches some names only by their UTF-16 form on a "\\?\" path: a name with
// letters the ANSI code page lacks (on a volume without 8.3 names, or turned
// into another name by the code page's best fit), one whose trailing dot or
// blank, or device name ("nul.exe"), the ANSI calls' path rules would change,
// and any path of MAX_PATH characters or more. Such a file is opened, deleted
// and left for the boot by the wide calls; every other file by the ANSI ones.
#ifndef KURRELFIX_SUPPORT_FILE_PATH_H
#define KURRELFIX_SUPPORT_FILE_PATH_H

#include "platform/platform.h"

struct FilePath {
    const char* ansi;   // the ANSI path that reaches the file as itself, or nullptr
    const WCHAR* wide;  // else its "\\?\" path
    const char* shown;  // how the log names it (the ANSI path, or the readable form)
};

// A file by its ANSI path alone.
FilePath AnsiFilePath(const char* path);

// CreateFileA or CreateFileW of the path (OPEN_EXISTING, no security, no
// template), whichever names it.
HANDLE OpenFilePath(const FilePath& path, DWORD access, DWORD share, DWORD flags);

#endif
