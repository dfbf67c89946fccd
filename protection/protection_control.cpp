#include "protection/protection_control.h"

#include <stdio.h>
#include <string.h>

#include "support/system_queries.h"
#include "trace/trace_log.h"

namespace {

const char NtDeviceName[] = "\\\\.\\VTSentrelDev";
const char Sl95DeviceName[] = "\\\\.\\SL95";
const char KvxDeviceName[] = "\\\\.\\KVX";
const char ManagementDevice9x[] = "\\\\.\\vtsl95";
const char DeviceNameValue[] = "HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\DeviceName";
const char SettingText[] = "1.3.6.1.4.1.7406.12.1.111.2.10";
const DWORD SettingBufferSize = 256;
const DWORD SettingFlagOffset = 31;
const WORD ReadBackUnset = 0xABCD;

typedef BOOL(WINAPI* CancelIoFunction)(HANDLE file);

// CancelIo is missing from Windows 95's KERNEL32, so it is found at run time.
CancelIoFunction FindCancelIo() {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (!kernel) return nullptr;
    FARPROC address = GetProcAddress(kernel, "CancelIo");
    return reinterpret_cast<CancelIoFunction>(reinterpret_cast<void (*)(void)>(address));
}

// A request the driver did not complete within the call is still in flight:
// the driver may yet write to the overlapped structure and the buffers. It is
// cancelled, and waited for until it is over, before any of them is released.
void EndPendingRequest(HANDLE device, OVERLAPPED* overlapped, DWORD error) {
    if (error != ERROR_IO_PENDING) return;
    CancelIoFunction cancelIo = FindCancelIo();
    if (cancelIo) cancelIo(device);
    DWORD transferred = 0;
    GetOverlappedResult(device, overlapped, &transferred, TRUE);
}

void Log(const char* format, long value) {
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, format, value);
}

}  // namespace

HANDLE OpenProtectionDevice() {
    SetLastError(0);
    if (GetOsFamily() == OsWindowsNT) {
        return CreateFileA(NtDeviceName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    // The name as the registry gives it, compared byte for byte with its
    // terminator; anything else, or no value, means the older driver.
    char name[16];
    memset(name, 0, sizeof(name));
    int status = ReadRegistryPath(name, sizeof(name), DeviceNameValue);
    const char* device = status == RegistryPathRead && memcmp(name, "SL95", 5) == 0 ? Sl95DeviceName
                                                                                 : KvxDeviceName;
    return CreateFileA(device, 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

int SendProtectionState(HANDLE device, int on) {
    SetLastError(0);
    char input[2];
    DWORD returned = 0;
    if (GetOsFamily() == OsWindowsNT) {
        snprintf(input, sizeof(input), "%d", on ? 1 : 0);
        DeviceIoControl(device, SentrelStateRequest, input, sizeof(input), nullptr, 0, &returned, nullptr);
    } else {
        input[0] = on ? '1' : '0';
        input[1] = '\0';
        DeviceIoControl(device, Sentrel9xStateRequest, input, sizeof(input), nullptr, 0, &returned,
                        nullptr);
    }
    return GetLastError() == 0 ? 1 : 0;
}

int SwitchProtectionNT(int on) {
    int value = on ? 1 : 0;
    int result = 0;
    HANDLE device = CreateFileA(NtDeviceName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        // No scanner, nothing to switch.
        Log("Cannot open SL error=%ld\n", (long)GetLastError());
        return 1;
    }
    OVERLAPPED overlapped;
    memset(&overlapped, 0, sizeof(overlapped));
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        CloseHandle(device);
        return 0;
    }
    // The requests must complete within the call; the event is never waited on.
    char input[2] = {static_cast<char>('0' + value), '\0'};
    DWORD returned = 0;
    WORD state = ReadBackUnset;
    if (!DeviceIoControl(device, SentrelStateRequest, input, sizeof(input), nullptr, 0, &returned,
                         &overlapped)) {
        DWORD error = GetLastError();
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "SL communication error in first phase %08X\n",
                 (unsigned int)error);
        EndPendingRequest(device, &overlapped, error);
    } else if (!DeviceIoControl(device, SentrelReadBackRequest, nullptr, 0, &state, sizeof(state),
                                &returned, &overlapped)) {
        DWORD error = GetLastError();
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "SL communication error in second phase %08X\n",
                 (unsigned int)error);
        EndPendingRequest(device, &overlapped, error);
    } else if (state == value) {
        result = 1;
    }
    CloseHandle(overlapped.hEvent);
    CloseHandle(device);
    return result;
}

int SwitchProtection9x(int on) {
    HANDLE device = CreateFileA(ManagementDevice9x, 0, 0, nullptr, 0, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        Log("Cannot open SL error=%ld\n", (long)GetLastError());
        return 1;
    }
    // The text and its terminator are the request's input; the flag follows
    // them in the same buffer, where the driver reads it.
    unsigned char buffer[SettingBufferSize];
    memset(buffer, 0, sizeof(buffer));
    memcpy(buffer, SettingText, sizeof(SettingText));
    DWORD flag = on ? 1 : 0;
    for (int i = 0; i < 4; ++i) buffer[SettingFlagOffset + i] = static_cast<unsigned char>(flag >> (8 * i));
    DWORD returned = 0;
    BOOL result = DeviceIoControl(device, Sentrel9xSettingRequest, buffer, sizeof(SettingText), nullptr, 0,
                                  &returned, nullptr);
    CloseHandle(device);
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Setting change status =%d error=%ld\n", (int)result,
             (long)GetLastError());
    return result;
}

int SetProtectionState(int on) {
    HANDLE device = OpenProtectionDevice();
    if (device != INVALID_HANDLE_VALUE) {
        SendProtectionState(device, on);
        CloseHandle(device);
    }
    return IsWindowsNT() ? SwitchProtectionNT(on) : SwitchProtection9x(on);
}
