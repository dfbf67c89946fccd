// The console program's entry point, shared by the Windows main and the
// host's tests.
#ifndef KURRELFIX_APP_ENTRY_H
#define KURRELFIX_APP_ENTRY_H

#include "platform/platform.h"

// Runs the tool with the runtime's split of the command line; returns the
// exit code 0 to 3.
int KurrelfixMain(int argc, char** argv);

// Keeps Ctrl+C and its kind from ending the run while it cleans.
BOOL WINAPI ConsoleStopHandler(DWORD controlType);

// Silent mode: no message box at all. Off at start, set by /SILENT.
extern int g_silentMode;

#endif
