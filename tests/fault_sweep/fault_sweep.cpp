// The fault sweep: whole silent runs of the tool on infected and clean
// workstations of both families, with one failable function made to fail at
// one of its calls (once, or from then on), each run in a process of its own.
// After the run and after the next boot it checks what an administrator relies
// on: the exit code is in range and true, nothing but the worm and the tool's
// own files and settings changed, the log ends with the exit code, the scanner
// is on again and no handle is left open. A violation is a failure unless a
// row of the reviewed list (silences.cpp) says the behaviour asks for it.
//
//   kurrelfix_fault_sweep [--jobs N] [--only WORKSTATION] [--verbose]
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cleanup/signature_matcher.h"
#include "sim/workstation.h"
#include "tests/fault_sweep/leak_roots.h"
#include "tests/fault_sweep/machine_state.h"
#include "tests/fault_sweep/silences.h"
#include "tests/fresh_process.h"
#include "tests/workstations.h"

namespace fault_sweep {
namespace {

// The sweep's machines, and the keys and commands it checks after each run.
using namespace workstations;

// Every call up to this index is tried, and a few spread over the rest.
const int kFirstCalls = 6;
const int kSpreadCalls = 3;
const int kTimeoutSeconds = 30;
const int kForever = 1 << 30;

const char* const kStagesMarker = "find and kill all Kurrel tasks in memory";
const char* const kExitLine = "Kurrelfix tool exit code: ";

struct FaultRun {
    size_t workstation = 0;
    std::string function;  // empty: the run without faults
    int callsToSkip = 0;
    bool always = false;
    DWORD error = 0;
};

struct Violation {
    std::string kind;
    std::string what;
};

struct RunReport {
    FaultRun fault;
    bool finished = false;  // the child wrote its whole report
    int exitCode = -1;
    int fired = 0;
    std::map<std::string, int> calls;
    std::vector<Violation> violations;
};

std::string Mode(const FaultRun& fault) { return fault.always ? "from then on" : "once"; }

// The error a failing call reports: what the system says most often for it.
DWORD ErrorFor(const std::string& function) {
    if (function == "AllocBuffer") return ERROR_NOT_ENOUGH_MEMORY;
    if (function == "CreateFileA" || function == "CreateFileW" || function == "DeleteFileA" ||
        function == "MoveFileA" || function == "CopyFileA")
        return ERROR_SHARING_VIOLATION;
    if (function == "LoadLibraryExA" || function == "LoadLibraryExW" || function == "GetModuleHandleA")
        return ERROR_MOD_NOT_FOUND;
    if (function == "GetProcAddress") return ERROR_PROC_NOT_FOUND;
    if (function == "ReadFile" || function == "CrtRead") return ERROR_READ_FAULT;
    return ERROR_ACCESS_DENIED;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsLogFunction(const std::string& function) {
    return function == "CrtFopen" || function == "CrtWrite" || function == "CrtClose" ||
           function == "CrtSeek";
}

// ---- the child: one run and its checks ---------------------------------

class Checks {
public:
    Checks(sim::Workstation& ws, const WorkstationKind& kind, const std::vector<std::string>& wormFiles)
        : ws_(ws), kind_(kind), worm_(wormFiles) {}

    std::vector<Violation> violations;

    void Add(const std::string& kind, const std::string& what) { violations.push_back({kind, what}); }

    bool IsWormFile(const std::string& key) const {
        for (const std::string& path : worm_)
            if (FileKey(path) == key) return true;
        return false;
    }

    // Nothing but the worm's files, the two settings and the tool's own files.
    void Changes(const MachineState& before, const MachineState& after, const char* when) {
        const std::string windows = ws_.windowsDirectory + "\\";
        const std::set<std::string> toolFiles = {
            FileKey(windows + "Kurrelfix.log"), FileKey("C:\\Kurrelfix.log"), FileKey(windows + "win.bak"),
            FileKey(windows + "WININIT.INI"), FileKey(windows + "WININIT.BAK"),
            FileKey(windows + "Kurrelfix-shares.jnl"), FileKey(windows + "Kurrelfix-shares.bad"),
            FileKey(windows + "Kurrelfix-shares.untrusted"), FileKey(windows + "Kurrelfix-scanner.rec")};
        const std::string winIni = FileKey(windows + "win.ini");
        std::set<std::string> keys;
        for (const auto& file : before.files) keys.insert(file.first);
        for (const auto& file : after.files) keys.insert(file.first);
        for (const std::string& key : keys) {
            auto was = before.files.find(key);
            auto is = after.files.find(key);
            bool had = was != before.files.end();
            bool has = is != after.files.end();
            if (had && has && was->second.directory == is->second.directory &&
                was->second.attributes == is->second.attributes && was->second.data == is->second.data)
                continue;
            if (toolFiles.count(key)) continue;
            const std::string& path = has ? is->second.path : was->second.path;
            if (IsWormFile(key)) {
                // Gone, or still there with its bytes (a cleared read-only bit is fine).
                if (!has || (had && was->second.data == is->second.data)) continue;
                Add("changed", std::string(when) + ": the bytes of worm file " + path + " changed");
                continue;
            }
            if (key == winIni && had && has && !kind_.nt &&
                WithoutRun(Text(was->second.data)) == WithoutRun(Text(is->second.data)))
                continue;
            std::string how = !had ? "appeared" : !has ? "disappeared"
                              : was->second.data != is->second.data ? "bytes changed"
                                                                     : "attributes changed";
            Add("changed", std::string(when) + ": " + path + " " + how);
        }

        const std::string shell = ValueKey("HKEY_CLASSES_ROOT", kShellKey, "");
        const std::string shell32 = ValueKey("HKEY_CLASSES_ROOT", kShellKey32, "");
        // HKEY_CURRENT_USER is the running account's hive under HKEY_USERS.
        const std::string run = ValueKey("HKEY_USERS", std::string(sim::ToolUserSid) + "\\" + kNtWindowsKey, "run");
        const std::string userShell = ValueKey("HKEY_USERS", kPlainUserShellKey, "");
        const std::string userRun = ValueKey("HKEY_USERS", kPlainUserWindowsKey, "run");
        std::set<std::string> values;
        for (const auto& value : before.values) values.insert(value.first);
        for (const auto& value : after.values) values.insert(value.first);
        for (const std::string& key : values) {
            auto was = before.values.find(key);
            auto is = after.values.find(key);
            bool had = was != before.values.end();
            bool has = is != after.values.end();
            if (had && has && was->second.type == is->second.type && was->second.data == is->second.data)
                continue;
            if (has && (key == shell || key == shell32 || key == userShell) && Text(is->second.data) == kRightCommand)
                continue;
            if (has && (key == run || key == userRun) && kind_.nt && Text(is->second.data).empty()) continue;
            const std::string& where = has ? is->second.where : was->second.where;
            // The tool's own key, where its records live when the Windows
            // volume cannot be asked whether it keeps access lists.
            if (IsToolKey(where)) continue;
            std::string how = !had ? "appeared" : !has ? "disappeared" : "changed";
            if (has) how += " (now \"" + Text(is->second.data) + "\")";
            Add("changed", std::string(when) + ": registry " + where + " " + how);
        }
    }

private:
    static bool IsToolKey(const std::string& where) {
        const std::string tool = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Ombrel Works\\Kurrelfix";
        return where == "HKEY_LOCAL_MACHINE\\SOFTWARE" || where == "HKEY_LOCAL_MACHINE\\SOFTWARE\\Ombrel Works" ||
               where.compare(0, tool.size(), tool) == 0;
    }

    static std::string WithoutRun(const std::string& ini) {
        std::istringstream in(ini);
        std::string line, out;
        while (std::getline(in, line)) {
            if (Lower(line).compare(0, 4, "run=") == 0) line = "run=";
            out += line + "\n";
        }
        return out;
    }

    sim::Workstation& ws_;
    const WorkstationKind& kind_;
    const std::vector<std::string>& worm_;
};

// What the tool wrote to its log in this run: the log file's new bytes, or
// the debugger output when no log file took them.
std::string LogOfTheRun(sim::Workstation& ws, const MachineState& before, const MachineState& after,
                        std::string* where) {
    for (std::string path : {ws.windowsDirectory + "\\Kurrelfix.log", std::string("C:\\Kurrelfix.log")}) {
        auto is = after.files.find(FileKey(path));
        if (is == after.files.end()) continue;
        auto was = before.files.find(FileKey(path));
        size_t old = was == before.files.end() ? 0 : was->second.data.size();
        if (is->second.data.size() <= old) continue;
        *where = path;
        return std::string(is->second.data.begin() + static_cast<long>(old), is->second.data.end());
    }
    *where = "the debugger output";
    return ws.DebugOutput();
}

std::string LastLine(const std::string& text) {
    std::string line;
    std::istringstream in(text);
    for (std::string next; std::getline(in, next);) {
        if (!next.empty() && next.back() == '\r') next.pop_back();
        if (!next.empty()) line = next;
    }
    return line;
}

bool IsWormProcess(const sim::Process& process, const std::vector<std::string>& worm) {
    for (const std::string& path : worm)
        if (sim::NoCaseEqual(process.exePath, path)) return true;
    return false;
}

void IgnoreProblem(const std::string&) {}

// Builds the workstation, makes the call fail, runs the tool silently, boots,
// and writes what it found to `out`.
void RunChild(const FaultRun& fault, FILE* out) {
    const WorkstationKind& kind = SweptWorkstations()[fault.workstation];
    // An unfired fault is counted by the parent, not reported here.
    sim::SetProblemHandler(IgnoreProblem);
    sim::Workstation ws;
    std::vector<std::string> worm = workstations::Describe(ws, kind);
    Checks checks(ws, kind, worm);
    MachineState before = Snapshot(ws);
    std::vector<sim::Process> processesBefore = ws.processes;
    std::vector<std::string> sharesBefore;
    for (const sim::Share& share : ws.shares) sharesBefore.push_back(sim::Describe(share));
    if (!fault.function.empty())
        ws.FailCall(fault.function, fault.error, fault.callsToSkip, fault.always ? kForever : 1);

    RunResult run = RunKurrelfix({"/SILENT"});

    // What the run did, before anything here calls into the machine again.
    std::map<std::string, int> calls;
    for (const std::string& name : sim::FailableCallNames()) calls[name] = ws.Calls(name);
    int fired = ws.faults.empty() ? 0 : ws.faults[0].fired;
    ws.faults.clear();
    int handles = ws.OpenHandles();
    MachineState afterRun = Snapshot(ws);
    const int code = run.exitCode;

    if (code < 0 || code > 3) checks.Add("exit-range", "exit code " + std::to_string(code));
    if (handles != 0) {
        std::string kinds;
        // In the order of sim::HandleKind.
        const char* names[] = {"free",    "file",    "folder",    "search",  "token", "process",
                               "snapshot", "key",    "scmanager", "service", "device", "event"};
        static_assert(sizeof(names) / sizeof(names[0]) == static_cast<int>(sim::HandleKind::Event) + 1,
                      "a name for every kind of handle");
        for (int k = 1; k <= static_cast<int>(sim::HandleKind::Event); ++k) {
            int n = ws.OpenHandles(static_cast<sim::HandleKind>(k));
            if (n) kinds += std::string(kinds.empty() ? "" : ", ") + std::to_string(n) + " " + names[k];
        }
        checks.Add("handles", std::to_string(handles) + " handles left open after the process ended (" + kinds + ")");
    }
    const bool reachedStages = run.console.find(kStagesMarker) != std::string::npos;
    // A scanner left off is a failure the run must own: exit code 3, the
    // level-1 line, and the record that makes the next run switch it on.
    std::string logWhere;
    const std::string runLog = LogOfTheRun(ws, before, afterRun, &logWhere);
    if (kind.scanner && reachedStages && ws.scanner.state != 1) {
        bool record = ws.Exists(ws.windowsDirectory + "\\Kurrelfix-scanner.rec") ||
                      !ws.RegText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ombrel Works\\Kurrelfix", "Scanner record").empty();
        if (code != 3 || !record || runLog.find("Scanner not switched back on") == std::string::npos)
            checks.Add("scanner", std::string("the scanner was left off") + (record ? "" : " without a record") +
                                      ", exit code " + std::to_string(code));
    }
    // Every share back as it was (a share that could not be remembered is
    // never taken away, so the others come back after it: the order may
    // change), and every enumeration buffer given back.
    std::vector<std::string> sharesAfter;
    for (const sim::Share& share : ws.shares) sharesAfter.push_back(sim::Describe(share));
    std::sort(sharesBefore.begin(), sharesBefore.end());
    std::sort(sharesAfter.begin(), sharesAfter.end());
    // A share not back is a failure the run must own: exit code 3, a line
    // naming it, and the journal that brings it back.
    bool sharesOwned = code == 3 && (ws.Exists(ws.windowsDirectory + "\\Kurrelfix-shares.jnl") ||
                                     !ws.RegText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ombrel Works\\Kurrelfix",
                                                 "Share journal").empty());
    for (const std::string& share : sharesBefore) {
        if (std::find(sharesAfter.begin(), sharesAfter.end(), share) != sharesAfter.end()) continue;
        std::string name = share.substr(5, share.find(' ') - 5);  // "name=NAME type=..."
        if (runLog.find("Share " + name + " not back on the network") == std::string::npos) sharesOwned = false;
    }
    if (reachedStages && sharesAfter != sharesBefore && !sharesOwned)
        checks.Add("shares", std::to_string(sharesBefore.size() - std::min(sharesBefore.size(), sharesAfter.size())) +
                                 " of " + std::to_string(sharesBefore.size()) + " shares are not back as they were");
    if (!ws.netBuffers.empty())
        checks.Add("buffers", std::to_string(ws.netBuffers.size()) + " share enumeration buffers not freed");
    if (reachedStages && !IsLogFunction(fault.function)) {
        std::string where;
        std::string last = LastLine(LogOfTheRun(ws, before, afterRun, &where));
        std::string expected = kExitLine + std::to_string(code);
        if (last != expected)
            checks.Add("log-end", where + " ends with \"" + last + "\", not \"" + expected + "\"");
    }
    for (const sim::Process& process : processesBefore) {
        if (IsWormProcess(process, worm)) continue;
        if (!ws.FindProcess(process.pid)) checks.Add("changed", "process " + process.exePath + " was ended");
    }
    bool wormRuns = false;
    for (const sim::Process& process : ws.processes)
        if (process.running && IsWormProcess(process, worm)) wormRuns = true;
    checks.Changes(before, afterRun, "after the run");
    std::string shellAfterRun = ws.RegText(HKEY_CLASSES_ROOT, kShellKey, "");
    std::string shell32AfterRun = kind.wow64 ? ws.RegText(HKEY_CLASSES_ROOT, kShellKey32, "") : kRightCommand;
    std::string userShellAfterRun = kind.plainUser ? ws.RegText(HKEY_USERS, kPlainUserShellKey, "") : kRightCommand;
    std::string userRunAfterRun = kind.plainUser ? ws.RegText(HKEY_USERS, kPlainUserWindowsKey, "run") : "";
    // Libraries loaded after the run's sweeps would not be found; only a run
    // that says it had errors may leave it so.
    if (kind.wow64 && !ws.fsRedirected && code != 3)
        checks.Add("redirection off", "the system folder's redirection is left off, exit code " + std::to_string(code));
    // What is on the disk is looked at as it is.
    ws.fsRedirected = false;
    std::string runAfterRun = RunEntry(ws, kind.nt);

    // The process has ended: Windows closes whatever handles it left open,
    // also those whose CloseHandle failed, before the next boot.
    for (size_t i = 0; i < ws.handles.size(); ++i) {
        if (ws.handles[i].kind != sim::HandleKind::Free)
            ws.FreeHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>((i + 1) * 4 + 0x100)));
    }
    ws.Reboot();
    MachineState afterBoot = Snapshot(ws);
    checks.Changes(before, afterBoot, "after the boot");

