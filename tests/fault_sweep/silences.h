// The reviewed list: runs whose verdict looks untrue, or whose machine looks
// off, but where the tool's specified behaviour asks for exactly that. Each
// row names the function made to fail and says why. Violations of the kinds
// "crash", "hang" and "exit-range" are never silenced.
#ifndef KURRELFIX_TESTS_FAULT_SWEEP_SILENCES_H
#define KURRELFIX_TESTS_FAULT_SWEEP_SILENCES_H

#include <string>

namespace fault_sweep {

struct Silence {
    const char* function;     // the function made to fail
    int call;                 // 0 any call, else the one call (counted from 1) made to fail first
    const char* workstation;  // "" every workstation, else part of its name ("NT", "infected 9x")
    const char* mode;         // "" both, "once" or "from then on"
    const char* violation;    // the kind of violation it allows
    const char* reason;
};

// The row that allows this violation, or nullptr.
const Silence* FindSilence(const std::string& function, int call, const std::string& workstation,
                           const std::string& mode, const std::string& violation);

}  // namespace fault_sweep

#endif
