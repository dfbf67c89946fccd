/* A test-only kernel driver that stands in for the Sentrel on-access scanner
 * in the Wine scenarios, so that they can see what Kurrelfix asks of the
 * scanner and when. It is never part of Kurrelfix.exe or its release.
 *
 * - It creates one device per name in the REG_SZ / REG_MULTI_SZ value
 *   "Devices" of its service key (names split by NULs, commas, semicolons or
 *   blanks; "VTSentrelDev" when the value is missing), each with a link in
 *   \DosDevices so that "\\.\NAME" opens it.
 * - It keeps the scanner's state (on at start) and answers the scanner's
 *   requests, completing each one in its dispatch routine, unless a test
 *   request armed it to leave one pending (with or without a cancel routine)
 *   or to complete one late from a thread of its own.
 * - It records every open, cleanup, close and request, in order, for the
 *   scenarios to read back through its own requests (sentrel_test.h).
 *
 * Build (see e2e/CMakeLists.txt):
 *   x86_64-w64-mingw32-gcc -I.../include/ddk -shared -nostdlib -nostartfiles
 *     -Wl,--subsystem,native -Wl,--entry,DriverEntry sentrel_test.c -lntoskrnl
 * (the i686 entry is _DriverEntry@8). */
#include <ntddk.h>

#include "sentrel_test.h"

#define MAX_DEVICES 8
#define MAX_PENDING 16
#define MAX_LATE 4

/* What the next request of an armed code gets instead of an answer at once. */
#define ANSWER_NOW 0
#define ANSWER_PEND 1         /* pending, with a cancel routine */
#define ANSWER_IGNORE_CANCEL 2 /* pending, without one */
#define ANSWER_LATE 3         /* carried out now, completed later */

/* A request to be completed late, and what it is completed with. */
typedef struct LATE_REQUEST {
    PIRP Irp; /* NULL: the slot is free */
    NTSTATUS Status;
    ULONG Written;
    ULONG Open;
    ULONG Request;
    ULONG Milliseconds;
} LATE_REQUEST;

typedef struct DEVICE_EXTENSION {
    char Name[SENTREL_NAME_CHARS];
    WCHAR Link[16 + SENTREL_NAME_CHARS];
    UNICODE_STRING LinkName;
    BOOLEAN Linked;
} DEVICE_EXTENSION;

/* The file object's FsContext2 holds its open number shifted left by one;
 * the low bit marks an open of the probe, which is kept out of the record. */
#define QUIET_OPEN 1u

static KSPIN_LOCK record_lock;
static SENTREL_RECORD record;     /* guarded by record_lock */
static ULONG next_open = 1;       /* guarded by record_lock */
static ULONG next_request = 1;    /* guarded by record_lock */
static LONG scanner_on = 1;       /* guarded by record_lock */
static BOOLEAN pend_armed;        /* guarded by record_lock */
static ULONG pend_code;           /* guarded by record_lock */
static BOOLEAN wrong_readback;    /* guarded by record_lock */
static BOOLEAN silent_readback;   /* guarded by record_lock */
static BOOLEAN ignore_armed;      /* guarded by record_lock */
static ULONG ignore_code;         /* guarded by record_lock */
static ULONG ignore_skip;         /* guarded by record_lock */
static BOOLEAN late_armed;        /* guarded by record_lock */
static ULONG late_code;           /* guarded by record_lock */
static ULONG late_skip;           /* guarded by record_lock */
static ULONG late_ms;             /* guarded by record_lock */
static LATE_REQUEST late_requests[MAX_LATE]; /* guarded by record_lock */

/* Requests left pending; guarded by the system's cancel spin lock, which the
 * cancel routine is called with, so that a request is completed only once,
 * either by its cancel routine or by the cleanup of its handle. */
static PIRP pending[MAX_PENDING];

static DEVICE_OBJECT* devices[MAX_DEVICES];
static ULONG device_count;

/* Scratch for reading the service key; DriverEntry alone uses it. */
static UCHAR value_buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 512];

DRIVER_INITIALIZE DriverEntry;
static DRIVER_UNLOAD SentrelUnload;
static DRIVER_DISPATCH SentrelCreate;
static DRIVER_DISPATCH SentrelCleanup;
static DRIVER_DISPATCH SentrelClose;
static DRIVER_DISPATCH SentrelControl;
static DRIVER_DISPATCH SentrelOther;
static DRIVER_CANCEL SentrelCancel;
static KSTART_ROUTINE CompleteLate;