    if (code == 1) {
        if (!kind.infected) checks.Add("1 without worm", "exit code 1 on a workstation that never had the worm");
        for (const auto& file : afterBoot.files) {
            if (file.second.directory) continue;
            if (IsInfectedFile(file.second.path.c_str()))
                checks.Add("worm file remains", "worm file " + file.second.path + " is still there after the boot");
        }
        if (wormRuns) checks.Add("worm process runs", "a worm process still runs after the run");
        if (shellAfterRun != kRightCommand)
            checks.Add("open command wrong", "the open command is \"" + shellAfterRun + "\"");
        if (shell32AfterRun != kRightCommand)
            checks.Add("open command wrong", "the 32-bit view's open command is \"" + shell32AfterRun + "\"");
        if (!runAfterRun.empty() && runAfterRun != "(none)")
            checks.Add("run= remains", "run= is still \"" + runAfterRun + "\"");
        if (userShellAfterRun != kRightCommand)
            checks.Add("open command wrong", "the plain user's open command is \"" + userShellAfterRun + "\"");
        if (!userRunAfterRun.empty())
            checks.Add("run= remains", "the plain user's run= is still \"" + userRunAfterRun + "\"");
    }
    if (code == 0 && kind.infected) {
        if (reachedStages) checks.Add("0 with worm", "exit code 0 on an infected workstation");
        else checks.Add("0 before the stages", "exit code 0 on an infected workstation, the run stopped before its stages");
    }

