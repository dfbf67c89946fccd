// A copy of everything on a simulated workstation that the tool could change
// by mistake: every file's bytes and attributes, every registry key and value.
// Comparing two of them tells what a run changed.
#ifndef KURRELFIX_TESTS_FAULT_SWEEP_MACHINE_STATE_H
#define KURRELFIX_TESTS_FAULT_SWEEP_MACHINE_STATE_H

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "sim/workstation.h"

namespace fault_sweep {

struct FileState {
    std::string path;  // as the file system spells it
    bool directory = false;
    DWORD attributes = 0;
    std::vector<uint8_t> data;
};

struct ValueState {
    std::string where;  // root\key [value]
    DWORD type = 0;
    std::vector<uint8_t> data;
};

struct MachineState {
    std::map<std::string, FileState> files;    // by upper-cased path
    std::map<std::string, ValueState> values;  // by upper-cased key path and value name
};

MachineState Snapshot(sim::Workstation& ws);

// The key under which Snapshot files a path or a value.
std::string FileKey(const std::string& path);
std::string ValueKey(const char* root, const std::string& key, const std::string& value);

// The text of a REG_SZ as the tool reads it: up to the first NUL.
std::string Text(const std::vector<uint8_t>& data);

}  // namespace fault_sweep

#endif
