#include "app/entry.h"

#include <stdio.h>
#include <string.h>

#include "app/disinfect.h"
#include "app/outcome.h"
#include "app/version.h"
#include "support/ascii_text.h"
#include "support/own_file.h"
#include "support/system_queries.h"
#include "support/windows_folder.h"
#include "trace/trace_log.h"

KF_PROCESS_STATE int g_silentMode;

static const int VersionMajor = KURRELFIX_VERSION_MAJOR;
static const int VersionMinor = KURRELFIX_VERSION_MINOR;
static const int VersionBuild = KURRELFIX_VERSION_BUILD;
static const char* const VersionFormat = "Kurrelfix v%d.%02d.%d\n";

static const char* const MainCaption = "Veltrane Kurrel Worm Removal Tool";
static const char* const ConfirmText =
    "Please close all running applications and press OK to remove Kurrel worm from your "
    "system.  Note: It is highly recommended to disconnect your computer from a network while "
    "disinfecting Kurrel.";
static const char* const AdminText =
    "Please log on to this workstation with administrator rights and run the tool again.";
static const char* const AdminCaption = "Veltrane Kurrel Removal Tool";

static const char* ClosingText(int code) {
    switch (code) {
        case 0:
            return "Kurrel worm was not found in this computer.\n\nPress OK to exit.";
        case 1:
            return "Kurrel removal complete.\n\n";
        case 2:
            return "Workstation is infected\nKurrel cannot be removed!\n\n";
        default:
            return "Kurrel removal complete.  Some errors occurred during the removal process, see "
                   "KURRELFIX.LOG in Windows directory for details.\n\nPress OK to restart your "
                   "computer now.\n\n";
    }
}

// Ctrl+C and Ctrl+Break are refused while the run cleans. A closed console
// window, a logoff or a shutdown cannot be refused: the system ends the
// process a few seconds later whatever the handler answers, so it is left to
// end it at once, as a kill would; the scanner record and the share journal
// tell the next run what this one left.
BOOL WINAPI ConsoleStopHandler(DWORD controlType) {
    if (controlType == CTRL_CLOSE_EVENT || controlType == CTRL_LOGOFF_EVENT ||
        controlType == CTRL_SHUTDOWN_EVENT)
        return FALSE;
    printf("you should not stop Kurrelfix!\n");
    fflush(stdout);
    return TRUE;
}

int KurrelfixMain(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (SameAsciiTextIgnoringCase(argv[i], "/SILENT")) g_silentMode = 1;
        if (SameAsciiTextIgnoringCase(argv[i], "/VER")) {
            printf(VersionFormat, VersionMajor, VersionMinor, VersionBuild);
            return 0;
        }
    }
    if (!g_silentMode &&
        MessageBoxA(nullptr, ConfirmText, MainCaption, MB_OKCANCEL | MB_ICONINFORMATION) == IDCANCEL) {
        return 0;
    }

    // The backslash is always added, also after a drive root. A Windows
    // folder too long for the name is left without a log file, so that
    // nothing is written past the buffer; the lines then go to the debugger.
    // A failing call leaves "\Kurrelfix.log" on the current drive's root.
    char logPath[MAX_PATH];
    WindowsFilePath logPlace = WindowsFolderFile("Kurrelfix.log", BackslashAlways, logPath, sizeof(logPath));
    SetLogOpener(OpenOwnLog);
    if (logPlace == WindowsFileJoined) {
        SetLogFile(logPath, "a+");
    } else if (logPlace == WindowsFolderUnknown) {
        SetLogFile("\\Kurrelfix.log", "a+");
    }

    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, VersionFormat, VersionMajor, VersionMinor,
             VersionBuild);
    printf(VersionFormat, VersionMajor, VersionMinor, VersionBuild);

    if (IsWindowsNT() && !IsAdmin()) {
        if (!g_silentMode) MessageBoxA(nullptr, AdminText, AdminCaption, MB_OK | MB_ICONWARNING);
        return 0;
    }

    SetConsoleCtrlHandler(ConsoleStopHandler, TRUE);
    int resultSlot = 0;
    Disinfect_Kurrel(&resultSlot, 0, "Kurrel", 0, 1, 0, "*", 0, 0, 0, 0);
    SetConsoleCtrlHandler(ConsoleStopHandler, FALSE);

    int code = GetOutcomeCode();
    if (!g_silentMode) MessageBoxA(nullptr, ClosingText(code), MainCaption, MB_OK | MB_ICONINFORMATION);
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Kurrelfix tool exit code: %d\n", code);
    printf("Kurrelfix tool exit code: %d\n", code);
    return code;
}
