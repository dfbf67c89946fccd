#include "cleanup/network_shares.h"

#include <stdio.h>
#include <string.h>

#include "app/outcome.h"
#include "cleanup/existing_share.h"
#include "cleanup/share_journal.h"
#include "support/ascii_text.h"
#include "support/system_library.h"
#include "support/system_queries.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

KF_PROCESS_STATE RemovedShareList RemovedShares;
KF_PROCESS_STATE ShareBufferSlot ShareBuffer;

// The UTF-16 name of an NT share as 8-bit text: the size the log lines take.
static const size_t NameBufferSize = 256;

HMODULE LoadShareLibrary(int nt) {
    HMODULE library = nt ? LoadSystemLibraryWide("netapi32.dll") : LoadSystemLibrary("svrapi.dll");
    if (!library) {
        PrintAndLog("%s %ld", nt ? "cannot load netapi32.dll library" : "cannot load svrapi.dll library",
                    (long)GetLastError());
    }
    return library;
}

// One function of the share library, or the line that says it is missing.
template <typename Function>
static int Bind(HMODULE library, const char* name, const char* missing, Function* function) {
    *function = BindFunction<Function>(library, name);
    if (!*function) PrintAndLog("%s %ld", missing, (long)GetLastError());
    return *function != nullptr;
}

// IPC$ carries the machine's own remote administration and stays.
static int IsKeptShare(const char* name) { return SameAsciiTextIgnoringCase(name, "IPC$"); }

int ShareFilter(const char* name, void* record) {
    int keep = IsKeptShare(name);
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s share %s\n", keep ? "Not removing" : "Removing",
             Escaped(name).text);
    if (keep) return 0;
    RemovedShare* node = static_cast<RemovedShare*>(AllocBuffer(sizeof(RemovedShare)));
    if (!node) {
        // A share that is not remembered could never come back: it stays.
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo,
                 "NO MEMORY to remember share %s, it is not removed\n", Escaped(name).text);
        return 0;
    }
    node->record = record;
    node->next = nullptr;
    if (RemovedShares.tail) {
        RemovedShares.tail->next = node;
    } else {
        RemovedShares.head = node;
    }
    RemovedShares.tail = node;
    return 1;
}

static void Name9x(const share_info_50* record, char* name) {
    memcpy(name, record->shi50_netname, sizeof(record->shi50_netname));
    name[sizeof(record->shi50_netname)] = '\0';
}

