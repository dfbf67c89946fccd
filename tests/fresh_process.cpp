#include "tests/fresh_process.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "app/entry.h"
#include "app/outcome.h"
#include "cleanup/network_shares.h"
#include "cleanup/process_sweep.h"
#include "cleanup/share_journal.h"
#include "protection/scanner_record.h"
#include "sim/workstation.h"
#include "trace/trace_log.h"

namespace {

// The paths of the terminated worm processes: a new process starts with none.
void ResetInfectedProcessFiles() {
    InfectedProcessFile* node = InfectedProcessFiles.head;
    while (node) {
        InfectedProcessFile* next = node->next;
        FreeBuffer(node->path);
        if (node->widePath) FreeBuffer(node->widePath);
        FreeBuffer(node);
        node = next;
    }
    InfectedProcessFiles.head = nullptr;
    InfectedProcessFiles.tail = nullptr;
}

// The shares a run remembered and the buffers their records live in: a
// process that ended before re-creating them took its heap with it.
void ResetRemovedShares() {
    RemovedShare* node = RemovedShares.head;
    while (node) {
        RemovedShare* next = node->next;
        FreeBuffer(node);
        node = next;
    }
    RemovedShares = RemovedShareList{nullptr, nullptr};
}
void ResetShareBuffer() {
    for (int b = 0; b < ShareBuffer.count; ++b) {
        if (ShareBuffer.owner == ShareBufferOwn) {
            FreeBuffer(ShareBuffer.buffers[b]);
        } else if (sim::HasCurrent()) {
            sim::Current().ReleaseNetBuffer(ShareBuffer.buffers[b]);
        }
    }
    ShareBuffer = ShareBufferSlot{};
}
void ResetShareJournalWritten() { ShareJournalWritten = 0; }
void ResetScannerRecordAt() { ScannerRecordAt = 0; }
void ResetScannerOffAsNT() { ScannerOffAsNT = -1; }

// The log file was closed by EndProcess; the name it had goes too.
void ResetTrace() {
    g_trace.logPath[0] = '\0';
    g_trace.note[0] = '\0';
    g_trace.opener = nullptr;
}
void ResetOutcome() { g_removalOutcome = RemovalOutcome{0, 0}; }
void ResetSilentMode() { g_silentMode = 0; }

// Every writable global of the tool (each marked KF_PROCESS_STATE) and how a
// fresh process finds it. No reset: there is nothing a later run could see.
const ProcessState kProcessState[] = {
    {"g_trace", ResetTrace},
    {"g_traceScope", nullptr},  // holds no data; its count lives in g_trace
    {"g_removalOutcome", ResetOutcome},
    {"g_silentMode", ResetSilentMode},
    {"InfectedProcessFiles", ResetInfectedProcessFiles},
    {"RegionBuffer", nullptr},  // scratch, written before every read
    {"RemovedShares", ResetRemovedShares},
    {"ShareBuffer", ResetShareBuffer},
    {"ShareJournalWritten", ResetShareJournalWritten},
    {"ScannerRecordAt", ResetScannerRecordAt},
    {"ScannerOffAsNT", ResetScannerOffAsNT},
    // Requests a driver kept: never read, only kept reachable, as the driver
    // may still write into them.
    {"RequestsLeftInFlight", nullptr},
};

}  // namespace

std::vector<ProcessState> ProcessStateList() {
    return std::vector<ProcessState>(std::begin(kProcessState), std::end(kProcessState));
}

void StartFreshProcess() {
    EndProcess();
    for (const ProcessState& state : kProcessState) {
        if (state.reset) state.reset();
    }
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
