// Helpers that let a test meet the tool as a new process does: outcome,
// silent flag, run lists and trace log as at start, and stdout captured.
#ifndef KURRELFIX_TESTS_FRESH_PROCESS_H
#define KURRELFIX_TESTS_FRESH_PROCESS_H

#include <string>
#include <vector>

#include "sim/workstation.h"

// Puts every piece of process-wide state back as a new process finds it.
// This is the one place that resets it; the Windows build has no such thing.
void StartFreshProcess();

// One writable global of the tool, by its name in the library, and how it is
// put back (none when nothing of it can reach a later run).
struct ProcessState {
    const char* name;
    void (*reset)();
};
std::vector<ProcessState> ProcessStateList();
// What the process does when it ends: the trace log closes its file.
void EndProcess();

// Captures what the code prints to standard output.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    std::string Text();  // everything printed so far
private:
    int savedFd_;
    std::string path_;
};

struct RunResult {
    int exitCode;
    std::string console;
};

// Runs the entry point as a fresh process would, with these arguments after
// the program name, and ends the process afterwards.
RunResult RunKurrelfix(const std::vector<std::string>& arguments);

#endif
