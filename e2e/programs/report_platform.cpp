// Reports what the tool's own queries make of the Windows it runs on:
//   report_platform.exe  ->  "platform 1 family 1 nt 0" on a 9x-family Windows
// so that a scenario can be sure which family its prefix plays.
#include <stdio.h>
#include <string.h>

#include "support/system_queries.h"

int main() {
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) {
        printf("GetVersionExA failed %ld\n", (long)GetLastError());
        return 1;
    }
    printf("platform %lu family %d nt %d\n", (unsigned long)info.dwPlatformId, GetOsFamily(),
           IsWindowsNT());
    return 0;
}
