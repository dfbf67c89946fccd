#include "cleanup/settings_repair.h"

#include <stdio.h>
#include <string.h>

#include "app/outcome.h"
#include "platform/platform.h"
#include "trace/trace_log.h"

namespace {

const char* const ShellKey = "exefile\\shell\\open\\command";
// "%1" %*: the seven characters and the NUL are written.
const char ShellCommand[] = "\"%1\" %*";
const DWORD ShellCommandSize = sizeof(ShellCommand);
const DWORD ShellValueSize = 260;
const DWORD ShellKeyAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;
const DWORD RecheckDelayMs = 15000;

// Reads the default value; 1 when it could be read and is the right command.
// The buffer is cleared first, so that a value stored without its NUL is
// still compared as text; the value's type is not looked at.
int ReadShellCommand(HKEY key, LONG* status, int* right) {
    char value[ShellValueSize];
    memset(value, 0, sizeof(value));
    DWORD size = ShellValueSize;
    *status = RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(value), &size);
    *right = 0;
    if (*status != ERROR_SUCCESS) return 0;
    // Only a value shorter than the buffer can equal the command, so the
    // comparison never runs past it.
    *right = strncmp(value, ShellCommand, sizeof(value)) == 0 ? 1 : 0;
    return 1;
}

}  // namespace

// The registry functions report through their result and leave the thread's
// last error as it was, so each error line carries the code that the call
// returned: the last error would show whatever an earlier call left behind.
int RestoreShellCommand() {
    if (GetInfectionState() != InfectionPresent) {
        PrintAndLog("%s", "Infection was not found, the shell key is not updated\n");
        return 1;
    }

    // First pass: look, and put the command back when it is wrong or unreadable.
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, ShellKey, 0, ShellKeyAccess, &key);
    if (status != ERROR_SUCCESS) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegOpenKeyEx error %d\n", (int)status);
        return 0;
    }
    int right = 0;
    ReadShellCommand(key, &status, &right);
    if (right) {
        printf("Workstation is not infected!\n");
        SetInfectionState(InfectionCleaned);
        RegCloseKey(key);
        return 1;
    }
    printf("Update shell key\n");
    int firstResult = 1;
    status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(ShellCommand),
                            ShellCommandSize);
    if (status != ERROR_SUCCESS) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegSetValueEx error %d\n", (int)status);
        firstResult = 0;
    }
    RegCloseKey(key);

    // Second pass: a worm still running writes its command back; give it
    // time, then the value decides whether the machine is clean.
    status = RegOpenKeyExA(HKEY_CLASSES_ROOT, ShellKey, 0, ShellKeyAccess, &key);
    if (status != ERROR_SUCCESS) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegOpenKeyEx error %d\n", (int)status);
        return 0;
    }
    printf("Wait 15 sec and re-check shell key ... ");
    fflush(stdout);
    Sleep(RecheckDelayMs);
    if (!ReadShellCommand(key, &status, &right)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegQueryValueEx error %d\n", (int)status);
        RegCloseKey(key);
        return firstResult;
    }
    int result = 0;
    if (right) {
        printf(" Infection is cleaned!\n");
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "Infection is cleaned!\n");
        SetInfectionState(InfectionCleaned);
        result = 1;
    } else {
        printf(" Infection is still avaliable!\n");
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "Infection is still avaliable!\n");
        SetInfectionState(InfectionPresent);
    }
    RegCloseKey(key);
    return result;
}

void CleanWinIniRun() {
    // The joined names must fit their buffers: a Windows directory that is
    // unknown or too long would name some other file (a bare "win.ini" in the
    // current folder, or a cut path), so then nothing is copied or changed,
    // and that counts as a failed backup.
    char directory[MAX_PATH];
    memset(directory, 0, sizeof(directory));
    UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
    int known = length > 0 && length < MAX_PATH;
    size_t used = strlen(directory);
    if (known && used > 3 && used + 1 < sizeof(directory)) strcat(directory, "\\");
    char iniPath[MAX_PATH];
    char backupPath[MAX_PATH];
    int iniLength = snprintf(iniPath, sizeof(iniPath), "%s%s", directory, "win.ini");
    int backupLength = snprintf(backupPath, sizeof(backupPath), "%s%s", directory, "win.bak");
    if (!known || iniLength >= (int)sizeof(iniPath) || backupLength >= (int)sizeof(backupPath)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "cannot make win.ini backup copy error =%ld\n",
                 (long)ERROR_FILENAME_EXCED_RANGE);
        CountFailure();
        return;
    }

    if (!CopyFileA(iniPath, backupPath, FALSE)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "cannot make win.ini backup copy error =%ld\n",
                 (long)GetLastError());
        CountFailure();
        return;
    }

    char run[MAX_PATH];
    memset(run, 0, sizeof(run));
    if (GetProfileStringA("windows", "run", "", run, sizeof(run)) == 0) return;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "win.ini run=%s, removing\n", run);
    // An empty text, not a null pointer: the entry stays as an empty "run=".
    // An entry left in place starts the worm again at the next logon.
    if (!WriteProfileStringA("windows", "run", "")) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "cannot remove win.ini run= entry error =%ld\n",
                 (long)GetLastError());
        CountFailure();
    }
}