static void copy_bytes(void* to, const void* from, ULONG count) {
    UCHAR* t = (UCHAR*)to;
    const UCHAR* f = (const UCHAR*)from;
    while (count--) *t++ = *f++;
}

static void zero_bytes(void* to, ULONG count) {
    UCHAR* t = (UCHAR*)to;
    while (count--) *t++ = 0;
}

static ULONG open_number(FILE_OBJECT* file) {
    return file ? (ULONG)((ULONG_PTR)file->FsContext2 >> 1) : 0;
}

static BOOLEAN is_quiet(FILE_OBJECT* file) {
    return file && ((ULONG_PTR)file->FsContext2 & QUIET_OPEN);
}

/* Appends an entry; the caller holds record_lock and fills in the rest
 * through the returned pointer (NULL when the record is full). */
static SENTREL_EVENT* add_event_locked(ULONG kind, ULONG open) {
    SENTREL_EVENT* event;
    if (record.Count >= SENTREL_MAX_EVENTS) {
        record.Lost++;
        return NULL;
    }
    event = &record.Events[record.Count++];
    zero_bytes(event, sizeof(*event));
    event->Kind = kind;
    event->Open = open;
    return event;
}

static void add_simple_event(ULONG kind, ULONG open, ULONG request, ULONG code, ULONG outcome,
                             NTSTATUS status) {
    KIRQL irql;
    SENTREL_EVENT* event;
    KeAcquireSpinLock(&record_lock, &irql);
    event = add_event_locked(kind, open);
    if (event) {
        event->Request = request;
        event->Code = code;
        event->Outcome = outcome;
        event->Status = (ULONG)status;
    }
    KeReleaseSpinLock(&record_lock, irql);
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI SentrelCreate(PDEVICE_OBJECT device, PIRP irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    FILE_OBJECT* file = stack->FileObject;
    DEVICE_EXTENSION* ext = (DEVICE_EXTENSION*)device->DeviceExtension;
    KIRQL irql;
    SENTREL_EVENT* event;

    if (file && (stack->Parameters.Create.Options & SENTREL_QUIET_OPTION)) {
        file->FsContext2 = (PVOID)(ULONG_PTR)QUIET_OPEN;
        return complete(irp, STATUS_SUCCESS, 0);
    }
    KeAcquireSpinLock(&record_lock, &irql);
    if (file) file->FsContext2 = (PVOID)((ULONG_PTR)next_open << 1);
    event = add_event_locked(SENTREL_EVENT_OPEN, next_open);
    next_open++;
    if (event) {
        event->ShareAccess = stack->Parameters.Create.ShareAccess;
        event->Options = stack->Parameters.Create.Options;
        copy_bytes(event->Device, ext->Name, sizeof(event->Device));
    }
    KeReleaseSpinLock(&record_lock, irql);
    return complete(irp, STATUS_SUCCESS, 0);
}

static void NTAPI SentrelCancel(PDEVICE_OBJECT device, PIRP irp) {
    ULONG i;
    (void)device;
    for (i = 0; i < MAX_PENDING; i++)
        if (pending[i] == irp) pending[i] = NULL;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    add_simple_event(SENTREL_EVENT_CANCEL, (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[0],
                     (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[1], 0,
                     SENTREL_CANCEL_BY_ROUTINE, STATUS_CANCELLED);
    complete(irp, STATUS_CANCELLED, 0);
}

/* Completes, as cancelled, the requests of FILE still pending, recording
 * each with HOW. Windows sends the cleanup when the last handle of an open is
 * closed, and a driver must end the open's pending requests there; Wine 8
 * sends no cleanup, only the close, and still sends it while a request of
 * that open is pending, so the close does the same. */
static void cancel_pending_of(FILE_OBJECT* file, ULONG how) {
    PIRP mine[MAX_PENDING];
    ULONG count = 0, i;
    KIRQL irql;

    IoAcquireCancelSpinLock(&irql);
    for (i = 0; i < MAX_PENDING; i++) {
        PIRP waiting = pending[i];
        if (!waiting || IoGetCurrentIrpStackLocation(waiting)->FileObject != file) continue;
        pending[i] = NULL;
        IoSetCancelRoutine(waiting, NULL);
        mine[count++] = waiting;
    }
    IoReleaseCancelSpinLock(irql);
    for (i = 0; i < count; i++) {
        add_simple_event(SENTREL_EVENT_CANCEL, (ULONG)(ULONG_PTR)mine[i]->Tail.Overlay.DriverContext[0],
                         (ULONG)(ULONG_PTR)mine[i]->Tail.Overlay.DriverContext[1], 0, how, STATUS_CANCELLED);
        complete(mine[i], STATUS_CANCELLED, 0);
    }
}

static NTSTATUS NTAPI SentrelCleanup(PDEVICE_OBJECT device, PIRP irp) {
    FILE_OBJECT* file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    (void)device;
    cancel_pending_of(file, SENTREL_CANCEL_BY_CLEANUP);
    if (!is_quiet(file)) add_simple_event(SENTREL_EVENT_CLEANUP, open_number(file), 0, 0, 0, 0);
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI SentrelClose(PDEVICE_OBJECT device, PIRP irp) {
    FILE_OBJECT* file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    (void)device;
    cancel_pending_of(file, SENTREL_CANCEL_BY_CLOSE);
    if (!is_quiet(file)) add_simple_event(SENTREL_EVENT_CLOSE, open_number(file), 0, 0, 0, 0);
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI SentrelOther(PDEVICE_OBJECT device, PIRP irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    (void)device;
    if (!is_quiet(stack->FileObject))
        add_simple_event(SENTREL_EVENT_OTHER, open_number(stack->FileObject), 0, stack->MajorFunction,
                         SENTREL_OUTCOME_COMPLETED, STATUS_INVALID_DEVICE_REQUEST);
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

/* The test's own requests; they are never recorded. */
static NTSTATUS test_request(PIRP irp, ULONG code, UCHAR* buffer, ULONG in, ULONG out) {
    KIRQL irql;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR written = 0;

    KeAcquireSpinLock(&record_lock, &irql);
    if (code == SENTREL_TEST_GET_STATE) {
        if (out < sizeof(ULONG)) {
            status = STATUS_BUFFER_TOO_SMALL;
        } else {
            *(ULONG*)buffer = (ULONG)scanner_on;
            written = sizeof(ULONG);
        }
    } else if (code == SENTREL_TEST_SET_STATE) {
        if (in < sizeof(ULONG) || *(ULONG*)buffer > 1)
            status = STATUS_INVALID_PARAMETER;
        else
            scanner_on = (LONG)*(ULONG*)buffer;
    } else if (code == SENTREL_TEST_READ_RECORD) {
        ULONG size = (ULONG)FIELD_OFFSET(SENTREL_RECORD, Events) + record.Count * sizeof(SENTREL_EVENT);
        if (out < size) {
            status = STATUS_BUFFER_TOO_SMALL;
        } else {
            copy_bytes(buffer, &record, size);
            written = size;
        }
    } else if (code == SENTREL_TEST_CLEAR_RECORD) {
        record.Count = 0;
        record.Lost = 0;
        next_open = 1;
        next_request = 1;
        pend_armed = FALSE;
        wrong_readback = FALSE;
        silent_readback = FALSE;
        ignore_armed = FALSE;
        late_armed = FALSE;
    } else if (code == SENTREL_TEST_IGNORE_CANCEL_NEXT) {
        if (in < sizeof(ULONG)) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            ignore_armed = TRUE;
            ignore_code = ((ULONG*)buffer)[0];
            ignore_skip = in >= 2 * sizeof(ULONG) ? ((ULONG*)buffer)[1] : 0;
        }
    } else if (code == SENTREL_TEST_LATE_NEXT) {
        if (in < 2 * sizeof(ULONG)) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            late_armed = TRUE;
            late_code = ((ULONG*)buffer)[0];
            late_ms = ((ULONG*)buffer)[1];
            late_skip = in >= 3 * sizeof(ULONG) ? ((ULONG*)buffer)[2] : 0;
        }
    } else if (code == SENTREL_TEST_PEND_NEXT) {
        if (in < sizeof(ULONG)) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            pend_armed = TRUE;
            pend_code = *(ULONG*)buffer;
        }
    } else if (code == SENTREL_TEST_WRONG_READBACK) {
        wrong_readback = TRUE;
    } else if (code == SENTREL_TEST_SILENT_READBACK) {
        silent_readback = TRUE;
    } else {
        status = STATUS_INVALID_DEVICE_REQUEST;
    }
    KeReleaseSpinLock(&record_lock, irql);
    return complete(irp, status, written);
}

/* "0" or "1" and a NUL, exactly as the tool sends it; -1 for anything else. */
static LONG state_text(const UCHAR* buffer, ULONG in) {
    if (in != 2 || buffer[1] != 0) return -1;
    if (buffer[0] == '0') return 0;
    if (buffer[0] == '1') return 1;
    return -1;
}

/* Whether one of the armed behaviours takes this request of CODE; the
 * caller holds record_lock. An armed behaviour with a skip lets that many
 * requests of its code through first. */
static ULONG armed_answer_locked(ULONG code) {
    if (pend_armed && pend_code == code) {
        pend_armed = FALSE;
        return ANSWER_PEND;
    }
    if (ignore_armed && ignore_code == code) {
        if (ignore_skip == 0) {
            ignore_armed = FALSE;
            return ANSWER_IGNORE_CANCEL;
        }
        ignore_skip--;
    }
    if (late_armed && late_code == code) {
        if (late_skip == 0) {
            late_armed = FALSE;
            return ANSWER_LATE;
        }
        late_skip--;
    }
    return ANSWER_NOW;
}

/* The thread of one late request: it waits, then completes the request with
 * the result its dispatch worked out, and frees the slot. */
static VOID NTAPI CompleteLate(PVOID context) {
    LATE_REQUEST* late = (LATE_REQUEST*)context;
    LARGE_INTEGER interval;
    SENTREL_EVENT* event;
    PIRP irp;
    NTSTATUS status;
    ULONG written;
    KIRQL irql;

    interval.QuadPart = -(LONGLONG)late->Milliseconds * 10000; /* relative, in 100 ns */
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
    KeAcquireSpinLock(&record_lock, &irql);
    irp = late->Irp;
    status = late->Status;
    written = late->Written;
    event = add_event_locked(SENTREL_EVENT_LATE, late->Open);
    if (event) {
        event->Request = late->Request;
        event->Status = (ULONG)status;
        event->Information = late->Milliseconds;
    }
    late->Irp = NULL;
    KeReleaseSpinLock(&record_lock, irql);
    complete(irp, status, written);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

/* Leaves IRP to a thread that completes it after the armed delay; when no
 * slot or thread can be had, it is completed at once. The IRP is already
 * marked pending. */
static void complete_late(PIRP irp, ULONG open, ULONG request, NTSTATUS status, ULONG written) {
    LATE_REQUEST* late = NULL;
    HANDLE thread;
    KIRQL irql;
    ULONG i;

    KeAcquireSpinLock(&record_lock, &irql);
    for (i = 0; i < MAX_LATE && !late; i++) {
        if (late_requests[i].Irp) continue;
        late = &late_requests[i];
        late->Irp = irp;
        late->Status = status;
        late->Written = written;
        late->Open = open;
        late->Request = request;
        late->Milliseconds = late_ms;
    }
    KeReleaseSpinLock(&record_lock, irql);
    if (late && NT_SUCCESS(PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, CompleteLate, late))) {
        ZwClose(thread);
        return;
    }
    if (late) {
        KeAcquireSpinLock(&record_lock, &irql);
        late->Irp = NULL;
        KeReleaseSpinLock(&record_lock, irql);
    }
    complete(irp, status, written);
}

static NTSTATUS NTAPI SentrelControl(PDEVICE_OBJECT device, PIRP irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    FILE_OBJECT* file = stack->FileObject;
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
    SENTREL_EVENT* event;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG written = 0, request, i;
    ULONG answer;
    BOOLEAN pend;
    KIRQL irql;
    (void)device;

    if (DEVICE_TYPE_FROM_CTL_CODE(code) == SENTREL_TEST_DEVICE_TYPE)
        return test_request(irp, code, buffer, in, out);
    if (!buffer && (in || out)) return complete(irp, STATUS_INVALID_PARAMETER, 0);

    KeAcquireSpinLock(&record_lock, &irql);
    request = next_request++;
    answer = armed_answer_locked(code);
    pend = answer == ANSWER_PEND || answer == ANSWER_IGNORE_CANCEL;
    if (pend) {
        /* Left pending: nothing is carried out. */
    } else if (code == SENTREL_SET_STATE || code == SENTREL_SET_STATE_9X) {
        LONG wanted = state_text(buffer, in);
        if (wanted < 0)
            status = STATUS_INVALID_PARAMETER;
        else
            scanner_on = wanted;
    } else if (code == SENTREL_READ_STATE) {
        if (out < sizeof(USHORT)) {
            status = STATUS_BUFFER_TOO_SMALL;
        } else if (silent_readback) {
            silent_readback = FALSE;
        } else {
            *(USHORT*)buffer = (USHORT)(wrong_readback ? 7 : scanner_on);
            wrong_readback = FALSE;
            written = sizeof(USHORT);
        }
    } else if (code == SENTREL_REGISTER_9X) {
        /* Nothing to do: the scenarios only need to see what arrived. */
    } else {
        status = STATUS_INVALID_DEVICE_REQUEST;
    }
    if (!is_quiet(file)) {
        event = add_event_locked(SENTREL_EVENT_CONTROL, open_number(file));
        if (event) {
            event->Request = request;
            event->Code = code;
            event->InputLength = in;
            event->OutputLength = out;
            event->Outcome = answer == ANSWER_PEND            ? SENTREL_OUTCOME_PENDING
                             : answer == ANSWER_IGNORE_CANCEL ? SENTREL_OUTCOME_PENDING_NO_CANCEL
                             : answer == ANSWER_LATE          ? SENTREL_OUTCOME_PENDING_LATE
                                                              : SENTREL_OUTCOME_COMPLETED;
            event->Status = (ULONG)(pend ? STATUS_PENDING : status);
            event->Information = written;
            event->InputKept = in < SENTREL_KEPT_INPUT ? in : SENTREL_KEPT_INPUT;
            copy_bytes(event->Input, buffer, event->InputKept);
            copy_bytes(event->Reply, buffer, written < SENTREL_KEPT_REPLY ? written : SENTREL_KEPT_REPLY);
        }
    }
    KeReleaseSpinLock(&record_lock, irql);

    if (answer == ANSWER_NOW) return complete(irp, status, written);
    if (answer == ANSWER_LATE) {
        IoMarkIrpPending(irp);
        complete_late(irp, open_number(file), request, status, written);
        return STATUS_PENDING;
    }

    irp->Tail.Overlay.DriverContext[0] = (PVOID)(ULONG_PTR)open_number(file);
    irp->Tail.Overlay.DriverContext[1] = (PVOID)(ULONG_PTR)request;
    IoAcquireCancelSpinLock(&irql);
    for (i = 0; i < MAX_PENDING && pending[i]; i++) {
    }
    if (i == MAX_PENDING || (answer == ANSWER_PEND && irp->Cancel)) {
        IoReleaseCancelSpinLock(irql);
        add_simple_event(SENTREL_EVENT_CANCEL, open_number(file), request, 0, SENTREL_CANCEL_BY_ROUTINE,
                         STATUS_CANCELLED);
        return complete(irp, STATUS_CANCELLED, 0);
    }
    pending[i] = irp;
    IoMarkIrpPending(irp);
    /* Without a cancel routine the system cannot cancel it: only the
     * cleanup or close of its handle ends it (cancel_pending_of). */
    if (answer == ANSWER_PEND) IoSetCancelRoutine(irp, SentrelCancel);
    IoReleaseCancelSpinLock(irql);
    return STATUS_PENDING;
}

static void NTAPI SentrelUnload(PDRIVER_OBJECT driver) {
    ULONG i;
    (void)driver;
    for (i = 0; i < device_count; i++) {
        DEVICE_EXTENSION* ext = (DEVICE_EXTENSION*)devices[i]->DeviceExtension;
        if (ext->Linked) IoDeleteSymbolicLink(&ext->LinkName);
        IoDeleteDevice(devices[i]);
    }
    device_count = 0;
}

static void append(WCHAR* to, ULONG* at, const WCHAR* text) {
    while (*text) to[(*at)++] = *text++;
}

/* Creates \Device\NAME and its link \DosDevices\NAME. */
static NTSTATUS create_device(PDRIVER_OBJECT driver, const WCHAR* name, ULONG chars) {
    WCHAR device_name[16 + SENTREL_NAME_CHARS];
    UNICODE_STRING device_string;
    DEVICE_OBJECT* device;
    DEVICE_EXTENSION* ext;
    ULONG at = 0, i;
    NTSTATUS status;

    if (device_count == MAX_DEVICES) return STATUS_TOO_MANY_NAMES;
    append(device_name, &at, L"\\Device\\");
    for (i = 0; i < chars; i++) device_name[at++] = name[i];
    device_name[at] = 0;
    RtlInitUnicodeString(&device_string, device_name);
    status = IoCreateDevice(driver, sizeof(DEVICE_EXTENSION), &device_string, FILE_DEVICE_UNKNOWN, 0,
                            FALSE, &device);
    if (!NT_SUCCESS(status)) return status;
    ext = (DEVICE_EXTENSION*)device->DeviceExtension;
    zero_bytes(ext, sizeof(*ext));
    for (i = 0; i < chars; i++) ext->Name[i] = (char)name[i];
    at = 0;
    append(ext->Link, &at, L"\\DosDevices\\");
    for (i = 0; i < chars; i++) ext->Link[at++] = name[i];
    ext->Link[at] = 0;
    RtlInitUnicodeString(&ext->LinkName, ext->Link);
    devices[device_count++] = device;
    status = IoCreateSymbolicLink(&ext->LinkName, &device_string);
    if (!NT_SUCCESS(status)) return status;
    ext->Linked = TRUE;
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static BOOLEAN is_separator(WCHAR c) {
    return c == 0 || c == L',' || c == L';' || c == L' ' || c == L'\t';
}

/* A device name is plain: letters, digits and a few marks, shorter than the
 * record's field. */
static BOOLEAN is_name_char(WCHAR c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
           c == L'_' || c == L'-' || c == L'.';
}

/* Creates the devices named in the service key's "Devices" value; *configured
 * stays FALSE when the value is missing or names none. */
static NTSTATUS create_configured_devices(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path,
                                          BOOLEAN* configured) {
    OBJECT_ATTRIBUTES attributes;
    UNICODE_STRING value_name;
    KEY_VALUE_PARTIAL_INFORMATION* info = (KEY_VALUE_PARTIAL_INFORMATION*)value_buffer;
    HANDLE key;
    ULONG length, chars, start, i;
    const WCHAR* text;
    NTSTATUS status;

    *configured = FALSE;
    InitializeObjectAttributes(&attributes, registry_path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL,
                               NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return STATUS_SUCCESS;
    RtlInitUnicodeString(&value_name, L"Devices");
    status = ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, info, sizeof(value_buffer),
                             &length);
    ZwClose(key);
    if (!NT_SUCCESS(status) || (info->Type != REG_SZ && info->Type != REG_MULTI_SZ)) return STATUS_SUCCESS;

    text = (const WCHAR*)info->Data;
    chars = info->DataLength / sizeof(WCHAR);
    for (start = 0, i = 0; i <= chars; i++) {
        if (i < chars && !is_separator(text[i])) {
            if (!is_name_char(text[i])) return STATUS_OBJECT_NAME_INVALID;
            continue;
        }
        if (i > start) {
            if (i - start >= SENTREL_NAME_CHARS) return STATUS_NAME_TOO_LONG;
            status = create_device(driver, text + start, i - start);
            if (!NT_SUCCESS(status)) return status;
            *configured = TRUE;
        }
        start = i + 1;
    }
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {
    static const WCHAR default_name[] = L"VTSentrelDev";
    BOOLEAN configured;
    NTSTATUS status;
    ULONG i;

    KeInitializeSpinLock(&record_lock);
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; i++) driver->MajorFunction[i] = SentrelOther;
    driver->MajorFunction[IRP_MJ_CREATE] = SentrelCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = SentrelCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = SentrelClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = SentrelControl;
    driver->DriverUnload = SentrelUnload;

    status = create_configured_devices(driver, registry_path, &configured);
    if (NT_SUCCESS(status) && !configured)
        status = create_device(driver, default_name, sizeof(default_name) / sizeof(WCHAR) - 1);
    if (!NT_SUCCESS(status)) SentrelUnload(driver);
    return status;
}
