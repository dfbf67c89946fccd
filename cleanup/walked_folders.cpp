#include "cleanup/walked_folders.h"

#include <stdint.h>
#include <string.h>

struct WalkedFolderSlot {
    FolderId id;
    DWORD used;
};

static size_t SlotOf(const FolderId& id, size_t capacity) {
    // File indexes of one volume are close together: mix every bit in.
    uint32_t hash = 2166136261u;
    const DWORD parts[3] = {id.volumeSerial, id.indexHigh, id.indexLow};
    for (DWORD part : parts) {
        for (int byte = 0; byte < 4; ++byte) {
            hash ^= (part >> (8 * byte)) & 0xFF;
            hash *= 16777619u;
        }
    }
    return hash & (capacity - 1);
}

// The slot holding the folder, or the empty slot where it belongs. The table
// is never more than half full, so an empty slot is always there.
static WalkedFolderSlot* Probe(WalkedFolderSlot* slots, size_t capacity, const FolderId& id) {
    size_t at = SlotOf(id, capacity);
    while (slots[at].used && !SameFileIdentity(slots[at].id, id)) at = (at + 1) & (capacity - 1);
    return &slots[at];
}

int HasWalked(const WalkedFolders* set, const FolderId& id) {
    if (set->capacity == 0) return 0;
    return Probe(set->slots, set->capacity, id)->used ? 1 : 0;
}

static int Grow(WalkedFolders* set) {
    size_t capacity = set->capacity ? set->capacity * 2 : WalkedFoldersFirstCapacity;
    if (capacity > ((size_t)-1) / sizeof(WalkedFolderSlot)) return 0;
    WalkedFolderSlot* slots =
        static_cast<WalkedFolderSlot*>(AllocBuffer(capacity * sizeof(WalkedFolderSlot)));
    if (!slots) return 0;
    memset(slots, 0, capacity * sizeof(WalkedFolderSlot));
    for (size_t i = 0; i < set->capacity; ++i) {
        if (set->slots[i].used) *Probe(slots, capacity, set->slots[i].id) = set->slots[i];
    }
    if (set->slots) FreeBuffer(set->slots);
    set->slots = slots;
    set->capacity = capacity;
    return 1;
}

int RememberWalked(WalkedFolders* set, const FolderId& id) {
    if (HasWalked(set, id)) return 1;
    if ((set->count + 1) * 2 > set->capacity && !Grow(set)) return 0;
    WalkedFolderSlot* slot = Probe(set->slots, set->capacity, id);
    slot->id = id;
    slot->used = 1;
    ++set->count;
    return 1;
}

void ForgetWalkedFolders(WalkedFolders* set) {
    if (set->slots) FreeBuffer(set->slots);
    set->slots = nullptr;
    set->capacity = 0;
    set->count = 0;
}
