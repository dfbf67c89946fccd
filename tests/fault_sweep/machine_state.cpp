#include "tests/fault_sweep/machine_state.h"

#include <ctype.h>

namespace fault_sweep {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

void AddFiles(const sim::FileNode& node, const std::string& path, MachineState* state) {
    for (const auto& child : node.children) {
        const sim::FileNode& entry = *child.second;
        FileState file;
        file.path = path + entry.name;
        file.directory = entry.directory;
        file.attributes = entry.attributes;
        file.data = entry.data;
        state->files[Upper(file.path)] = file;
        if (entry.directory) AddFiles(entry, file.path + "\\", state);
    }
}

void AddKey(const sim::RegKey& key, const std::string& path, MachineState* state) {
    // The key itself, so that a key made or taken away is seen too.
    state->values[Upper(path)] = ValueState{path, 0, {}};
    for (const auto& value : key.values) {
        ValueState entry{path + " [" + value.first + "]", value.second.type, value.second.data};
        state->values[Upper(path) + "|" + Upper(value.first)] = entry;
    }
    for (const auto& sub : key.subkeys) AddKey(*sub.second, path + "\\" + sub.second->name, state);
}

}  // namespace

std::string FileKey(const std::string& path) { return Upper(path); }

std::string ValueKey(const char* root, const std::string& key, const std::string& value) {
    return Upper(std::string(root) + "\\" + key) + "|" + Upper(value);
}

std::string Text(const std::vector<uint8_t>& data) {
    std::string text;
    for (uint8_t byte : data) {
        if (byte == 0) break;
        text += static_cast<char>(byte);
    }
    return text;
}

MachineState Snapshot(sim::Workstation& ws) {
    MachineState state;
    for (const auto& drive : ws.drives) {
        if (drive.second.root) AddFiles(*drive.second.root, std::string(1, drive.first) + ":\\", &state);
    }
    for (const auto& root : ws.roots) AddKey(root.second, root.first, &state);
    return state;
}

}  // namespace fault_sweep