    fprintf(out, "EXIT %d\nFIRED %d\n", code, fired);
    // Only the run without faults says how often each function was called:
    // the parent keeps no more than it needs (see ReleaseFreedMemory).
    if (fault.function.empty())
        for (const auto& call : calls) fprintf(out, "CALLS %s %d\n", call.first.c_str(), call.second);
    for (const Violation& v : checks.violations) fprintf(out, "V %s\t%s\n", v.kind.c_str(), v.what.c_str());
    fprintf(out, "END\n");
    fflush(out);
}

// ---- the parent: fresh processes, timeouts, verdicts ---------------------

struct Child {
    pid_t pid = 0;
    FaultRun fault;
    std::string resultPath;
    std::string errorPath;
    std::chrono::steady_clock::time_point deadline;
    bool killed = false;
};

Child Start(const FaultRun& fault) {
    Child child;
    child.fault = fault;
    ReleaseFreedMemory();
    char result[] = "/tmp/kurrelfix-sweep-result-XXXXXX";
    char errors[] = "/tmp/kurrelfix-sweep-stderr-XXXXXX";
    int resultFd = mkstemp(result);
    int errorFd = mkstemp(errors);
    child.resultPath = result;
    child.errorPath = errors;
    fflush(stdout);
    fflush(stderr);
    child.pid = fork();
    if (child.pid == 0) {
        // The child's sanitizer reports go to a file the parent reads.
        dup2(errorFd, 2);
        close(errorFd);
        FILE* out = fdopen(resultFd, "w");
        RunChild(fault, out);
        fclose(out);
        exit(0);  // exit(), not _exit(): the leak check runs at the end of the process
    }
    close(resultFd);
    close(errorFd);
    child.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
    return child;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The first line of a sanitizer's report, or the last lines of the output.
std::string CrashText(const std::string& errors) {
    std::istringstream in(errors);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.find("ERROR: ") != std::string::npos || line.find("runtime error") != std::string::npos)
            return line;
        if (!line.empty()) lines.push_back(line);
    }
    std::string tail;
    for (size_t i = lines.size() > 3 ? lines.size() - 3 : 0; i < lines.size(); ++i) tail += " | " + lines[i];
    return tail.empty() ? "no output" : tail.substr(3);
}

