#include "support/reboot_rename.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform.h"
#include "support/ini_document.h"
#include "support/rename_request_file.h"
#include "support/system_queries.h"
#include "support/windows_folder.h"
#include "trace/trace_log.h"

static const char SentrelService[] = "Veltrane Sentrel";
static const char WininitName[] = "WININIT.INI";

static void Info(const char* line) { TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", line); }

static void Error(const char* line) { TraceMsg(TraceModule, TraceAllTypes, TraceError, "%s", line); }

static const DWORD AtBoot = MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT;

// What MoveFileEx answered, as the log says it.
static int Scheduled(BOOL moved) {
    if (moved) {
        Info("[VTSU - AddFileToAutomaticRenameList]: Operation is executed during reboot.\n");
        return 1;
    }
    Error("[VTSU - AddFileToAutomaticRenameList]: Operation cannot be executed during reboot.\n");
    return 0;
}

static int ScheduleAsAdmin(const char* existingPath, const char* newPath) {
    Info("[VTSU - AddFileToAutomaticRenameList]: User is admin.\n");
    return Scheduled(MoveFileExA(existingPath, newPath, AtBoot));
}

static int ScheduleThroughSentrel(const char* existingPath, const char* newPath) {
    Info("[VTSU - AddFileToAutomaticRenameList]: User is not admin.\n");
    // Without rights only the scanner's service can act at boot, and it only
    // renames; it is not even asked about a deletion.
    if (!newPath || !IsServiceRunning(SentrelService)) {
        Error("[VTSU - AddFileToAutomaticRenameList]: No admin rights, no SL -> No renaming at reboot.\n");
        return 0;
    }
    Info("[VTSU - AddFileToAutomaticRenameList]: Sentrel is loaded and can be used for renaming.\n");
    RenameFileStatus status = RenameFileOk;
    FILE* stream = OpenRenameRequestFile(1, nullptr, &status);
    if (!stream) {
        Error("[VTSU - AddFileToAutomaticRenameList]: Sentrel cannot do the renaming.\n");
        return 0;
    }
    int added = AddRenameRequest(stream, existingPath, newPath, &status);
    // Finished also after a failed add: the close releases the stream.
    int closed = CloseRenameRequestFile(stream, &status);
    if (!added || !closed) {
        Error("[VTSU - AddFileToAutomaticRenameList]: Sentrel cannot do the renaming.\n");
        return 0;
    }
    Info("[VTSU - AddFileToAutomaticRenameList]: Sentrel will do the renaming.\n");
    return 1;
}

// The short form, or false when there is none or it does not fit: a result
// of the buffer's size or more means nothing was written to it.
static bool ShortPath(const char* path, char* buffer) {
    DWORD length = GetShortPathNameA(path, buffer, MAX_PATH);
    return length != 0 && length < MAX_PATH;
}

static void CreatePlaceholder(const char* path) {
    FILE* file = CrtFopen(path, "wt");
    if (!file) return;  // the short name is asked for all the same
    fputs("Delete me!", file);
    fclose(file);
}

// A WININIT.INI that is there but cannot be read would load as an empty
// document, and saving that would wipe the requests already in it.
static bool ExistsButUnread(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) return true;
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

static int ScheduleInWininit(const char* existingPath, const char* newPath) {
    Info("[VTSU - AddFileToAutomaticRenameList]: System is not NT.\n");
    char shortExisting[MAX_PATH];
    char shortNew[MAX_PATH];
    char wininitPath[MAX_PATH];
    bool shortened = ShortPath(existingPath, shortExisting);
    if (newPath) {
        // A rename target must exist to have a short name.
        if (!FileExist(newPath)) CreatePlaceholder(newPath);
        if (!ShortPath(newPath, shortNew)) shortened = false;
    }
    if (!shortened) {
        Error("[VTSU - AddFileToAutomaticRenameList]: GetShortPathName() call failed.\n");
        return 0;
    }
    if (WindowsFolderFile(WininitName, BackslashAlways, wininitPath, sizeof(wininitPath)) !=
        WindowsFileJoined) {
        Error("[VTSU - AddFileToAutomaticRenameList]: Operation cannot be executed during reboot.\n");
        return 0;
    }

    IniDocument document;
    if (document.Load(wininitPath) != 0 && ExistsButUnread(wininitPath)) {
        Error("[VTSU - AddFileToAutomaticRenameList]: Operation cannot be executed during reboot.\n");
        return 0;
    }
    // Occurrence 999 appends rather than replacing an entry with the same key.
    document.SetEntry("rename", newPath ? shortNew : "nul", shortExisting, 999);
    if (document.Save(wininitPath) != 0) {
        Error("[VTSU - AddFileToAutomaticRenameList]: Operation cannot be executed during reboot.\n");
        return 0;
    }
    Info("[VTSU - AddFileToAutomaticRenameList]: Operation will be executed during reboot.\n");
    return 1;
}

int AddFileToAutomaticRenameList(const char* existingPath, const char* newPath) {
    if (!IsWindowsNT()) return ScheduleInWininit(existingPath, newPath);
    Info("[VTSU - AddFileToAutomaticRenameList]: System is NT.\n");
    if (IsAdmin()) return ScheduleAsAdmin(existingPath, newPath);
    return ScheduleThroughSentrel(existingPath, newPath);
}

int AddFileToAutomaticDeleteListWide(const WCHAR* existingPath) {
    Info("[VTSU - AddFileToAutomaticRenameList]: System is NT.\n");
    if (!IsAdmin()) {
        Info("[VTSU - AddFileToAutomaticRenameList]: User is not admin.\n");
        Error("[VTSU - AddFileToAutomaticRenameList]: No admin rights, no SL -> No renaming at reboot.\n");
        return 0;
    }
    Info("[VTSU - AddFileToAutomaticRenameList]: User is admin.\n");
    return Scheduled(MoveFileExW(existingPath, nullptr, AtBoot));
}
