/* Shared by the test driver that stands in for the Sentrel scanner
 * (sentrel_test.c) and the programs that talk to it (sentrel_probe.cpp).
 * Include it after <windows.h> (programs) or <ntddk.h> (driver): both define
 * CTL_CODE and the fixed-size types used here.
 *
 * Only the Wine scenarios use any of this; Kurrelfix.exe never includes it. */
#ifndef SENTREL_TEST_H
#define SENTREL_TEST_H

/* The requests the scanner answers, as Kurrelfix sends them. */
#define SENTREL_SET_STATE 0x7E800u       /* "0"/"1" and a NUL: scanner off/on */
#define SENTREL_READ_STATE 0x7F010u      /* writes the state as a 16-bit 0 or 1 */
#define SENTREL_SET_STATE_9X 0x200u      /* the 9x form of the state request */
#define SENTREL_REGISTER_9X 0x7C450u     /* 9x: the scanner's registration text */

/* The test's own requests. The device type and functions lie in the range
 * left to vendors, so they never collide with a request the tool sends, and
 * FILE_ANY_ACCESS lets a handle opened with access 0 (the 9x form) send them. */
#define SENTREL_TEST_DEVICE_TYPE 0x8A5Eu
#define SENTREL_TEST_CODE(function) \
    CTL_CODE(SENTREL_TEST_DEVICE_TYPE, (function), METHOD_BUFFERED, FILE_ANY_ACCESS)
/* Output: ULONG state (0 off, 1 on). */
#define SENTREL_TEST_GET_STATE SENTREL_TEST_CODE(0x901)
/* Input: ULONG state. */
#define SENTREL_TEST_SET_STATE SENTREL_TEST_CODE(0x902)
/* Output: SENTREL_RECORD. */
#define SENTREL_TEST_READ_RECORD SENTREL_TEST_CODE(0x903)
/* Empties the record, numbers opens and requests from 1 again and drops
 * every armed behaviour below. The state stays. */
#define SENTREL_TEST_CLEAR_RECORD SENTREL_TEST_CODE(0x904)
/* Input: ULONG code. The next request with that code is left pending with a
 * cancel routine, until it is cancelled or its handle is cleaned up. */
#define SENTREL_TEST_PEND_NEXT SENTREL_TEST_CODE(0x905)
/* The next read-back answers 7 instead of the state. */
#define SENTREL_TEST_WRONG_READBACK SENTREL_TEST_CODE(0x906)
/* The next read-back succeeds having written nothing (Information 0). */
#define SENTREL_TEST_SILENT_READBACK SENTREL_TEST_CODE(0x907)

/* Input: ULONG code, and optionally ULONG skip (0 when missing). The request
 * with that code that comes after `skip` others of it is left pending with no
 * cancel routine, so that a cancel does nothing to it, as with a driver that
 * never heard of cancelling. It is completed, as cancelled, only when its
 * handle is cleaned up or closed. Armed for SENTREL_SET_STATE, it hits the
 * tool's first state request, the one it once sent without an OVERLAPPED. */
#define SENTREL_TEST_IGNORE_CANCEL_NEXT SENTREL_TEST_CODE(0x908)
/* Input: ULONG code, ULONG milliseconds, and optionally ULONG skip. The
 * request with that code after `skip` others of it is carried out at once but
 * completed only after the milliseconds, by a system thread of the driver;
 * it has no cancel routine. Keep the delay short of the tool's bound: a
 * request completed after its handle was closed is not something this driver
 * is meant to show. */
#define SENTREL_TEST_LATE_NEXT SENTREL_TEST_CODE(0x909)

/* The probe opens the device with FILE_FLAG_BACKUP_SEMANTICS, which reaches
 * the driver as this create option; the tool never asks for it. The driver
 * keeps such opens, and the requests on them, out of the record so that
 * looking at the driver does not change what it recorded. (Wine refuses to
 * open a device with a name after it, "\\.\DEVICE\probe", which would
 * otherwise have been the plainer mark.) */
#define SENTREL_QUIET_OPTION 0x00004000u /* FILE_OPEN_FOR_BACKUP_INTENT */

#define SENTREL_EVENT_OPEN 1u
#define SENTREL_EVENT_CLEANUP 2u
#define SENTREL_EVENT_CLOSE 3u
#define SENTREL_EVENT_CONTROL 4u
#define SENTREL_EVENT_CANCEL 5u
#define SENTREL_EVENT_OTHER 6u /* any other major function, refused */
#define SENTREL_EVENT_LATE 7u  /* a late request completed; Information: ms waited */

#define SENTREL_OUTCOME_COMPLETED 0u
#define SENTREL_OUTCOME_PENDING 1u
#define SENTREL_OUTCOME_PENDING_NO_CANCEL 2u /* SENTREL_TEST_IGNORE_CANCEL_NEXT */
#define SENTREL_OUTCOME_PENDING_LATE 3u      /* SENTREL_TEST_LATE_NEXT; Status, Information: its result */

#define SENTREL_CANCEL_BY_ROUTINE 1u /* the system called the cancel routine */
#define SENTREL_CANCEL_BY_CLEANUP 2u /* the open's last handle was closed (Windows) */
#define SENTREL_CANCEL_BY_CLOSE 3u   /* the open was closed (Wine sends no cleanup) */

#define SENTREL_KEPT_INPUT 64u
#define SENTREL_KEPT_REPLY 8u
#define SENTREL_NAME_CHARS 24u
#define SENTREL_MAX_EVENTS 200u

/* One entry of the record. Fixed-size fields only, so that the driver and a
 * program of the same bitness agree on the layout. */
typedef struct SENTREL_EVENT {
    ULONG Kind;
    ULONG Open;          /* the open it came on, numbered from 1 in order */
    ULONG Request;       /* control and cancel: request number, from 1 */
    ULONG Code;          /* control: the request code; other: the major function */
    ULONG InputLength;
    ULONG OutputLength;
    ULONG Outcome;       /* control: SENTREL_OUTCOME_*; cancel: SENTREL_CANCEL_BY_* */
    ULONG Status;        /* the status the request was completed with */
    ULONG Information;   /* bytes written back */
    ULONG ShareAccess;   /* open */
    ULONG Options;       /* open: create options as they reached the driver */
    ULONG InputKept;     /* bytes of Input that hold the request's input */
    UCHAR Input[SENTREL_KEPT_INPUT];
    UCHAR Reply[SENTREL_KEPT_REPLY]; /* the first bytes written back */
    char Device[SENTREL_NAME_CHARS]; /* open: the device's name, NUL-ended */
} SENTREL_EVENT;

typedef struct SENTREL_RECORD {
    ULONG Count;  /* entries in Events */
    ULONG Lost;   /* entries that did not fit */
    SENTREL_EVENT Events[SENTREL_MAX_EVENTS];
} SENTREL_RECORD;

#endif
