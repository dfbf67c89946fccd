#include "cleanup/share_journal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/outcome.h"
#include "cleanup/existing_share.h"
#include "cleanup/network_shares.h"
#include "support/share_journal_format.h"
#include "support/system_library.h"
#include "support/tool_record.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

KF_PROCESS_STATE int ShareJournalWritten;

static const char JournalName[] = "Kurrelfix-shares.jnl";
// On NT on a volume without access lists, the journal is this value of the
// tool's key.
static const char JournalValue[] = "Share journal";

// ---- where it lives ------------------------------------------------------

// The journal's place: a file in the Windows folder, or the key's value.
typedef ToolRecordPlace JournalPlace;

static int FilePlace(JournalPlace* place) { return ToolRecordFilePlace(place, JournalName); }

static void KeyPlace(JournalPlace* place) { ToolRecordKeyPlace(place, JournalValue); }

// ---- writing ------------------------------------------------------------

// What someone other than an administrator may have left: on the console,
// and in the log at level 1, since shares stay off or are not brought back.
static void ReportError(const char* line) {
    printf("%s", line);
    TraceMsg(TraceModule, TraceAllTypes, TraceError, "%s", line);
}

static void ReportNotWritten(const char* path, DWORD error) {
    PrintAndLog("Share journal %s cannot be written, error %ld: no share is removed\n", path,
                (long)error);
}

