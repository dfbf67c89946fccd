// What the host tests share: running a piece of the tool as a fresh process
// meets it (tests/fresh_process.h), the log it writes, and the helpers that
// read that log.
#ifndef KURRELFIX_TESTS_TEST_SUPPORT_H
#define KURRELFIX_TESTS_TEST_SUPPORT_H

#include <functional>
#include <string>
#include <vector>

#include "sim/workstation.h"
#include "tests/fresh_process.h"

// Where the tool writes its log on every simulated workstation.
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

// The version line the tool prints and logs first, without its line end, made
// from the numbers of app/version.h: the tests that check something else do
// not repeat the version.
std::string VersionText();

// The text cut at each `end` ("\r\n" for the log, "\n" for the console).
std::vector<std::string> Lines(const std::string& text, const std::string& end);

// The log's lines without their line ends, less the support library's own
// ("[VTSU ..." from ReplaceFile, FileExist and the boot scheduling), so that a
// test of a stage sees the stage's lines alone.
std::vector<std::string> SweepLines(const std::string& log);

// The expected lines stand in this order, with any others between them.
void ExpectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected);

// How many lines begin with the prefix.
int CountOf(const std::vector<std::string>& lines, const std::string& prefix);

#endif
