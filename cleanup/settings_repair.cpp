#include "cleanup/settings_repair.h"

#include <stdio.h>
#include <string.h>

#include "app/outcome.h"
#include "platform/platform.h"
#include "cleanup/wow64_view.h"
#include "support/windows_folder.h"
#include "trace/log_text.h"
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
//
// On 64-bit Windows the 64-bit shell reads the 64-bit view of the classes,
// and a 32-bit program is shown the 32-bit one. Windows XP and Vista keep the
// two apart and copy between them only now and then, so the worm's command
// may stand in either: both are looked at and put right, by name, and the
// machine is clean only when both are right after the one wait. Windows 7
// and later share the key, and the second look then meets the first's work.
// Elsewhere there is one view, opened without a view flag: Windows 2000
// refuses the flags.
int RestoreShellCommand() {
    if (GetInfectionState() != InfectionPresent) {
        PrintAndLog("%s", "Infection was not found, the shell key is not updated\n");
        return 1;
    }
    const REGSAM wow64Views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    const REGSAM nativeView[] = {0};
    int wow64 = RunsOnWow64();
    const REGSAM* views = wow64 ? wow64Views : nativeView;
    const int viewCount = wow64 ? 2 : 1;

    // First pass: look, and put the command back where it is wrong or unreadable.
    int present[2] = {1, 1};
    int allRight = 1;
    int firstResult = 1;
    for (int view = 0; view < viewCount; ++view) {
        HKEY key = nullptr;
        LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, ShellKey, 0, ShellKeyAccess | views[view], &key);
        // A 32-bit view without its own copy of the key holds no command to
        // put right: no program of either kind reads one there.
        if (status == ERROR_FILE_NOT_FOUND && view > 0) {
            TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s",
                     "The 32-bit view of the registry has no open command of its own\n");
            present[view] = 0;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegOpenKeyEx error %d\n", (int)status);
            return 0;
        }
        int right = 0;
        ReadShellCommand(key, &status, &right);
        if (!right) {
            if (allRight) printf("Update shell key\n");
            allRight = 0;
            status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(ShellCommand),
                                    ShellCommandSize);
            if (status != ERROR_SUCCESS) {
                TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegSetValueEx error %d\n", (int)status);
                firstResult = 0;
            }
        }
        RegCloseKey(key);
    }
    if (allRight) {
        printf("Workstation is not infected!\n");
        SetInfectionState(InfectionCleaned);
        return 1;
    }

    // Second pass: a worm still running writes its command back; give it
    // time, once, then the values decide whether the machine is clean.
    HKEY keys[2] = {nullptr, nullptr};
    for (int view = 0; view < viewCount; ++view) {
        if (!present[view]) continue;
        LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, ShellKey, 0, ShellKeyAccess | views[view], &keys[view]);
        if (status != ERROR_SUCCESS) {
            TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegOpenKeyEx error %d\n", (int)status);
            for (int open = 0; open < view; ++open)
                if (keys[open]) RegCloseKey(keys[open]);
            return 0;
        }
    }
    printf("Wait 15 sec and re-check shell key ... ");
    fflush(stdout);
    Sleep(RecheckDelayMs);
    int stillWrong = 0;
    int unread = 0;
    for (int view = 0; view < viewCount; ++view) {
        if (!keys[view]) continue;
        LONG status = ERROR_SUCCESS;
        int right = 0;
        if (!ReadShellCommand(keys[view], &status, &right)) {
            TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegQueryValueEx error %d\n", (int)status);
            unread = 1;
        } else if (!right) {
            stillWrong = 1;
        }
    }
    for (int view = 0; view < viewCount; ++view)
        if (keys[view]) RegCloseKey(keys[view]);
    // A view found wrong again decides, even when the other could not be read.
    if (unread && !stillWrong) return firstResult;
    if (!stillWrong) {
        printf(" Infection is cleaned!\n");
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "Infection is cleaned!\n");
        SetInfectionState(InfectionCleaned);
        return 1;
    }
    printf(" Infection is still avaliable!\n");
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "Infection is still avaliable!\n");
    SetInfectionState(InfectionPresent);
    return 0;
}

void CleanWinIniRun() {
    // The joined names must fit their buffers: a Windows directory that is
    // unknown or too long would name some other file (a bare "win.ini" in the
    // current folder, or a cut path), so then nothing is copied or changed,
    // and that counts as a failed backup.
    char iniPath[MAX_PATH];
    char backupPath[MAX_PATH];
    if (WindowsFolderFile("win.ini", BackslashUnlessRoot, iniPath, sizeof(iniPath)) != WindowsFileJoined) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "cannot make win.ini backup copy error =%ld\n",
                 (long)ERROR_FILENAME_EXCED_RANGE);
        CountFailure();
        return;
    }
    // The backup is the same name with "bak" for "ini", so it fits as well.
    strcpy(backupPath, iniPath);
    strcpy(backupPath + strlen(backupPath) - 3, "bak");

    if (!CopyFileA(iniPath, backupPath, FALSE)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "cannot make win.ini backup copy error =%ld\n",
                 (long)GetLastError());
        CountFailure();
        return;
    }

    char run[MAX_PATH];
    memset(run, 0, sizeof(run));
    if (GetProfileStringA("windows", "run", "", run, sizeof(run)) == 0) return;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "win.ini run=%s, removing\n", Escaped(run).text);
    // An empty text, not a null pointer: the entry stays as an empty "run=".
    // An entry left in place starts the worm again at the next logon.
    if (!WriteProfileStringA("windows", "run", "")) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "cannot remove win.ini run= entry error =%ld\n",
                 (long)GetLastError());
        CountFailure();
    }
}
