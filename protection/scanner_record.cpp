#include "protection/scanner_record.h"

#include <stdio.h>
#include <string.h>

#include "protection/protection_control.h"
#include "support/system_queries.h"
#include "support/tool_record.h"
#include "trace/trace_log.h"

KF_PROCESS_STATE int ScannerRecordAt;
KF_PROCESS_STATE int ScannerOffAsNT = -1;

namespace {

const char RecordName[] = "Kurrelfix-scanner.rec";
const char RecordValue[] = "Scanner record";
const char RecordLineNT[] = "Kurrelfix scanner record 1 NT\r\n";
const char RecordLine9x[] = "Kurrelfix scanner record 1 9x\r\n";
// Ours is one line; anything much larger is not ours to read whole.
const DWORD MaxRecordSize = 4096;

void PlaceOf(int at, ToolRecordPlace* place) {
    if (at == 2) {
        ToolRecordKeyPlace(place, RecordValue);
    } else if (!ToolRecordFilePlace(place, RecordName)) {
        strcpy(place->name, RecordName);
    }
}

const char* ValueRead(const ProtectionSwitch& report, char* buffer, size_t size) {
    if (report.valueRead < 0) return "none";
    snprintf(buffer, size, "%ld", report.valueRead);
    return buffer;
}

// The record goes after a switch-on that succeeded; one that cannot be
// deleted only means the next run switches on a scanner that is on.
void ClearRecord() {
    if (!ScannerRecordAt) return;
    ToolRecordPlace place;
    PlaceOf(ScannerRecordAt, &place);
    DWORD error = 0;
    if (DeleteToolRecord(&place, &error) || error == ERROR_FILE_NOT_FOUND) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Scanner record %s deleted\n", place.name);
    } else {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "Scanner record %s cannot be deleted, error %ld\n",
                 place.name, (long)error);
    }
    ScannerRecordAt = 0;
}

// A record file not to be trusted is kept for the administrator to look
// at, as an untrusted share journal is, rather than deleted.
void SetAsideUntrusted(const ToolRecordPlace* place) {
    char aside[MAX_PATH + 32];
    DWORD error = 0;
    if (SetAsideToolRecord(place, "untrusted", nullptr, 0, aside, sizeof(aside), &error)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Scanner record %s set aside as %s\n", place->name, aside);
    } else {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "Scanner record %s cannot be set aside, error %ld\n",
                 place->name, (long)error);
    }
}

// One place's record from an earlier run: 1 found (its family in `nt`).
int FindRecord(ToolRecordPlace* place, int currentNT, int* nt, const char** distrust) {
    char* text = nullptr;
    DWORD size = 0;
    DWORD error = 0;
    int loaded = LoadToolRecord(place, currentNT, MaxRecordSize, &text, &size, &error, distrust);
    if (loaded == 0) return 0;
    *nt = currentNT;
    if (loaded == 1) {
        // Damaged or not, a record says the scanner may be off; its family
        // only says which way to switch it on.
        if (strcmp(text, RecordLineNT) == 0) *nt = 1;
        if (strcmp(text, RecordLine9x) == 0) *nt = 0;
    }
    if (text) FreeBuffer(text);
    if (loaded < 0) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError,
                 "Scanner record %s cannot be read, error %ld: taken as there\n", place->name, (long)error);
    }
    return 1;
}

}  // namespace

void ResumeScanningLeftOff() {
    int currentNT = IsWindowsNT();
    for (int at = 1; at <= (currentNT ? 2 : 1); ++at) {
        ToolRecordPlace place;
        if (at == 1 && !ToolRecordFilePlace(&place, RecordName)) continue;
        if (at == 2) ToolRecordKeyPlace(&place, RecordValue);
        int nt = currentNT;
        const char* distrust = nullptr;
        if (!FindRecord(&place, currentNT, &nt, &distrust)) continue;
        // Switching on is the safe way whoever wrote the record, so even one
        // not to be trusted is acted on; the line says so.
        char trust[160] = "";
        if (distrust) snprintf(trust, sizeof(trust), ", not trusted: %s", distrust);
        ProtectionSwitch report;
        if (SwitchProtection(1, nt, &report)) {
            if (!report.noScanner) TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "scanner switched on\n");
            TraceMsg(TraceModule, TraceAllTypes, TraceError,
                     "An earlier run ended with the scanner off (record %s%s): switched on\n", place.name, trust);
            if (distrust && !place.inRegistry) {
                SetAsideUntrusted(&place);
            } else {
                ScannerRecordAt = at;
                ClearRecord();
            }
        } else {
            char value[24];
            TraceMsg(TraceModule, TraceAllTypes, TraceError,
                     "An earlier run ended with the scanner off (record %s%s) and it cannot be switched on now: request %s, error %ld, value read back %s; the record stays\n",
                     place.name, trust, report.step, (long)report.error, ValueRead(report, value, sizeof(value)));
            // This run's own switch-off and switch-on go by this record.
            if (!ScannerRecordAt) ScannerRecordAt = at;
        }
    }
}

void SuspendScanning() {
    int nt = IsWindowsNT();
    if (!ScannerRecordAt) {
        ToolRecordPlace place;
        int at = nt && WindowsVolumeKeepsNoAcls() ? 2 : 1;
        DWORD error = ERROR_FILENAME_EXCED_RANGE;
        const char* distrust = nullptr;
        int stored = 0;
        if (at == 2) {
            ToolRecordKeyPlace(&place, RecordValue);
            stored = StoreToolRecordInKey(&place, nt ? RecordLineNT : RecordLine9x, sizeof(RecordLineNT) - 1,
                                          &error, &distrust);
        } else if (ToolRecordFilePlace(&place, RecordName)) {
            stored = StoreToolRecordInFile(&place, nt, nt ? RecordLineNT : RecordLine9x, sizeof(RecordLineNT) - 1,
                                           &error, &distrust);
        } else {
            strcpy(place.name, RecordName);
        }
        if (!stored) {
            // Off without a record, a run that dies would leave it off for
            // good with nobody told: the cleaning goes on with it on.
            TraceMsg(TraceModule, TraceAllTypes, TraceError,
                     "Scanner record %s cannot be written, error %ld%s%s: the scanner is left on\n", place.name,
                     (long)error, distrust ? ", the key is not trusted: " : "", distrust ? distrust : "");
            return;
        }
        ScannerRecordAt = at;
    }
    ScannerOffAsNT = nt;
    ProtectionSwitch report;
    // A switch-off that fails leaves the scanner on, or partly off: the
    // record stays for the switch-on either way.
    if (SwitchProtection(0, nt, &report) && !report.noScanner) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "scanner switched off\n");
    }
}

int ResumeScanning() {
    if (ScannerOffAsNT < 0) return 1;
    int nt = ScannerOffAsNT;
    ScannerOffAsNT = -1;
    ProtectionSwitch report;
    if (SwitchProtection(1, nt, &report)) {
        if (!report.noScanner) TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "scanner switched on\n");
        ClearRecord();
        return 1;
    }
    ToolRecordPlace place;
    PlaceOf(ScannerRecordAt, &place);
    char value[24];
    const char* read = ValueRead(report, value, sizeof(value));
    TraceMsg(TraceModule, TraceAllTypes, TraceError,
             "Scanner not switched back on: request %s, error %ld, value read back %s; record %s kept for the next run\n",
             report.step, (long)report.error, read, place.name);
    printf("Scanner not switched back on: request %s, error %ld, value read back %s; record %s kept for the next run\n",
           report.step, (long)report.error, read, place.name);
    return 0;
}
