// Calls of the simulated functions: counting them, the hooks a test hangs on
// them, and the faults it injects.
#include <stdio.h>
#include <stdlib.h>

#include <stdexcept>

#include "sim/workstation.h"

namespace sim {

namespace {

void (*g_problemHandler)(const std::string& problem) = nullptr;

void ReportProblem(const std::string& problem) {
    if (g_problemHandler) {
        g_problemHandler(problem);
        return;
    }
    fprintf(stderr, "simulated workstation: %s\n", problem.c_str());
    abort();
}

// Counts the call and runs every hook set for this call, in the order they
// were set (a workstation's own event and a test's stop may fall on one
// call); the count.
int CountAndHook(Workstation& ws, std::string_view name) {
    auto it = ws.callCounts.find(name);
    if (it == ws.callCounts.end()) it = ws.callCounts.emplace(std::string(name), 0).first;
    int count = ++it->second;
    for (size_t i = 0; i < ws.callHooks.size();) {
        if (ws.callHooks[i].atCall != count || ws.callHooks[i].function != name) {
            ++i;
            continue;
        }
        // Taken out first: the action may call into the machine again, or
        // set more hooks.
        std::function<void()> action = std::move(ws.callHooks[i].action);
        ws.callHooks.erase(ws.callHooks.begin() + static_cast<long>(i));
        action();
    }
    return count;
}

}  // namespace

void SetProblemHandler(void (*handler)(const std::string& problem)) { g_problemHandler = handler; }

bool CallFails(const char* function, DWORD* error) {
    Workstation& ws = Current();
    std::string_view name(function);
    // The list of failable names must match the functions that can fail.
    if (CountAndHook(ws, name) == 1 && !IsFailable(name))
        throw std::logic_error("simulated " + std::string(name) +
                               " can fail but is missing from sim/failable_calls.cpp");
    for (Fault& fault : ws.faults) {
        if (fault.times <= 0 || fault.function != name) continue;
        if (fault.callsToSkip > 0) {
            --fault.callsToSkip;
            continue;
        }
        --fault.times;
        ++fault.fired;
        *error = fault.error;
        return true;
    }
    return false;
}

void CountCall(const char* function) {
    std::string_view name(function);
    if (CountAndHook(Current(), name) == 1 && IsFailable(name))
        throw std::logic_error("simulated " + std::string(name) +
                               " is listed as failable but never fails");
}

Workstation& Workstation::FailCall(const std::string& function, DWORD error, int callsToSkip,
                                   int times) {
    if (!IsFailable(function))
        throw std::invalid_argument("FailCall: the simulation cannot make " + function +
                                    " fail (not in sim/failable_calls.cpp)");
    faults.push_back(Fault{function, callsToSkip, error, times, 0});
    return *this;
}

Workstation& Workstation::OnCall(const std::string& function, int atCall,
                                 std::function<void()> action) {
    callHooks.push_back(CallHook{function, atCall, std::move(action)});
    return *this;
}

int Workstation::Calls(std::string_view function) const {
    auto it = callCounts.find(function);
    return it == callCounts.end() ? 0 : it->second;
}

// A fault that never fired tested nothing: the call it names was never
// made as often as the test thought.
void Workstation::ReportUnfiredFaults() {
    for (const Fault& fault : faults) {
        if (fault.fired == 0)
            ReportProblem("the fault asked for " + fault.function + " (after " +
                          std::to_string(fault.callsToSkip) + " more calls) never fired");
    }
}

}  // namespace sim
