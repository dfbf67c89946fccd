#include "cleanup/settings_repair.h"

#include <stdio.h>
#include <string.h>

#include "app/outcome.h"
#include "platform/platform.h"
#include "cleanup/user_hives.h"
#include "cleanup/wow64_view.h"
#include "support/admin_only_security.h"
#include "support/ascii_text.h"
#include "support/system_queries.h"
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
// A user's classes key and the command's key under it.
const size_t ShellPathSize = UserKeyNameSize + 32;

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

// 1 on the NT family, whose users keep settings of their own. A family that
// cannot be told leaves them unseen: that is no clean result.
int UsersAreReached(const char* what) {
    OsFamily family = GetOsFamily();
    if (family == OsOther) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError,
                 "The Windows family cannot be told: the users' %s are not looked at\n", what);
        CountFailure();
    }
    return family == OsWindowsNT;
}

// Where an open command may stand: the machine's classes in one registry
// view, or one loaded user's classes key in one view.
struct ShellPlace {
    char path[ShellPathSize];  // the key under its root
    int user;                  // 1: under HKEY_USERS, named in the log lines
    REGSAM view;
    int present;  // 0: the view has no key of its own (or the user none at all)
    HKEY key;     // open during the wait
};

// "RegOpenKeyEx error 5" for the machine's key, with ", HKEY_USERS\..." for
// a user's, so that the administrator knows whose settings are meant.
void PlaceError(const ShellPlace& place, const char* call, LONG status) {
    if (!place.user) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "%s error %d\n", call, (int)status);
        return;
    }
    TraceMsg(TraceModule, TraceAllTypes, TraceError, "%s error %d, HKEY_USERS\\%s\n", call, (int)status,
             Escaped(place.path).text);
    CountFailure();
}

HKEY RootOf(const ShellPlace& place) { return place.user ? HKEY_USERS : HKEY_CLASSES_ROOT; }

int FillPlace(ShellPlace* place, const char* prefix, REGSAM view) {
    int joined = snprintf(place->path, sizeof(place->path), "%s%s%s", prefix, prefix[0] ? "\\" : "", ShellKey);
    place->user = prefix[0] ? 1 : 0;
    place->view = view;
    place->present = 1;
    place->key = nullptr;
    return joined > 0 && static_cast<size_t>(joined) < sizeof(place->path);
}

// The two passes over every place; the result of RestoreShellCommand.
int RepairShellPlaces(ShellPlace* places, size_t count) {
    // First pass: look, and put the command back where it is wrong or unreadable.
    int allRight = 1;
    int firstResult = 1;
    for (size_t at = 0; at < count; ++at) {
        ShellPlace& place = places[at];
        HKEY key = nullptr;
        LONG status = RegOpenKeyExA(RootOf(place), place.path, 0, ShellKeyAccess | place.view, &key);
        // A 32-bit view without its own copy of the key holds no command to
        // put right: no program of either kind reads one there. A user
        // without the key has no command of their own: the machine's is theirs.
        if (status == ERROR_FILE_NOT_FOUND && (place.user || place.view == KEY_WOW64_32KEY)) {
            if (!place.user)
                TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s",
                         "The 32-bit view of the registry has no open command of its own\n");
            place.present = 0;
            continue;
        }
        if (status != ERROR_SUCCESS) {
            PlaceError(place, "RegOpenKeyEx", status);
            if (!place.user) return 0;
            place.present = 0;
            continue;
        }
        int right = 0;
        ReadShellCommand(key, &status, &right);
        if (!right) {
            if (allRight) printf("Update shell key\n");
            allRight = 0;
            if (place.user)
                TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Update shell key HKEY_USERS\\%s\n",
                         Escaped(place.path).text);
            status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(ShellCommand),
                                    ShellCommandSize);
            if (status != ERROR_SUCCESS) {
                PlaceError(place, "RegSetValueEx", status);
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
    for (size_t at = 0; at < count; ++at) {
        ShellPlace& place = places[at];
        if (!place.present) continue;
        LONG status = RegOpenKeyExA(RootOf(place), place.path, 0, ShellKeyAccess | place.view, &place.key);
        if (status == ERROR_SUCCESS) continue;
        place.key = nullptr;
        PlaceError(place, "RegOpenKeyEx", status);
        if (place.user) continue;
        for (size_t open = 0; open < at; ++open)
            if (places[open].key) RegCloseKey(places[open].key);
        return 0;
    }
    printf("Wait 15 sec and re-check shell key ... ");
    fflush(stdout);
    Sleep(RecheckDelayMs);
    int stillWrong = 0;
    int unread = 0;
    for (size_t at = 0; at < count; ++at) {
        ShellPlace& place = places[at];
        if (!place.key) continue;
        LONG status = ERROR_SUCCESS;
        int right = 0;
        if (!ReadShellCommand(place.key, &status, &right)) {
            PlaceError(place, "RegQueryValueEx", status);
            if (!place.user) unread = 1;
        } else if (!right) {
            stillWrong = 1;
            if (place.user)
                TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Infection is still avaliable! HKEY_USERS\\%s\n",
                         Escaped(place.path).text);
        }
    }
    for (size_t at = 0; at < count; ++at)
        if (places[at].key) RegCloseKey(places[at].key);
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
//
// On NT each loaded user's classes are looked at too, in the same views: a
// worm running as a plain user writes its command there, where only that
// user's programs see it, and every one of them then starts through it.
int RestoreShellCommand() {
    if (GetInfectionState() != InfectionPresent) {
        PrintAndLog("%s", "Infection was not found, the shell key is not updated\n");
        return 1;
    }
    const REGSAM wow64Views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    const REGSAM nativeView[] = {0};
    int wow64 = RunsOnWow64();
    const REGSAM* views = wow64 ? wow64Views : nativeView;
    const size_t viewCount = wow64 ? 2 : 1;

    // The machine's places first, then each user's: the users' list is read
    // now, and a user who logs on later is not waited for.
    size_t users = UsersAreReached("open commands") ? CountUserKeys(UserClassesKey) : 0;
    size_t capacity = viewCount * (1 + users);
    ShellPlace machineOnly[2];
    ShellPlace* places = users ? static_cast<ShellPlace*>(AllocBuffer(capacity * sizeof(ShellPlace))) : nullptr;
    if (!places) {
        if (users) {
            TraceMsg(TraceModule, TraceAllTypes, TraceError, "%s",
                     "The users' open commands cannot be looked at: NO MEMORY\n");
            CountFailure();
        }
        places = machineOnly;
        capacity = viewCount;
        users = 0;
    }
    size_t count = 0;
    for (size_t view = 0; view < viewCount; ++view) FillPlace(&places[count++], "", views[view]);
    DWORD index = 0;
    char user[UserKeyNameSize];
    while (users && NextUserKey(UserClassesKey, &index, user)) {
        // A user who logged on since the count is not looked at: that is no clean result.
        if (count + viewCount > capacity) {
            TraceMsg(TraceModule, TraceAllTypes, TraceError, "The open command of HKEY_USERS\\%s is not looked at\n",
                     Escaped(user).text);
            CountFailure();
            continue;
        }
        for (size_t view = 0; view < viewCount; ++view) {
            // A key name has at most 255 characters: the path always fits.
            if (FillPlace(&places[count], user, views[view])) ++count;
        }
    }
    int result = RepairShellPlaces(places, count);
    if (places != machineOnly) FreeBuffer(places);
    return result;
}

