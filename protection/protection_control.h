// Switches the maker's on-access scanner, Sentrel, off while the tool cleans
// and on again afterwards, through device I/O control requests to the devices
// of its drivers. A machine without the scanner simply has no device to open.
#ifndef KURRELFIX_PROTECTION_PROTECTION_CONTROL_H
#define KURRELFIX_PROTECTION_PROTECTION_CONTROL_H

#include "platform/platform.h"

// The request codes the scanner's drivers answer.
const DWORD SentrelStateRequest = 0x7E800;     // NT: "0" or "1", off or on
const DWORD SentrelReadBackRequest = 0x7F010;  // NT: the state as a 16-bit number
const DWORD Sentrel9xStateRequest = 0x200;     // 9x: "0" or "1"
const DWORD Sentrel9xSettingRequest = 0x7C450; // 9x: the setting text and a 32-bit flag

// 0 switches scanning off, 1 on. Sends the state request through the
// protection device when it opens, then takes the family's management step,
// whose result it returns: non-zero when it succeeded or there is no scanner.
int SetProtectionState(int on);

// The protection device of the family, or INVALID_HANDLE_VALUE; the caller
// closes it. Logs nothing.
HANDLE OpenProtectionDevice();

// Sends the family's state request without an overlapped structure; 1 when
// the last error is still 0 afterwards, else 0.
int SendProtectionState(HANDLE device, int on);

// NT: sets the state on a second handle of the device and reads it back.
// 1 when the driver reports the requested state, 1 when there is no device,
// 0 otherwise. A request the driver leaves pending is a failure of its phase;
// it is cancelled and waited for before anything it uses is released.
int SwitchProtectionNT(int on);

// 9x: sends the setting request; its result, or 1 when there is no device.
int SwitchProtection9x(int on);

#endif
