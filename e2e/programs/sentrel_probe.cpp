// Looks at, and steers, the test driver that stands in for the Sentrel
// scanner (e2e/driver). It opens the device with FILE_FLAG_BACKUP_SEMANTICS,
// which the tool never uses, so that its opens stay out of the driver's record.
//   sentrel_probe.exe [-d DEVICE] COMMAND
//     state                     prints "state on" or "state off"
//     set-state on|off          sets the state as the scanner's own switch would
//     record                    prints the record, one line per entry
//     reset                     empties the record and drops armed behaviours
//     pend CODE                 leaves the next request of CODE (hex) pending
//     ignore-cancel CODE [SKIP] leaves the request of CODE after SKIP others
//                               pending with no cancel routine, until its
//                               handle is cleaned up or closed
//     late CODE MS [SKIP]       completes the request of CODE after SKIP
//                               others MS milliseconds late
//     wrong-readback            the next read-back answers 7
//     silent-readback           the next read-back writes nothing
//     wait-state on|off SECONDS polls until the state is reached; exit 1 if not
// DEVICE defaults to VTSentrelDev. Exit code 0 on success, 1 when the driver
// refused or the wait ran out, 2 for a wrong command line.
//
// Record lines (numbers in decimal unless shown with 0x):
//   open OPEN device=NAME share=N options=0xHHHHHHHH
//   control OPEN req=N code=0xHHHHHHHH in=N data=HEX|- out=N completed status=0xHHHHHHHH info=N reply=HEX|-
//   control OPEN req=N code=0xHHHHHHHH in=N data=HEX|- out=N pending
//   control OPEN req=N code=0xHHHHHHHH in=N data=HEX|- out=N pending no-cancel
//   control OPEN req=N code=0xHHHHHHHH in=N data=HEX|- out=N pending late status=0xHHHHHHHH info=N reply=HEX|-
//   late OPEN req=N after=MS     (the late request completed)
//   cancel OPEN req=N by=cancel-routine|cleanup|close
//   cleanup OPEN
//   close OPEN
//   other OPEN major=N
//   lost N                       (only when entries did not fit)
#include <windows.h>
#include <winioctl.h>

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../driver/sentrel_test.h"

namespace {

HANDLE open_probe(const char* device) {
    char path[128];
    snprintf(path, sizeof path, "\\\\.\\%s", device);
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool request(HANDLE device, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size,
             DWORD* got = nullptr) {
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, code, const_cast<void*>(in), in_size, out, out_size, &returned, nullptr);
    if (got) *got = returned;
    if (!ok) printf("request 0x%08lx failed: error %lu\n", (unsigned long)code, (unsigned long)GetLastError());
    return ok != FALSE;
}

bool read_state(HANDLE device, ULONG* state) {
    DWORD got = 0;
    return request(device, SENTREL_TEST_GET_STATE, nullptr, 0, state, sizeof *state, &got) && got == sizeof *state;
}

void print_hex(const UCHAR* bytes, ULONG count) {
    if (count == 0) {
        printf("-");
        return;
    }
    for (ULONG i = 0; i < count; i++) printf("%02x", bytes[i]);
}

void print_event(const SENTREL_EVENT& e) {
    switch (e.Kind) {
    case SENTREL_EVENT_OPEN:
        printf("open %lu device=%.*s share=%lu options=0x%08lx\n", (unsigned long)e.Open,
               (int)sizeof e.Device, e.Device, (unsigned long)e.ShareAccess, (unsigned long)e.Options);
        break;
    case SENTREL_EVENT_CONTROL:
        printf("control %lu req=%lu code=0x%08lx in=%lu data=", (unsigned long)e.Open, (unsigned long)e.Request,
               (unsigned long)e.Code, (unsigned long)e.InputLength);
        print_hex(e.Input, e.InputKept);
        if (e.InputKept < e.InputLength) printf("..");
        printf(" out=%lu", (unsigned long)e.OutputLength);
        if (e.Outcome == SENTREL_OUTCOME_PENDING) {
            printf(" pending\n");
        } else if (e.Outcome == SENTREL_OUTCOME_PENDING_NO_CANCEL) {
            printf(" pending no-cancel\n");
        } else {
            printf(" %s status=0x%08lx info=%lu reply=", e.Outcome == SENTREL_OUTCOME_PENDING_LATE ? "pending late" : "completed", (unsigned long)e.Status,
                   (unsigned long)e.Information);
            print_hex(e.Reply, e.Information < SENTREL_KEPT_REPLY ? e.Information : SENTREL_KEPT_REPLY);
            printf("\n");
        }
        break;
    case SENTREL_EVENT_CANCEL:
        printf("cancel %lu req=%lu by=%s\n", (unsigned long)e.Open, (unsigned long)e.Request,
               e.Outcome == SENTREL_CANCEL_BY_CLEANUP ? "cleanup"
               : e.Outcome == SENTREL_CANCEL_BY_CLOSE ? "close"
                                                      : "cancel-routine");
        break;
    case SENTREL_EVENT_LATE:
        printf("late %lu req=%lu after=%lu\n", (unsigned long)e.Open, (unsigned long)e.Request,
               (unsigned long)e.Information);
        break;
    case SENTREL_EVENT_CLEANUP:
        printf("cleanup %lu\n", (unsigned long)e.Open);
        break;
    case SENTREL_EVENT_CLOSE:
        printf("close %lu\n", (unsigned long)e.Open);
        break;
    case SENTREL_EVENT_OTHER:
        printf("other %lu major=%lu\n", (unsigned long)e.Open, (unsigned long)e.Code);
        break;
    default:
        printf("unknown kind=%lu\n", (unsigned long)e.Kind);
        break;
    }
}

int usage() {
    fprintf(stderr,
            "usage: sentrel_probe.exe [-d DEVICE] state | set-state on|off | record | reset | pend CODE |\n"
            "       ignore-cancel CODE [SKIP] | late CODE MS [SKIP] |\n"
            "       wrong-readback | silent-readback | wait-state on|off SECONDS\n");
    return 2;
}

// "on" 1, "off" 0, anything else -1.
int parse_state(const char* text) {
    if (strcmp(text, "on") == 0) return 1;
    if (strcmp(text, "off") == 0) return 0;
    return -1;
}

// A whole number in BASE; false for an empty text or trailing characters.
bool parse_number(const char* text, int base, ULONG* value) {
    char* end = nullptr;
    *value = strtoul(text, &end, base);
    return *text && !*end;
}

}  // namespace

