#include "tests/fresh_process.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "app/entry.h"
#include "app/outcome.h"
#include "trace/trace_log.h"

// Run lists of later stages register their reset here as they appear.
void ResetRunLists();

void StartFreshProcess() {
    EndProcess();
    g_removalOutcome = RemovalOutcome{0, 0};
    g_silentMode = 0;
    ResetRunLists();
    g_trace.logPath[0] = '\0';
    TraceScopeEnter();
}

void EndProcess() {
    while (g_trace.holders > 0) TraceScopeLeave();
}

ConsoleCapture::ConsoleCapture() {
    fflush(stdout);
    char name[] = "/tmp/kurrelfix-console-XXXXXX";
    int fd = mkstemp(name);
    path_ = name;
    savedFd_ = dup(1);
    dup2(fd, 1);
    close(fd);
}

ConsoleCapture::~ConsoleCapture() {
    fflush(stdout);
    dup2(savedFd_, 1);
    close(savedFd_);
    unlink(path_.c_str());
}

std::string ConsoleCapture::Text() {
    fflush(stdout);
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

RunResult RunKurrelfix(const std::vector<std::string>& arguments) {
    StartFreshProcess();
    std::vector<std::string> storage;
    storage.push_back(sim::Current().modulePath);
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    RunResult result;
    {
        ConsoleCapture console;
        result.exitCode = KurrelfixMain(static_cast<int>(storage.size()), argv.data());
        result.console = console.Text();
    }
    EndProcess();
    return result;
}
