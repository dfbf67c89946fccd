// A library dropped beside Kurrelfix.exe under the name of a system library,
// as someone who may write to the deployment share could drop one. It does
// nothing but leave C:\planted-<name>.marker, naming the program that loaded
// it, the moment a process loads it: a scenario that finds no marker knows
// that the tool never ran it. Test-only; never part of the tool or its release.
#include <windows.h>

#ifndef PLANTED_NAME
#error "PLANTED_NAME is the name of the system library this file stands in for"
#endif

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    // Appended, so that every process that loaded it shows.
    HANDLE marker = CreateFileA("C:\\planted-" PLANTED_NAME ".marker", FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return TRUE;
    char line[MAX_PATH + 2];
    DWORD length = GetModuleFileNameA(nullptr, line, MAX_PATH);
    if (length >= MAX_PATH) length = 0;
    line[length++] = '\r';
    line[length++] = '\n';
    DWORD written = 0;
    WriteFile(marker, line, length, &written, nullptr);
    CloseHandle(marker);
    // Loading succeeds, as a planted library's would.
    return TRUE;
}
