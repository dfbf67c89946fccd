// Runs a piece of the tool as a fresh process meets it, with its log file
// open, and hands back what the log file then holds. The trace log can be
// told to keep only the lines up to a level, which lets a test check at which
// level each line was written.
#ifndef KURRELFIX_TESTS_LOGGED_RUN_H
#define KURRELFIX_TESTS_LOGGED_RUN_H

#include <functional>
#include <string>
#include <vector>

#include "sim/workstation.h"

extern const char* const TestLogPath;  // C:\WINDOWS\Kurrelfix.log

// One expected log line: its level (TraceInfo or TraceError) and its text,
// line end included.
struct LogLine {
    int level;
    std::string text;
};

// Opens the log, runs `act` with the trace log keeping levels up to
// maxLevel, ends the process (which closes the log) and returns the log's
// bytes. Faults for the code under test belong inside `act`: opening the log
// is a call of its own.
std::string RunLogged(sim::Workstation& ws, int maxLevel, const std::function<void()>& act);

// The bytes those lines make in the log file when only levels up to
// maxLevel are kept: CR LF line ends, as the text mode writes them.
std::string LogText(const std::vector<LogLine>& lines, int maxLevel);

// The log's lines without their line ends, less the support library's own
// ("[VTSU ..." from ReplaceFile, FileExist and the boot scheduling), so that a
// test of a stage sees the stage's lines alone.
std::vector<std::string> SweepLines(const std::string& log);

// Number of simulated handles still open.
int OpenHandles(const sim::Workstation& ws);

#endif