int main(int argc, char** argv) {
    const char* device_name = "VTSentrelDev";
    int at = 1;
    if (at + 1 < argc && strcmp(argv[at], "-d") == 0) {
        device_name = argv[at + 1];
        at += 2;
    }
    if (at >= argc) return usage();
    const char* command = argv[at++];
    int rest = argc - at;

    HANDLE device = open_probe(device_name);
    if (device == INVALID_HANDLE_VALUE) {
        printf("cannot open %s: error %lu\n", device_name, (unsigned long)GetLastError());
        return 1;
    }
    bool ok = false;
    if (strcmp(command, "state") == 0 && rest == 0) {
        ULONG state = 0;
        ok = read_state(device, &state);
        if (ok) printf("state %s\n", state ? "on" : "off");
    } else if (strcmp(command, "set-state") == 0 && rest == 1 && parse_state(argv[at]) >= 0) {
        ULONG state = (ULONG)parse_state(argv[at]);
        ok = request(device, SENTREL_TEST_SET_STATE, &state, sizeof state, nullptr, 0);
    } else if (strcmp(command, "record") == 0 && rest == 0) {
        // Too big for the stack of a small program.
        static SENTREL_RECORD record;
        DWORD got = 0;
        ok = request(device, SENTREL_TEST_READ_RECORD, nullptr, 0, &record, sizeof record, &got);
        DWORD header = (DWORD)offsetof(SENTREL_RECORD, Events);
        if (ok && (got < header || got != header + record.Count * sizeof(SENTREL_EVENT))) {
            printf("record of %lu bytes does not hold %lu entries\n", (unsigned long)got,
                   (unsigned long)record.Count);
            ok = false;
        }
        if (ok) {
            for (ULONG i = 0; i < record.Count; i++) print_event(record.Events[i]);
            if (record.Lost) printf("lost %lu\n", (unsigned long)record.Lost);
        }
    } else if (strcmp(command, "reset") == 0 && rest == 0) {
        ok = request(device, SENTREL_TEST_CLEAR_RECORD, nullptr, 0, nullptr, 0);
    } else if (strcmp(command, "pend") == 0 && rest == 1) {
        char* end = nullptr;
        ULONG code = strtoul(argv[at], &end, 16);
        if (!*argv[at] || *end) return usage();
        ok = request(device, SENTREL_TEST_PEND_NEXT, &code, sizeof code, nullptr, 0);
    } else if (strcmp(command, "ignore-cancel") == 0 && (rest == 1 || rest == 2)) {
        ULONG input[2] = {0, 0};
        if (!parse_number(argv[at], 16, &input[0]) || (rest == 2 && !parse_number(argv[at + 1], 10, &input[1]))) {
            CloseHandle(device);
            return usage();
        }
        ok = request(device, SENTREL_TEST_IGNORE_CANCEL_NEXT, input, sizeof input, nullptr, 0);
    } else if (strcmp(command, "late") == 0 && (rest == 2 || rest == 3)) {
        ULONG input[3] = {0, 0, 0};
        if (!parse_number(argv[at], 16, &input[0]) || !parse_number(argv[at + 1], 10, &input[1]) ||
            (rest == 3 && !parse_number(argv[at + 2], 10, &input[2]))) {
            CloseHandle(device);
            return usage();
        }
        ok = request(device, SENTREL_TEST_LATE_NEXT, input, sizeof input, nullptr, 0);
    } else if (strcmp(command, "wrong-readback") == 0 && rest == 0) {
        ok = request(device, SENTREL_TEST_WRONG_READBACK, nullptr, 0, nullptr, 0);
    } else if (strcmp(command, "silent-readback") == 0 && rest == 0) {
        ok = request(device, SENTREL_TEST_SILENT_READBACK, nullptr, 0, nullptr, 0);
    } else if (strcmp(command, "wait-state") == 0 && rest == 2 && parse_state(argv[at]) >= 0) {
        ULONG wanted = (ULONG)parse_state(argv[at]);
        DWORD limit = (DWORD)(atof(argv[at + 1]) * 1000);
        DWORD start = GetTickCount();
        ULONG state = 0;
        for (;;) {
            if (!read_state(device, &state)) break;
            DWORD waited = GetTickCount() - start;
            if (state == wanted) {
                printf("state %s after %lu ms\n", argv[at], (unsigned long)waited);
                ok = true;
                break;
            }
            if (waited >= limit) {
                printf("state still %s after %lu ms\n", state ? "on" : "off", (unsigned long)waited);
                break;
            }
            Sleep(50);
        }
    } else {
        CloseHandle(device);
        return usage();
    }
    CloseHandle(device);
    fflush(stdout);
    return ok ? 0 : 1;
}
