// What the settings repair relies on from the platform, printed for a Wine
// scenario to compare with what the simulated workstation does:
// - the profile functions' section "windows" of win.ini, which the NT family
//   keeps in the registry while other sections stay in the file;
// - RegOpenKeyExA reporting through its result and leaving the last error.
#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

static void PrintEntry(const char* label, const char* section, const char* key, const char* fallback) {
    char buffer[MAX_PATH];
    memset(buffer, 'Z', sizeof(buffer));
    DWORD count = GetProfileStringA(section, key, fallback, buffer, sizeof(buffer));
    printf("%s: %lu [%s]\n", label, (unsigned long)count, buffer);
}

int main() {
    PrintEntry("windows run", "windows", "run", "");
    PrintEntry("other run", "other", "run", "");
    printf("write: %d\n", (int)WriteProfileStringA("windows", "run", ""));
    PrintEntry("windows run after", "windows", "run", "dflt");
    PrintEntry("windows missing", "windows", "missing", "dflt");

    HKEY key = nullptr;
    SetLastError(1234);
    LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\nothing", 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    printf("open missing key: %ld, last error %lu\n", (long)status, (unsigned long)GetLastError());
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return 0;
}
