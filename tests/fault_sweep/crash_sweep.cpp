// The crash sweep, the fault sweep's sibling: a run of the tool stopped at a
// call of the run without faults, as a kill stops it (no handler runs, no
// stage finishes; what was written stays), then a fresh run of the tool on
// the same workstation. After the second run every share is back with its
// fields, the scanner is on, and the worm is gone or the exit code says why
// not. Each pair of runs is a process of its own.
//
// Every call of every failable function is a stop, sampled when a function is
// called more often than --per-function (default 16): its first two calls, its
// last two, and evenly between, so that the stops before, between and after
// each stage's writes are all there. Ends with "N passed, M failed".
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "cleanup/signature_matcher.h"
#include "sim/workstation.h"
#include "tests/fresh_process.h"
#include "tests/workstations.h"

namespace {

using workstations::WorkstationKind;

struct Stop {
    std::string function;
    int call = 0;
};

// Thrown from a call's hook: the process ends there.
struct Killed {};

bool IsWormProcess(const sim::Process& process, const std::vector<std::string>& worm) {
    for (const std::string& path : worm)
        if (sim::NoCaseEqual(process.exePath, path)) return true;
    return false;
}

// The end of a process as Windows sees it: its handles are closed, its
// console handlers gone, and the next process's thread starts with the
// file-system redirection on again.
void ProcessEnded(sim::Workstation& ws) {
    for (size_t i = 0; i < ws.handles.size(); ++i) {
        if (ws.handles[i].kind != sim::HandleKind::Free)
            ws.FreeHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>((i + 1) * 4 + 0x100)));
    }
    ws.ctrlHandlers.clear();
    ws.fsRedirected = true;
}

// The calls of the run without faults, per function.
std::vector<Stop> Stops(const WorkstationKind& kind, int perFunction) {
    sim::Workstation ws;
    workstations::Describe(ws, kind);
    RunKurrelfix({"/SILENT"});
    std::vector<Stop> stops;
    for (const std::string& name : sim::FailableCallNames()) {
        int calls = ws.Calls(name);
        std::set<int> chosen;
        if (calls <= perFunction) {
            for (int n = 1; n <= calls; ++n) chosen.insert(n);
        } else {
            chosen = {1, 2, calls - 1, calls};
            int between = perFunction - 4;
            for (int i = 1; i <= between; ++i) chosen.insert(2 + (calls - 3) * i / (between + 1));
        }
        for (int n : chosen) stops.push_back({name, n});
    }
    return stops;
}