int WriteShareJournal(int nt, void* const* records, int count) {
    JournalPlace place;
    if (nt && WindowsVolumeKeepsNoAcls()) {
        KeyPlace(&place);
    } else if (!FilePlace(&place)) {
        ReportNotWritten(JournalName, ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    // Counted first, then put together in a buffer of that size and stored
    // in one piece.
    DWORD size = FormatShareJournal(nt, records, count, nullptr);
    if (size > MaxShareJournalSize) {
        ReportNotWritten(place.name, ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    char* text = static_cast<char*>(AllocBuffer(size));
    if (!text) {
        ReportNotWritten(place.name, ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    FormatShareJournal(nt, records, count, text);
    DWORD error = 0;
    const char* distrust = nullptr;
    int stored = place.inRegistry ? StoreToolRecordInKey(&place, text, size, &error, &distrust)
                                  : StoreToolRecordInFile(&place, nt, text, size, &error, &distrust);
    FreeBuffer(text);
    if (!stored) {
        if (distrust) {
            char line[MAX_PATH + 128];
            snprintf(line, sizeof(line),
                     "Share journal %s cannot be written, the key is not trusted (%s): no share is removed\n",
                     place.name, distrust);
            ReportError(line);
        } else {
            ReportNotWritten(place.name, error);
        }
        return 0;
    }
    ShareJournalWritten = place.inRegistry ? 2 : 1;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Share journal %s written, %d shares\n",
             place.name, count);
    return 1;
}

static void ReportKept(const char* path, int missing) {
    PrintAndLog("Share journal %s kept: %d shares did not come back\n", path, missing);
}

// The share's name as 8-bit text, for the log.
static void JournalShareName(int nt, const JournalShare* share, char* name, size_t size) {
    if (nt) {
        ShareNameToAnsi(share->nt.shi502_netname, name, size);
    } else {
        snprintf(name, size, "%s", share->nine.shi50_netname);
    }
}

// Re-creates every share of a sound journal. The count of shares that did
// not come back; -1 when the library or its function is missing.
static int ReplayShares(int nt, const char* text, DWORD size) {
    HMODULE library = LoadShareLibrary(nt);
    if (!library) return -1;
    // NetShareAdd, as the family's library declares it.
    NetShareAddNTFunction addNT = nt ? BindFunction<NetShareAddNTFunction>(library, "NetShareAdd") : nullptr;
    NetShareAdd9xFunction add9x = nt ? nullptr : BindFunction<NetShareAdd9xFunction>(library, "NetShareAdd");
    if (!addNT && !add9x) {
        PrintAndLog("%s %ld", "there is no funcNetShareAdd", (long)GetLastError());
        FreeLibrary(library);
        return -1;
    }

    int missing = 0;
    ShareJournalWalk walk;
    StartShareJournalWalk(&walk, text, size, nt);
    JournalShare share;
    int next = 0;
    while ((next = NextJournalShare(&walk, &share)) != 0) {
        if (next < 0) {
            PrintAndLog("%s %ld", "NO MEMORY for a journal share", (long)ERROR_NOT_ENOUGH_MEMORY);
            ++missing;
            continue;
        }
        NET_API_STATUS status;
        if (nt) {
            DWORD parameterError = 0;
            status = addNT(nullptr, 502, reinterpret_cast<LPBYTE>(&share.nt), &parameterError);
        } else {
            status = add9x(nullptr, 50, reinterpret_cast<const char*>(&share.nine),
                           sizeof(share_info_50));
        }
        char name[256];
        JournalShareName(nt, &share, name, sizeof(name));
        PrintAndLog("Journal share %s created %ld\n", Escaped(name).text, (long)status);
        // A share that exists already is there: the earlier run's deletion
        // of it failed, or it came back another way. On NT it may also be
        // someone else's of that name, made while the journal waited: then it
        // is not back, the journal keeps it, and the run has failed.
        if (status == ShareExistsStatus) {
            if (nt && !ExistingShareIsRemembered(&share.nt)) {
                ++missing;
                CountFailure();
            }
        } else if (status != NERR_Success) {
            ++missing;
        }
        FreeJournalShare(&share);
    }
    FreeLibrary(library);
    return missing;
}

// ---- the journal's place, read and set aside ----------------------------

// One place's journal: 1 when the removal may go on from it, 0 when not.
static int ReplayFrom(const JournalPlace* place, int nt) {
    char* text = nullptr;
    DWORD size = 0;
    DWORD error = 0;
    const char* distrust = nullptr;
    int loaded = LoadToolRecord(place, nt, MaxShareJournalSize, &text, &size, &error, &distrust);
    if (loaded == 0) return 1;
    if (loaded < 0) {
        PrintAndLog("Share journal %s cannot be read, error %ld: no share is removed\n", place->name,
                    (long)error);
        return 0;
    }
    char aside[MAX_PATH + 32];
    if (distrust) {
        // Someone other than an administrator could have written it: none
        // of its shares is created, and this run removes none either, so
        // that the administrator can look at it first.
        char names[512];
        if (text) {
            ListShareJournalNames(nt, text, size, names, sizeof(names));
        } else {
            strcpy(names, " (too large to read)");
        }
        // Names from a file someone else may have written: data, as all of it.
        char shown[sizeof(names)];
        EscapeForLog(names, strlen(names), shown, sizeof(shown));
        int setAside = SetAsideToolRecord(place, "untrusted", text, size, aside, sizeof(aside), &error);
        if (text) FreeBuffer(text);
        char line[1200];
        if (!setAside) {
            snprintf(line, sizeof(line),
                     "Share journal %s is not trusted (%s) and cannot be set aside, error %ld; its shares are not re-created:%s; no share is removed\n",
                     place->name, distrust, (long)error, shown);
        } else {
            snprintf(line, sizeof(line),
                     "Share journal %s is not trusted (%s), set aside as %s; its shares are not re-created:%s; no share is removed\n",
                     place->name, distrust, aside, shown);
        }
        ReportError(line);
        return 0;
    }
    int count = 0;
    const char* damage = loaded == 2 ? "too large" : CheckShareJournalText(text, size, nt, &count);
    if (damage) {
        int setAside = SetAsideToolRecord(place, "bad", text, size, aside, sizeof(aside), &error);
        if (text) FreeBuffer(text);
        if (!setAside) {
            PrintAndLog("Share journal %s is damaged (%s) and cannot be set aside, error %ld: no share is removed\n",
                        place->name, damage, (long)error);
            return 0;
        }
        PrintAndLog("Share journal %s is damaged (%s), set aside as %s\n", place->name, damage, aside);
        return 1;
    }
    PrintAndLog("Share journal %s found: re-creating %d shares\n", place->name, count);
    int missing = ReplayShares(nt, text, size);
    FreeBuffer(text);
    if (missing != 0) {
        PrintAndLog("Share journal %s kept: %d shares did not come back; no share is removed\n",
                    place->name, missing < 0 ? count : missing);
        return 0;
    }
    if (!DeleteToolRecord(place, &error)) {
        PrintAndLog("Share journal %s cannot be deleted, error %ld: no share is removed\n", place->name,
                    (long)error);
        return 0;
    }
    PrintAndLog("Share journal %s done, every share is back\n", place->name);
    return 1;
}

int ReplayShareJournal(int nt) {
    // The file first; on NT also the key, where a run on a volume without
    // access lists left it. Both are looked at, whatever the volume is now.
    JournalPlace place;
    int mayGoOn = 1;
    if (FilePlace(&place) && !ReplayFrom(&place, nt)) mayGoOn = 0;
    if (nt) {
        KeyPlace(&place);
        if (!ReplayFrom(&place, nt)) mayGoOn = 0;
    }
    return mayGoOn;
}

void SettleShareJournal(int everyShareBack, int sharesMissing) {
    if (!ShareJournalWritten) return;
    JournalPlace place;
    if (ShareJournalWritten == 2) {
        KeyPlace(&place);
    } else if (!FilePlace(&place)) {
        ShareJournalWritten = 0;
        return;
    }
    ShareJournalWritten = 0;
    if (!everyShareBack) {
        ReportKept(place.name, sharesMissing);
        return;
    }
    DWORD error = 0;
    if (!DeleteToolRecord(&place, &error)) {
        PrintAndLog("Share journal %s cannot be deleted, error %ld\n", place.name, (long)error);
        return;
    }
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Share journal %s deleted\n", place.name);
}
