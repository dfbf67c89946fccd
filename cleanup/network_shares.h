// Network shares off the network while the tool cleans: RemoveShares deletes
// every share but IPC$ and remembers each; RestoreShares re-creates them from
// the records the enumeration returned. svrapi.dll (Windows 9x, level 50) and
// netapi32.dll (NT, level 502) are both bound at run time.
#ifndef KURRELFIX_CLEANUP_NETWORK_SHARES_H
#define KURRELFIX_CLEANUP_NETWORK_SHARES_H

#include <stdio.h>

#include "platform/platform.h"
#include "platform/share_records.h"

// One remembered share: the address of its record inside an enumeration
// buffer that stays allocated until the share has been re-created.
struct RemovedShare {
    void* record;
    RemovedShare* next;
};

struct RemovedShareList {
    RemovedShare* head;
    RemovedShare* tail;
};
extern RemovedShareList RemovedShares;

// The enumeration buffers the remembered records point into: one on Windows
// 9x (ours, 4,200 bytes), one per enumeration pass on NT (netapi32's). Each
// with the count of records it holds.
const int MaxShareBuffers = 64;
const DWORD ShareBuffer9xSize = 4200;
const int ShareBufferOwn = 1;     // released with FreeBuffer
const int ShareBufferNetapi = 2;  // released with NetApiBufferFree

struct ShareBufferSlot {
    int owner;  // ShareBufferOwn or ShareBufferNetapi; 0 while empty
    int count;
    void* buffers[MaxShareBuffers];
    DWORD entries[MaxShareBuffers];
};
extern ShareBufferSlot ShareBuffer;

// The filter: 1 when the share is to be removed (and is now remembered).
typedef int (*ShareFilterFunction)(const char* name, void* record);

// The family's share library from the system folder (netapi32.dll on NT,
// svrapi.dll on 9x), or NULL with the line that says it cannot be loaded.
HMODULE LoadShareLibrary(int nt);
int RemoveShares(FILE* stream);
int RestoreShares(FILE* stream);
int ShareFilter(const char* name, void* record);
int DeleteShares9x(ShareFilterFunction filter, ShareBufferSlot* slot);
int DeleteSharesNT(ShareFilterFunction filter, ShareBufferSlot* slot);
// Both report the status of NetShareAdd through `status` (left alone when
// the library or its function is missing).
int AddShare9x(void* record, long* status);
int AddShareNT(void* record, long* status);
void FreeShareBufferNT(void* buffer);

#endif