// Writes every share that the filter will be asked to remove to the journal,
// before the first deletion. 1 when the deletions may go on.
static int JournalSharesToRemove(int nt, const ShareBufferSlot* slot) {
    int count = 0;
    for (int b = 0; b < slot->count; ++b) count += static_cast<int>(slot->entries[b]);
    void** records = static_cast<void**>(AllocBuffer(sizeof(void*) * (count ? count : 1)));
    if (!records) {
        PrintAndLog("Share journal cannot be written, error %ld: no share is removed\n",
                    (long)ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    int toRemove = 0;
    char name[NameBufferSize];
    for (int b = 0; b < slot->count; ++b) {
        for (DWORD i = 0; i < slot->entries[b]; ++i) {
            void* record;
            if (nt) {
                SHARE_INFO_502* share = static_cast<SHARE_INFO_502*>(slot->buffers[b]) + i;
                ShareNameToAnsi(share->shi502_netname, name, sizeof(name));
                record = share;
            } else {
                share_info_50* share = static_cast<share_info_50*>(slot->buffers[b]) + i;
                Name9x(share, name);
                record = share;
            }
            if (!IsKeptShare(name)) records[toRemove++] = record;
        }
    }
    int written = toRemove == 0 || WriteShareJournal(nt, records, toRemove);
    FreeBuffer(records);
    return written;
}

int DeleteShares9x(ShareFilterFunction filter, ShareBufferSlot* slot) {
    char* buffer = static_cast<char*>(AllocBuffer(ShareBuffer9xSize));
    if (!buffer) {
        PrintAndLog("%s %ld", "not enough memory for the share list", (long)ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    slot->owner = ShareBufferOwn;
    slot->buffers[0] = buffer;
    slot->entries[0] = 0;
    slot->count = 1;

    HMODULE library = LoadShareLibrary(0);
    NetShareEnum9xFunction shareEnum;
    NetShareDel9xFunction shareDel;
    if (!library || !Bind(library, "NetShareEnum", "there is no funWin95NetShareEnum", &shareEnum) ||
        !Bind(library, "NetShareDel", "there is no NetShareDel", &shareDel)) {
        return 0;
    }
    unsigned short entriesRead = 0;
    unsigned short totalAvailable = 0;
    unsigned status = shareEnum(nullptr, 50, buffer, static_cast<unsigned short>(ShareBuffer9xSize),
                                &entriesRead, &totalAvailable);
    if (status != NERR_Success && status != ERROR_MORE_DATA) {
        PrintAndLog("%s %ld", "A system error has occurred\n", (long)status);
        return 1;
    }
    // Never more records than the buffer can hold, whatever the count says.
    DWORD entries = entriesRead;
    if (entries > ShareBuffer9xSize / sizeof(share_info_50)) entries = ShareBuffer9xSize / sizeof(share_info_50);
    slot->entries[0] = entries;
    if (!JournalSharesToRemove(0, slot)) return 0;

    share_info_50* records = reinterpret_cast<share_info_50*>(buffer);
    for (DWORD i = 0; i < entries; ++i) {
        char name[sizeof(records[i].shi50_netname) + 1];
        Name9x(&records[i], name);
        const char* word = "ignored";
        if (filter(name, &records[i])) {
            word = shareDel(nullptr, name, 0) == NERR_Success ? "deleted" : "not deleted, error";
        }
        PrintAndLog("share %s %s\n", Escaped(name).text, word);
    }
    // With 234 only the shares that fitted are handled. The library stays loaded.
    return 1;
}

int DeleteSharesNT(ShareFilterFunction filter, ShareBufferSlot* slot) {
    HMODULE library = LoadShareLibrary(1);
    NetShareEnumNTFunction shareEnum;
    NetApiBufferFreeFunction bufferFree;
    NetShareDelNTFunction shareDel;
    if (!library || !Bind(library, "NetShareEnum", "there is no funcNetShareEnum", &shareEnum) ||
        !Bind(library, "NetApiBufferFree", "there is no NetApiBufferFree", &bufferFree) ||
        !Bind(library, "NetShareDel", "there is no NetShareDel", &shareDel)) {
        return 0;
    }

    // Every pass first, every deletion after: the resume handle counts
    // shares, so deleting between passes would make the next pass skip as
    // many shares as were deleted. Each pass's buffer stays until
    // RestoreShares has re-created the shares it holds.
    slot->owner = ShareBufferNetapi;
    DWORD resumeHandle = 0;
    for (;;) {
        LPBYTE buffer = nullptr;
        DWORD entriesRead = 0;
        DWORD totalEntries = 0;
        NET_API_STATUS status = shareEnum(nullptr, 502, &buffer, MAX_PREFERRED_LENGTH, &entriesRead,
                                          &totalEntries, &resumeHandle);
        if (status != NERR_Success && status != ERROR_MORE_DATA) {
            if (buffer) bufferFree(buffer);
            PrintAndLog("%s %ld", "cannot enumerated shares", (long)GetLastError());
            return 1;
        }
        if (buffer) {
            if (slot->count == MaxShareBuffers) {
                bufferFree(buffer);
                PrintAndLog("%s %ld", "too many share list passes, shares left on the network:",
                            (long)totalEntries);
                break;
            }
            slot->buffers[slot->count] = buffer;
            slot->entries[slot->count] = entriesRead;
            ++slot->count;
        }
        if (status != ERROR_MORE_DATA || entriesRead == 0) break;
    }
    if (!JournalSharesToRemove(1, slot)) return 0;

    char name[NameBufferSize];
    for (int b = 0; b < slot->count; ++b) {
        SHARE_INFO_502* records = static_cast<SHARE_INFO_502*>(slot->buffers[b]);
        for (DWORD i = 0; i < slot->entries[b]; ++i) {
            ShareNameToAnsi(records[i].shi502_netname, name, sizeof(name));
            const char* word = "ingored";
            if (filter(name, &records[i])) {
                word = shareDel(nullptr, records[i].shi502_netname, 0) == NERR_Success
                           ? "Deleted"
                           : "Not deleted, error";
            }
            PrintAndLog("share %s %s\n", Escaped(name).text, word);
        }
    }
    // The library stays loaded.
    return 1;
}

int RemoveShares(FILE* stream) {
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "Removing shares\n");
    if (stream) fprintf(stream, "%s", "Removing shares\n");
    int nt = IsWindowsNT();
    // Shares an earlier run took away and never gave back come first; while
    // its journal is still needed, this run takes nothing away.
    if (!ReplayShareJournal(nt)) return 0;
    if (nt) return DeleteSharesNT(ShareFilter, &ShareBuffer);
    return DeleteShares9x(ShareFilter, &ShareBuffer);
}

int AddShare9x(void* record, long* status) {
    HMODULE library = LoadShareLibrary(0);
    NetShareAdd9xFunction shareAdd;
    if (!library || !Bind(library, "NetShareAdd", "there is no funcNetShareAdd", &shareAdd)) return 0;
    unsigned result = shareAdd(nullptr, 50, static_cast<const char*>(record), sizeof(share_info_50));
    char name[sizeof(static_cast<share_info_50*>(record)->shi50_netname) + 1];
    Name9x(static_cast<share_info_50*>(record), name);
    PrintAndLog("Share %s created %ld\n", Escaped(name).text, (long)result);
    if (status) *status = static_cast<long>(result);
    // The library stays loaded.
    return 1;
}

int AddShareNT(void* record, long* status) {
    HMODULE library = LoadShareLibrary(1);
    NetShareAddNTFunction shareAdd;
    if (!library || !Bind(library, "NetShareAdd", "there is no funcNetShareAdd", &shareAdd)) return 0;
    DWORD parameterError = 0;
    NET_API_STATUS result = shareAdd(nullptr, 502, static_cast<LPBYTE>(record), &parameterError);
    char name[NameBufferSize];
    ShareNameToAnsi(static_cast<SHARE_INFO_502*>(record)->shi502_netname, name, sizeof(name));
    PrintAndLog("Share %s created %ld\n", Escaped(name).text, (long)result);
    if (status) *status = static_cast<long>(result);
    return FreeLibrary(library);
}

void FreeShareBufferNT(void* buffer) {
    HMODULE library = LoadShareLibrary(1);
    NetApiBufferFreeFunction bufferFree;
    if (!library || !Bind(library, "NetApiBufferFree", "there is no NetApiBufferFree", &bufferFree)) return;
    bufferFree(buffer);
    FreeLibrary(library);
}

int RestoreShares(FILE* stream) {
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "Restore shares\n");
    if (stream) fprintf(stream, "%s", "Restore shares\n");
    // The records are of the family whose library handed them out: a family
    // check that failed in between must not hand an NT record to the 9x call.
    int nt = ShareBuffer.count > 0 ? ShareBuffer.owner == ShareBufferNetapi : IsWindowsNT();
    int missing = 0;
    // In the order of their removal.
    while (RemovedShares.head) {
        RemovedShare* node = RemovedShares.head;
        RemovedShares.head = node->next;
        if (!RemovedShares.head) RemovedShares.tail = nullptr;
        long status = -1;
        if (nt) {
            AddShareNT(node->record, &status);
        } else {
            AddShare9x(node->record, &status);
        }
        // A share whose deletion failed is still there: the add answers 2118.
        // On NT someone else may have made one of that name meanwhile: it is
        // back only when it is the remembered share (its line says why not).
        if (status == static_cast<long>(ShareExistsStatus)) {
            if (nt && !ExistingShareIsRemembered(static_cast<SHARE_INFO_502*>(node->record))) ++missing;
        } else if (status != NERR_Success) {
            ++missing;
            char name[NameBufferSize];
            if (nt) {
                ShareNameToAnsi(static_cast<SHARE_INFO_502*>(node->record)->shi502_netname, name, sizeof(name));
            } else {
                snprintf(name, sizeof(name), "%s", static_cast<share_info_50*>(node->record)->shi50_netname);
            }
            // -1: its library or NetShareAdd could not be had at that moment.
            TraceMsg(TraceModule, TraceAllTypes, TraceError,
                     "Share %s not back on the network, status %ld: the share journal keeps it\n", Escaped(name).text,
                     status);
        }
        FreeBuffer(node);
    }
    // Only now: every remembered record pointed into these buffers.
    for (int b = 0; b < ShareBuffer.count; ++b) {
        if (ShareBuffer.owner == ShareBufferNetapi) {
            FreeShareBufferNT(ShareBuffer.buffers[b]);
        } else {
            FreeBuffer(ShareBuffer.buffers[b]);
        }
        ShareBuffer.buffers[b] = nullptr;
        ShareBuffer.entries[b] = 0;
    }
    ShareBuffer.count = 0;
    ShareBuffer.owner = 0;
    SettleShareJournal(missing == 0, missing);
    // A share still off the network is a failure of the run, whatever the
    // journal can do for it later.
    if (missing) CountFailure();
    return missing == 0 ? 1 : 0;
}
