// Plays a plain user logged on while the tool runs: the hive "<SID>" and the
// classes "<SID>_Classes" under HKEY_USERS, laid out as Windows lays them
// (the user's Software\Classes is a link to <SID>_Classes), holding the
// worm's open command and its run= as the worm running as that user writes
// them. Wine keeps keys made directly under HKEY_USERS only while its server
// runs, so the program stays until STOPFILE appears (at most 300 seconds).
//   user_hive.exe SID READY STOPFILE [rewrite]
// READY is created once the keys are in place. With "rewrite" the worm's
// command is written back every second, as a worm still running as that
// user would.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static const char WormCommand[] = "C:\\Users\\ann\\kurrel.exe \"%1\" %*";
static const char WormRun[] = "C:\\Users\\ann\\kurrel.exe";

static int SetText(HKEY root, const char* path, const char* name, const char* text) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        printf("cannot make %s: %ld\n", path, (long)status);
        return 0;
    }
    status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), (DWORD)strlen(text) + 1);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) printf("cannot write %s: %ld\n", path, (long)status);
    return status == ERROR_SUCCESS;
}

// <SID>\Software\Classes as a registry link to \Registry\User\<SID>_Classes.
static int LinkClasses(const char* sid) {
    char path[512];
    snprintf(path, sizeof(path), "%s\\Software\\Classes", sid);
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_USERS, path, 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        printf("cannot make the link %s: %ld\n", path, (long)status);
        return 0;
    }
    WCHAR target[512];
    int length = swprintf(target, 512, L"\\Registry\\User\\%hs_Classes", sid);
    status = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target),
                            (DWORD)(length * sizeof(WCHAR)));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) printf("cannot point the link: %ld\n", (long)status);
    return status == ERROR_SUCCESS;
}

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: user_hive.exe SID READY STOPFILE [rewrite]\n");
        return 2;
    }
    const char* sid = argv[1];
    bool rewrite = argc == 5 && strcmp(argv[4], "rewrite") == 0;
    char classes[512];
    char windows[512];
    snprintf(classes, sizeof(classes), "%s_Classes\\exefile\\shell\\open\\command", sid);
    snprintf(windows, sizeof(windows), "%s\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", sid);
    if (!SetText(HKEY_USERS, classes, nullptr, WormCommand) || !SetText(HKEY_USERS, windows, "run", WormRun) ||
        !LinkClasses(sid))
        return 1;
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);
    for (int second = 0; second < 300; ++second) {
        if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
        if (rewrite) SetText(HKEY_USERS, classes, nullptr, WormCommand);
        Sleep(1000);
    }
    return 0;
}