namespace {

const char* const MappedWindowsKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const DWORD RunValueSize = MAX_PATH;

// The run= value that the ini-file mapping keeps in one user's hive: empty
// afterwards. The old value is kept in the log line before it goes: one
// line of program names, which the administrator copies back from there
// if it was more than the worm. A value that one log line could not hold
// whole is not touched, and counts as a failure.
void CleanUserRun(const char* user) {
    char path[UserKeyNameSize + 64];
    int joined = snprintf(path, sizeof(path), "%s\\%s", user, MappedWindowsKey);
    if (joined <= 0 || static_cast<size_t>(joined) >= sizeof(path)) return;  // a key name has at most 255 characters
    LogText shownPath = Escaped(path);
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_USERS, path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return;  // nothing mapped for this user
    if (status != ERROR_SUCCESS) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegOpenKeyEx error %d, HKEY_USERS\\%s\n", (int)status,
                 shownPath.text);
        CountFailure();
        return;
    }
    char run[RunValueSize + 1];
    memset(run, 0, sizeof(run));
    DWORD size = RunValueSize;
    status = RegQueryValueExA(key, "run", nullptr, nullptr, reinterpret_cast<LPBYTE>(run), &size);
    if (status == ERROR_SUCCESS && run[0] != '\0') {
        LogText shownRun = Escaped(run);
        // A line the log would cut no longer holds the whole old value.
        if (strlen(shownRun.text) + strlen(shownPath.text) + 40 >= LogTextSize - 1) status = ERROR_MORE_DATA;
    }
    if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && run[0] == '\0')) {
        RegCloseKey(key);
        return;
    }
    if (status != ERROR_SUCCESS) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegQueryValueEx error %d, HKEY_USERS\\%s run=, not removed\n",
                 (int)status, shownPath.text);
        CountFailure();
        RegCloseKey(key);
        return;
    }
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "HKEY_USERS\\%s run=%s, removing\n", shownPath.text,
             Escaped(run).text);
    static const char Empty[] = "";
    status = RegSetValueExA(key, "run", 0, REG_SZ, reinterpret_cast<const BYTE*>(Empty), sizeof(Empty));
    if (status != ERROR_SUCCESS) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "RegSetValueEx error %d, HKEY_USERS\\%s run=, not removed\n",
                 (int)status, shownPath.text);
        CountFailure();
    }
    RegCloseKey(key);
}

// win.ini itself: the backup, then its run= entry.
void CleanMachineRun() {
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

    // Written afresh: an old win.bak may be a hard link someone planted to
    // another file, which a copy over it would fill with win.ini's bytes.
    // Deleting it by its name removes that name only; the copy then makes a
    // new file or fails, and never writes through a name made meanwhile.
    if ((!DeleteFileA(backupPath) && GetLastError() != ERROR_FILE_NOT_FOUND) ||
        !CopyFileA(iniPath, backupPath, TRUE)) {
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

}  // namespace

// On NT win.ini's section "windows" is the running account's registry, and
// each logged-on user has their own run= there: a worm running as a plain
// user wrote its own. Each loaded hive's is emptied too, whatever became of
// win.ini's backup: that backup is of win.ini, not of the users' values.
void CleanWinIniRun() {
    CleanMachineRun();
    if (!UsersAreReached("run= entries")) return;
    // The running account's own value is win.ini's, done above, and left
    // alone there when its backup failed.
    char own[UserKeyNameSize];
    if (!RunningUserSidText(own, sizeof(own))) own[0] = '\0';
    DWORD index = 0;
    char user[UserKeyNameSize];
    while (NextUserKey(UserHiveKey, &index, user)) {
        if (own[0] && SameAsciiTextIgnoringCase(user, own)) continue;
        CleanUserRun(user);
    }
}
