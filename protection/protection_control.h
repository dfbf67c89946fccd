// Switches the maker's on-access scanner, Sentrel, off while the tool cleans
// and on again afterwards, through device I/O control requests to the devices
// of its drivers. A machine without the scanner simply has no device to open.
//
// Every request goes with an overlapped structure and an event and is waited
// for at most RequestBoundMs; one still pending then is cancelled and waited
// for at most CancelBoundMs more. One that the driver keeps even after that is
// left to it: its overlapped structure, event and buffers stay allocated and
// its device stays open, since the driver may still write into them.
#ifndef KURRELFIX_PROTECTION_PROTECTION_CONTROL_H
#define KURRELFIX_PROTECTION_PROTECTION_CONTROL_H

#include "platform/platform.h"

// The request codes the scanner's drivers answer.
const DWORD SentrelStateRequest = 0x7E800;     // NT: "0" or "1", off or on
const DWORD SentrelReadBackRequest = 0x7F010;  // NT: the state as a 16-bit number
const DWORD Sentrel9xStateRequest = 0x200;     // 9x: "0" or "1"
const DWORD Sentrel9xSettingRequest = 0x7C450; // 9x: the setting text and a 32-bit flag

// The driver answers a switch in well under a second; five seconds leaves room
// for a machine busy with the cleaning, yet a driver that never answers costs
// a switch at most three requests of seven seconds, not the whole run. A
// cancel routine answers at once, so two seconds is plenty after the cancel.
const DWORD RequestBoundMs = 5000;
const DWORD CancelBoundMs = 2000;

// What a switch did, for the lines of the run. `step` names what failed: the
// open of the management device, or the request code; the error is its error
// (WAIT_TIMEOUT for a request still pending after both bounds), and the value
// read back is -1 when none was read.
struct ProtectionSwitch {
    int result;     // 1 switched, or no scanner; 0 not
    int noScanner;  // the management device does not exist
    char step[64];
    DWORD error;
    long valueRead;
};

// 0 switches scanning off, 1 on. Sends the state request through the
// protection device when it opens, then takes the family's management step,
// whose result it returns: non-zero when it succeeded or there is no scanner.
int SetProtectionState(int on);

// The same for a family fixed by the caller (the one the scanner was switched
// off as), with what happened in `report`.
int SwitchProtection(int on, int nt, ProtectionSwitch* report);

// The protection device of the family, or INVALID_HANDLE_VALUE; the caller
// closes it. Logs nothing.
HANDLE OpenProtectionDevice();

// Sends the family's state request; 1 when the driver carried it out, else 0.
int SendProtectionState(HANDLE device, int on);

// NT: sets the state on a second handle of the device and reads it back.
// 1 when the driver reports the requested state, 1 when there is no device,
// 0 otherwise.
int SwitchProtectionNT(int on);

// 9x: sends the setting request; its result, or 1 when there is no device.
int SwitchProtection9x(int on);

#endif