RunReport Finish(Child& child, int status) {
    RunReport report;
    report.fault = child.fault;
    std::istringstream in(ReadAll(child.resultPath));
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 5, "EXIT ") == 0) report.exitCode = atoi(line.c_str() + 5);
        else if (line.compare(0, 6, "FIRED ") == 0) report.fired = atoi(line.c_str() + 6);
        else if (line.compare(0, 6, "CALLS ") == 0) {
            std::istringstream fields(line.substr(6));
            std::string name;
            int count = 0;
            fields >> name >> count;
            report.calls[name] = count;
        } else if (line.compare(0, 2, "V ") == 0) {
            size_t tab = line.find('\t');
            report.violations.push_back({line.substr(2, tab - 2), line.substr(tab + 1)});
        } else if (line == "END") report.finished = true;
    }
    std::string errors = ReadAll(child.errorPath);
    if (child.killed) {
        report.violations.push_back({"hang", "no end after " + std::to_string(kTimeoutSeconds) + " seconds"});
    } else if (WIFSIGNALED(status)) {
        report.violations.push_back(
            {"crash", std::string("ended by signal ") + strsignal(WTERMSIG(status)) + ": " + CrashText(errors)});
    } else if (!report.finished || WEXITSTATUS(status) != 0) {
        report.violations.push_back(
            {"crash", "the process ended with status " + std::to_string(WEXITSTATUS(status)) +
                          (report.finished ? " after its checks" : " before its checks") + ": " +
                          CrashText(errors)});
    }
    unlink(child.resultPath.c_str());
    unlink(child.errorPath.c_str());
    return report;
}

