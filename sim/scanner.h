// The scanner's devices, for the Win32 functions of other sim files that
// meet them: CreateFileA of "\\.\NAME" and CloseHandle.
#ifndef KURRELFIX_SIM_SCANNER_H
#define KURRELFIX_SIM_SCANNER_H

#include "sim/workstation.h"

namespace sim {

// True for "\\.\NAME", a device rather than a file.
bool IsDevicePath(const char* path);
// Records the open; 0 and the handle when the device exists, else the error.
DWORD OpenDevice(Workstation& ws, const char* path, DWORD access, DWORD share, DWORD creation,
                 DWORD flags, HANDLE* handle);
// Closes a device or event handle, noting a request still pending on it.
void CloseDeviceOrEvent(Workstation& ws, HANDLE handle);

}  // namespace sim

#endif
