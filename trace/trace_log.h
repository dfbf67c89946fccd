// The one logging facility: every stage reports through TraceMsg, which writes
// to the log file, or to the debugger output while no log file is open.
#ifndef KURRELFIX_TRACE_TRACE_LOG_H
#define KURRELFIX_TRACE_TRACE_LOG_H

#include <stdio.h>

#include "platform/platform.h"

// The module name that every caller passes; it does not change what is written.
extern const char* const TraceModule;

// Log levels that the tool uses.
const int TraceInfo = 4;
const int TraceError = 1;
const DWORD TraceAllTypes = 0xFFFFFFFF;

void TraceMsg(const char* module, DWORD typeMask, int level, const char* format, ...)
    KF_PRINTF_FORMAT(4, 5);

// printf to the console, then the same line to the log at level 4.
void PrintAndLog(const char* format, ...) KF_PRINTF_FORMAT(1, 2);

// Opens the log file, or keeps the open one when the path is the same.
void SetLogFile(const char* path, const char* mode);

// How SetLogFile opens the file: fopen, unless the program sets an opener
// that checks what is in the log's place (support/own_file.h). What the
// opener writes into `note` goes into the log after its next line.
typedef FILE* (*LogOpener)(const char* path, const char* mode, char* note, size_t noteSize);
void SetLogOpener(LogOpener opener);

// The facility's process-wide state.
struct TraceState {
    int enabled;
    DWORD typeMask;
    int levelThreshold;
    char buffer[1024 + 1];
    FILE* logFile;
    char logPath[MAX_PATH];
    // What SetLogFile found in the log's place, written after the first line.
    char note[2 * MAX_PATH + 160];
    LogOpener opener;
    CRITICAL_SECTION lock;
    int lockReady;
    int holders;
};
extern TraceState g_trace;

// Keeps the facility alive. One static instance exists for the whole process;
// the last holder to go flushes and closes the log file.
class TraceScope {
public:
    TraceScope();
    ~TraceScope();
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;
};

void TraceScopeEnter();
void TraceScopeLeave();

#endif