// Runs every fault, at most `jobs` processes at a time.
std::vector<RunReport> RunAll(const std::vector<FaultRun>& faults, int jobs) {
    std::vector<RunReport> reports;
    std::vector<Child> running;
    size_t next = 0;
    while (next < faults.size() || !running.empty()) {
        while (next < faults.size() && static_cast<int>(running.size()) < jobs) running.push_back(Start(faults[next++]));
        bool ended = false;
        for (size_t i = 0; i < running.size(); ++i) {
            int status = 0;
            pid_t done = waitpid(running[i].pid, &status, WNOHANG);
            if (done == running[i].pid) {
                reports.push_back(Finish(running[i], status));
                running.erase(running.begin() + static_cast<long>(i));
                ended = true;
                break;
            }
            if (!running[i].killed && std::chrono::steady_clock::now() > running[i].deadline) {
                kill(running[i].pid, SIGKILL);
                running[i].killed = true;
            }
        }
        if (!ended) {
            struct timespec pause = {0, 1000000};
            nanosleep(&pause, nullptr);
        }
    }
    return reports;
}

// The call indexes tried for a function called `count` times (counted from 0).
std::vector<int> CallIndexes(int count) {
    std::set<int> indexes;
    for (int i = 0; i < count && i < kFirstCalls; ++i) indexes.insert(i);
    if (count > kFirstCalls) {
        for (int k = 1; k < kSpreadCalls; ++k) indexes.insert(kFirstCalls + (count - kFirstCalls) * k / kSpreadCalls);
        indexes.insert(count - 1);
    }
    return std::vector<int>(indexes.begin(), indexes.end());
}

