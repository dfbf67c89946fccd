// The virtual clock: Sleep moves it on, and what a test scheduled on it
// happens at its time.
#include "sim/workstation.h"

namespace sim {

Workstation& Workstation::At(DWORD atMs, std::function<void()> action) {
    clockEvents.push_back(ClockEvent{atMs, std::move(action)});
    return *this;
}

void Workstation::AdvanceClock(DWORD ms) {
    DWORD end = clockMs + ms;
    for (;;) {
        // Run the earliest due event first, so that events see the clock at their time.
        auto next = clockEvents.end();
        for (auto it = clockEvents.begin(); it != clockEvents.end(); ++it) {
            if (it->atMs <= end && (next == clockEvents.end() || it->atMs < next->atMs)) next = it;
        }
        if (next == clockEvents.end()) break;
        ClockEvent event = std::move(*next);
        clockEvents.erase(next);
        if (event.atMs > clockMs) clockMs = event.atMs;
        event.action();
    }
    clockMs = end;
}

}  // namespace sim
