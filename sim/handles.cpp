// Handles of the simulated workstation: one table for every kind.
#include "sim/workstation.h"

namespace sim {

// Handles are small fake pointers: slot index + 1, times 4, as Windows
// handles are multiples of 4. Slots are reused, so that opening and closing
// a file allocates nothing once the table has grown.
HANDLE Workstation::NewHandle(const HandleEntry& entry) {
    for (size_t i = 0; i < handles.size(); ++i) {
        if (handles[i].kind == HandleKind::Free) {
            handles[i] = entry;
            return reinterpret_cast<HANDLE>(static_cast<uintptr_t>((i + 1) * 4 + 0x100));
        }
    }
    handles.push_back(entry);
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handles.size() * 4 + 0x100));
}

HandleEntry* Workstation::Lookup(HANDLE handle, HandleKind kind) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value < 0x104 || (value - 0x100) % 4 != 0) return nullptr;
    size_t index = (value - 0x100) / 4 - 1;
    if (index >= handles.size() || handles[index].kind != kind) return nullptr;
    return &handles[index];
}

void Workstation::FreeHandle(HANDLE handle) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value < 0x104) return;
    size_t index = (value - 0x100) / 4 - 1;
    if (index < handles.size()) {
        handles[index].kind = HandleKind::Free;
    }
}

int Workstation::OpenHandles(HandleKind kind) const {
    int open = 0;
    for (const HandleEntry& entry : handles) {
        if (entry.kind != HandleKind::Free && (kind == HandleKind::Free || entry.kind == kind)) ++open;
    }
    return open;
}

}  // namespace sim