std::string Describe(const RunReport& report) {
    const WorkstationKind& kind = SweptWorkstations()[report.fault.workstation];
    std::string text = kind.name;
    if (report.fault.function.empty()) text += " | no fault";
    else
        text += " | " + report.fault.function + " call " + std::to_string(report.fault.callsToSkip + 1) + " " +
                Mode(report.fault);
    return text + " | exit " + std::to_string(report.exitCode);
}

}  // namespace
}  // namespace fault_sweep

int main(int argc, char** argv) {
    using namespace fault_sweep;
    int jobs = 2;
    std::string only;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--jobs" && i + 1 < argc) jobs = std::max(1, atoi(argv[++i]));
        else if (arg == "--only" && i + 1 < argc) only = argv[++i];
        else if (arg == "--verbose") verbose = true;
        else {
            fprintf(stderr, "usage: %s [--jobs N] [--only WORKSTATION] [--verbose]\n", argv[0]);
            return 2;
        }
    }
    // Before the first fork, so that every run's leak check has the same roots.
    RegisterLeakRoots();
    auto started = std::chrono::steady_clock::now();
    int passed = 0, failed = 0, silencedRuns = 0;
    std::vector<std::string> failures;
    std::map<std::string, int> silencesUsed;
    for (size_t w = 0; w < SweptWorkstations().size(); ++w) {
        const WorkstationKind& kind = SweptWorkstations()[w];
        if (!only.empty() && only != kind.name) continue;
        // First the run without faults: how often each failable function is called.
        FaultRun plain;
        plain.workstation = w;
        std::vector<RunReport> reports = RunAll({plain}, 1);
        std::vector<FaultRun> faults;
        int points = 0, functions = 0;
        for (const auto& call : reports[0].calls) {
            std::vector<int> indexes = CallIndexes(call.second);
            if (!indexes.empty()) ++functions;
            for (int index : indexes) {
                ++points;
                for (bool always : {false, true}) {
                    FaultRun fault;
                    fault.workstation = w;
                    fault.function = call.first;
                    fault.callsToSkip = index;
                    fault.always = always;
                    fault.error = ErrorFor(call.first);
                    faults.push_back(fault);
                }
            }
        }
        if (!reports[0].finished) {
            fprintf(stdout, "%s: the run without faults did not finish; no faults tried\n", kind.name);
        }
        std::vector<RunReport> faulted = RunAll(faults, jobs);
        reports.insert(reports.end(), faulted.begin(), faulted.end());
        // A violation that the run without faults shows too is not the fault's
        // doing, so no row about the fault may silence it.
        std::set<std::string> plainViolations;
        for (const Violation& v : reports[0].violations) plainViolations.insert(v.kind + "\t" + v.what);
        int unfired = 0;
        for (const RunReport& report : reports) {
            if (!report.fault.function.empty() && report.finished && report.fired == 0) ++unfired;
            std::vector<std::string> open;
            bool silencedAny = false;
            for (const Violation& v : report.violations) {
                const Silence* row = FindSilence(report.fault.function, report.fault.callsToSkip + 1, kind.name,
                                                 Mode(report.fault), v.kind);
                if (row && !plainViolations.count(v.kind + "\t" + v.what) && v.kind != "crash" && v.kind != "hang" && v.kind != "exit-range") {
                    silencedAny = true;
                    ++silencesUsed[std::string(row->function) + (row->call ? " call " + std::to_string(row->call) : "") +
                                  (row->workstation[0] ? std::string(" on ") + row->workstation : "") + ": " +
                                  row->violation];
                    continue;
                }
                open.push_back(v.kind + ": " + v.what);
            }
            if (open.empty()) {
                ++passed;
                if (silencedAny) ++silencedRuns;
                if (verbose) fprintf(stdout, "ok   %s\n", Describe(report).c_str());
                continue;
            }
            ++failed;
            for (const std::string& what : open) failures.push_back(Describe(report) + " | " + what);
        }
        fprintf(stdout, "%s: %zu runs (1 without faults, %d injection points over %d functions, once and from then on; %d faults never fired)\n",
                kind.name, reports.size(), points, functions, unfired);
        fflush(stdout);
    }
    for (const std::string& failure : failures) fprintf(stdout, "FAIL %s\n", failure.c_str());
    for (const auto& used : silencesUsed)
        fprintf(stdout, "silenced by the reviewed list: %s (%d violations)\n", used.first.c_str(), used.second);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    fprintf(stdout, "fault sweep took %.0f s; %d passing runs needed the reviewed list\n", seconds, silencedRuns);
    fprintf(stdout, "%d passed, %d failed\n", passed, failed);
    return failed > 0 ? 1 : 0;
}
