#include "tests/test_support.h"

#include <stdio.h>

#include <gtest/gtest.h>

#include "app/version.h"
#include "trace/trace_log.h"

const char* const TestLogPath = "C:\\WINDOWS\\Kurrelfix.log";

namespace {

// A problem of the test's own making (a fault it asked for that never fired)
// fails the test that made it.
void ReportToTheTest(const std::string& problem) { ADD_FAILURE() << problem; }

const bool kProblemsReported = (sim::SetProblemHandler(ReportToTheTest), true);

}  // namespace

std::string RunLogged(sim::Workstation& ws, int maxLevel, const std::function<void()>& act) {
    StartFreshProcess();
    SetLogFile(TestLogPath, "a+");
    int savedThreshold = g_trace.levelThreshold;
    g_trace.levelThreshold = maxLevel;
    act();
    g_trace.levelThreshold = savedThreshold;
    EndProcess();
    return ws.Read(TestLogPath);
}

std::string LogText(const std::vector<LogLine>& lines, int maxLevel) {
    std::string text;
    for (const LogLine& line : lines) {
        if (line.level > maxLevel) continue;
        for (char c : line.text) {
            if (c == '\n') text += '\r';
            text += c;
        }
    }
    return text;
}

std::vector<std::string> Lines(const std::string& text, const std::string& end) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t stop = text.find(end, at);
        if (stop == std::string::npos) stop = text.size();
        lines.push_back(text.substr(at, stop - at));
        at = stop + end.size();
    }
    return lines;
}

std::vector<std::string> SweepLines(const std::string& log) {
    std::vector<std::string> lines;
    for (std::string& line : Lines(log, "\r\n")) {
        if (line.compare(0, 6, "[VTSU ") != 0) lines.push_back(line);
    }
    return lines;
}

void ExpectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    size_t at = 0;
    for (const std::string& line : expected) {
        while (at < lines.size() && lines[at] != line) ++at;
        EXPECT_LT(at, lines.size()) << "missing, or out of order: " << line;
        if (at == lines.size()) return;
        ++at;
    }
}

int CountOf(const std::vector<std::string>& lines, const std::string& prefix) {
    int count = 0;
    for (const std::string& line : lines) count += line.compare(0, prefix.size(), prefix) == 0;
    return count;
}

std::string VersionText() {
    char text[48];
    snprintf(text, sizeof(text), "Kurrelfix v%d.%02d.%d", KURRELFIX_VERSION_MAJOR, KURRELFIX_VERSION_MINOR,
             KURRELFIX_VERSION_BUILD);
    return text;
}
