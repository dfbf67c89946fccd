#include "trace/trace_log.h"

#include <stdarg.h>
#include <string.h>

const char* const TraceModule = "";

KF_PROCESS_STATE TraceState g_trace = {1, 0xFFFFFFFF, 255, {0}, nullptr, {0}, {0}, nullptr, {}, 0, 0};

// Created before the entry point runs; its destructor runs at process exit.
KF_PROCESS_STATE static TraceScope g_traceScope;

TraceScope::TraceScope() { TraceScopeEnter(); }

TraceScope::~TraceScope() { TraceScopeLeave(); }

void TraceScopeEnter() {
    if (g_trace.holders == 0 && !g_trace.lockReady) {
        InitializeCriticalSection(&g_trace.lock);
        g_trace.lockReady = 1;
    }
    ++g_trace.holders;
}

void TraceScopeLeave() {
    if (g_trace.holders <= 0 || --g_trace.holders != 0) return;
    if (g_trace.logFile) {
        fflush(g_trace.logFile);
        fclose(g_trace.logFile);
        g_trace.logFile = nullptr;
    }
    if (g_trace.lockReady) {
        DeleteCriticalSection(&g_trace.lock);
        g_trace.lockReady = 0;
    }
}

static void TraceOutput(int level, DWORD typeMask, const char* format, va_list args) {
    if (!g_trace.enabled) return;
    if ((typeMask & g_trace.typeMask) == 0) return;
    if (level > g_trace.levelThreshold) return;
    if (!g_trace.lockReady) {
        InitializeCriticalSection(&g_trace.lock);
        g_trace.lockReady = 1;
    }
    EnterCriticalSection(&g_trace.lock);
    int length = vsnprintf(g_trace.buffer, sizeof(g_trace.buffer), format, args);
    g_trace.buffer[sizeof(g_trace.buffer) - 1] = '\0';
    // A message cut at the buffer's end would lose its line end, and the next
    // message would go on the same line, where the fleet's batch files no
    // longer see it (the exit code line among them). Each of the tool's
    // messages is one line, so a cut one still ends a line.
    // (A runtime of the old kind answers -1 for a cut message.)
    bool cut = length < 0 || length >= static_cast<int>(sizeof(g_trace.buffer));
    if (cut && strlen(g_trace.buffer) == sizeof(g_trace.buffer) - 1) g_trace.buffer[sizeof(g_trace.buffer) - 2] = '\n';
    if (g_trace.logFile) {
        fputs(g_trace.buffer, g_trace.logFile);
        if (g_trace.note[0]) {
            fputs(g_trace.note, g_trace.logFile);
            g_trace.note[0] = '\0';
        }
        fflush(g_trace.logFile);
    } else {
        OutputDebugStringA(g_trace.buffer);
        if (g_trace.note[0]) {
            OutputDebugStringA(g_trace.note);
            g_trace.note[0] = '\0';
        }
    }
    if (g_trace.lockReady) LeaveCriticalSection(&g_trace.lock);
}

void TraceMsg(const char* module, DWORD typeMask, int level, const char* format, ...) {
    (void)module;
    va_list args;
    va_start(args, format);
    TraceOutput(level, typeMask, format, args);
    va_end(args);
}

void PrintAndLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    vprintf(format, args);
    TraceOutput(TraceInfo, TraceAllTypes, format, again);
    va_end(again);
    va_end(args);
}

// A bare file name (no drive, no folder) is taken to be beside the program,
// whatever the current folder is.
static bool ResolveLogPath(const char* path, char* resolved, size_t size) {
    size_t length = strlen(path);
    bool hasDrive = length >= 2 && path[1] == ':';
    bool hasFolder = strchr(path, '\\') != nullptr || strchr(path, '/') != nullptr;
    if (hasDrive || hasFolder) {
        if (length + 1 > size) return false;
        memcpy(resolved, path, length + 1);
        return true;
    }
    char module[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    module[MAX_PATH - 1] = '\0';
    char* cut = strrchr(module, '\\');
    size_t keep = cut ? static_cast<size_t>(cut - module) + 1 : 0;
    if (keep + length + 1 > size) return false;
    memcpy(resolved, module, keep);
    memcpy(resolved + keep, path, length + 1);
    return true;
}

void SetLogOpener(LogOpener opener) { g_trace.opener = opener; }

void SetLogFile(const char* path, const char* mode) {
    bool same = strcmp(path, g_trace.logPath) == 0;
    if (same && g_trace.logFile) return;
    if (g_trace.logFile) {
        fclose(g_trace.logFile);
        g_trace.logFile = nullptr;
        g_trace.logPath[0] = '\0';
    }
    // A path that does not fit the log-path buffer is refused, so that nothing
    // is written past it; messages then go to the debugger output.
    if (strlen(path) >= sizeof(g_trace.logPath)) return;
    char resolved[MAX_PATH];
    if (!ResolveLogPath(path, resolved, sizeof(resolved))) return;
    g_trace.note[0] = '\0';
    g_trace.logFile = g_trace.opener ? g_trace.opener(resolved, mode, g_trace.note, sizeof(g_trace.note))
                                     : CrtFopen(resolved, mode);
    if (g_trace.logFile) {
        memcpy(g_trace.logPath, path, strlen(path) + 1);
    }
}