// In the child: the stopped run, the second run, the checks. Prints the
// problems, one a line; exits 0 when there are none.
[[noreturn]] void Child(const WorkstationKind& kind, const Stop& stop) {
    sim::Workstation ws;
    std::vector<std::string> worm = workstations::Describe(ws, kind);
    std::vector<std::string> sharesBefore;
    for (const sim::Share& share : ws.shares) sharesBefore.push_back(sim::Describe(share));
    std::sort(sharesBefore.begin(), sharesBefore.end());
    bool killed = false;
    ws.OnCall(stop.function, stop.call, [] { throw Killed{}; });
    try {
        RunKurrelfix({"/SILENT"});
    } catch (const Killed&) {
        killed = true;
    }
    EndProcess();
    ProcessEnded(ws);
    ws.callHooks.clear();
    std::vector<std::string> problems;
    if (!killed) problems.push_back("the run never made that call");

    RunResult second = RunKurrelfix({"/SILENT"});
    ProcessEnded(ws);
    int code = second.exitCode;
    if (code < 0 || code > 3) problems.push_back("exit code " + std::to_string(code));
    std::vector<std::string> sharesAfter;
    for (const sim::Share& share : ws.shares) sharesAfter.push_back(sim::Describe(share));
    std::sort(sharesAfter.begin(), sharesAfter.end());
    // Someone else's C$, made while the stopped run swept, is never taken
    // for the machine's own: it stands as they made it, and the journal
    // still holds the machine's C$.
    const std::string taken = sim::Describe(workstations::TakenShare());
    if (kind.shareTakenMeanwhile && std::count(sharesAfter.begin(), sharesAfter.end(), taken)) {
        for (std::string& share : sharesBefore)
            if (share.compare(0, 8, "name=C$ ") == 0) share = taken;
        std::sort(sharesBefore.begin(), sharesBefore.end());
        if (!ws.Exists(ws.windowsDirectory + "\\Kurrelfix-shares.jnl"))
            problems.push_back("the journal is gone while someone else's C$ stands");
        if (code != 3) problems.push_back("exit code " + std::to_string(code) + " while the machine's C$ is not back");
    }
    if (sharesAfter != sharesBefore) problems.push_back("a share is not back as it was");
    if (kind.scanner && ws.scanner.state != 1) problems.push_back("the scanner is off");
    bool wormRuns = false;
    for (const sim::Process& process : ws.processes)
        if (process.running && IsWormProcess(process, worm)) wormRuns = true;
    ws.Reboot();
    bool wormFile = false;
    for (const std::string& path : worm)
        if (ws.Exists(path) && IsInfectedFile(path.c_str())) wormFile = true;
    // The worm may stay only when the exit code says the run did not succeed.
    if ((code == 0 || code == 1) && (wormFile || wormRuns))
        problems.push_back("exit code " + std::to_string(code) + " with the worm still there");
    for (const std::string& problem : problems) printf("%s\n", problem.c_str());
    fflush(stdout);
    _exit(problems.empty() ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    int jobs = 2;
    int perFunction = 16;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--jobs") == 0) jobs = std::max(1, atoi(argv[i + 1]));
        if (strcmp(argv[i], "--per-function") == 0) perFunction = std::max(5, atoi(argv[i + 1]));
    }
    auto start = std::chrono::steady_clock::now();
    int passed = 0;
    int failed = 0;
    for (const WorkstationKind& kind : workstations::SweptWorkstations()) {
        // The stops are found in a child too: the run leaves process-wide state.
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) return 2;
        pid_t lister = fork();
        if (lister == 0) {
            close(pipeEnds[0]);
            for (const Stop& stop : Stops(kind, perFunction)) dprintf(pipeEnds[1], "%s %d\n", stop.function.c_str(), stop.call);
            _exit(0);
        }
        close(pipeEnds[1]);
        std::string listed;
        char buffer[4096];
        ssize_t got;
        while ((got = read(pipeEnds[0], buffer, sizeof(buffer))) > 0) listed.append(buffer, static_cast<size_t>(got));
        close(pipeEnds[0]);
        waitpid(lister, nullptr, 0);
        std::vector<Stop> stops;
        for (size_t at = 0; at < listed.size();) {
            size_t end = listed.find('\n', at);
            std::string line = listed.substr(at, end - at);
            at = end + 1;
            size_t space = line.find(' ');
            stops.push_back({line.substr(0, space), atoi(line.c_str() + space + 1)});
        }

        struct Running {
            pid_t pid;
            Stop stop;
            std::string output;
        };
        std::vector<Running> running;
        size_t next = 0;
        int kindFailed = 0;
        while (next < stops.size() || !running.empty()) {
            while (next < stops.size() && static_cast<int>(running.size()) < jobs) {
                std::string output = "/tmp/kurrelfix-crash-" + std::to_string(getpid()) + "-" + std::to_string(next);
                // The child's freopen flushes what it inherited in stdout's
                // buffer: written here first, a FAIL line is printed once.
                fflush(stdout);
                pid_t pid = fork();
                if (pid == 0) {
                    FILE* out = freopen(output.c_str(), "w", stdout);
                    (void)out;
                    alarm(60);  // a hang is a failure too
                    Child(kind, stops[next]);
                }
                running.push_back({pid, stops[next], output});
                ++next;
            }
            int status = 0;
            pid_t done = wait(&status);
            for (size_t i = 0; i < running.size(); ++i) {
                if (running[i].pid != done) continue;
                bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
                if (ok) {
                    ++passed;
                } else {
                    ++failed;
                    ++kindFailed;
                    std::string text;
                    if (FILE* in = fopen(running[i].output.c_str(), "r")) {
                        char line[512];
                        while (fgets(line, sizeof(line), in)) {
                            line[strcspn(line, "\n")] = '\0';
                            text += std::string(text.empty() ? "" : "; ") + line;
                        }
                        fclose(in);
                    }
                    if (WIFSIGNALED(status)) text += " (signal " + std::to_string(WTERMSIG(status)) + ")";
                    printf("FAIL %s | stopped at %s call %d | %s\n", kind.name, running[i].stop.function.c_str(),
                           running[i].stop.call, text.c_str());
                }
                unlink(running[i].output.c_str());
                running.erase(running.begin() + static_cast<long>(i));
                break;
            }
        }
        printf("%s: %zu stops, %d failed\n", kind.name, stops.size(), kindFailed);
        fflush(stdout);
    }
    long seconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count());
    printf("crash sweep took %ld s\n", seconds);
    printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
