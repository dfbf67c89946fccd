#include "tests/logged_run.h"

#include "tests/fresh_process.h"
#include "trace/trace_log.h"

const char* const TestLogPath = "C:\\WINDOWS\\Kurrelfix.log";

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

int OpenHandles(const sim::Workstation& ws) {
    int open = 0;
    for (const sim::HandleEntry& entry : ws.handles) {
        if (entry.kind != sim::HandleKind::Free) ++open;
    }
    return open;
}

std::vector<std::string> SweepLines(const std::string& log) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find("\r\n", at);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(at, end - at);
        if (line.compare(0, 6, "[VTSU ") != 0) lines.push_back(line);
        at = end + 2;
    }
    return lines;
}
