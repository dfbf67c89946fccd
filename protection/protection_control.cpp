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

// One request and everything the driver may write into while it is in
// flight, in one allocation, so that one the driver never gives back can be
// left to it whole.
struct ScannerRequest {
    OVERLAPPED overlapped;
    DWORD returned;
    WORD state;
    BYTE input[SettingBufferSize];
    ScannerRequest* next;  // in the list of those left in flight
};

// Requests left to a driver that kept them past both bounds: never freed,
// and held here so that they stay reachable for as long as the process lives.
KF_PROCESS_STATE ScannerRequest* RequestsLeftInFlight;

typedef BOOL(WINAPI* CancelIoFunction)(HANDLE file);

// CancelIo is missing from Windows 95's KERNEL32, so it is found at run time.
CancelIoFunction FindCancelIo() {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (!kernel) return nullptr;
    FARPROC address = GetProcAddress(kernel, "CancelIo");
    return reinterpret_cast<CancelIoFunction>(reinterpret_cast<void (*)(void)>(address));
}

void Log(const char* format, long value) {
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, format, value);
}

void Note(ProtectionSwitch* report, const char* step, DWORD error) {
    if (!report) return;
    snprintf(report->step, sizeof(report->step), "%.60s", step);
    report->error = error;
}

void NoteRequest(ProtectionSwitch* report, DWORD code, DWORD error) {
    char step[24];
    snprintf(step, sizeof(step), "%08X", (unsigned int)code);
    Note(report, step, error);
}

// A cleared request with its own manual-reset event; nullptr with the last
// error when either cannot be had.
ScannerRequest* NewRequest() {
    ScannerRequest* request = static_cast<ScannerRequest*>(AllocBuffer(sizeof(ScannerRequest)));
    if (!request) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    memset(request, 0, sizeof(*request));
    request->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!request->overlapped.hEvent) {
        DWORD error = GetLastError();
        FreeBuffer(request);
        SetLastError(error);
        return nullptr;
    }
    return request;
}

void FreeRequest(ScannerRequest* request) {
    CloseHandle(request->overlapped.hEvent);
    FreeBuffer(request);
}

// Sends one request and waits for it within the bounds. 1 when the driver
// carried it out; 0 with the error. `leftInFlight` is set when the driver
// still holds it after the cancel: then the request is the driver's for good
// and the caller must neither free it nor close the device.
int Send(HANDLE device, DWORD code, ScannerRequest* request, DWORD inputLength, DWORD outputLength,
         DWORD* error, int* leftInFlight) {
    *leftInFlight = 0;
    void* output = outputLength ? &request->state : nullptr;
    if (DeviceIoControl(device, code, inputLength ? request->input : nullptr, inputLength, output,
                        outputLength, &request->returned, &request->overlapped)) {
        *error = 0;
        return 1;
    }
    *error = GetLastError();
    if (*error != ERROR_IO_PENDING) return 0;
    HANDLE event = request->overlapped.hEvent;
    if (WaitForSingleObject(event, RequestBoundMs) != WAIT_OBJECT_0) {
        CancelIoFunction cancelIo = FindCancelIo();
        if (cancelIo) cancelIo(device);
        DWORD waited = WaitForSingleObject(event, CancelBoundMs);
        if (waited != WAIT_OBJECT_0) {
            // Unanswered, or a wait that failed: either way the driver may
            // still write into the request, so it is never freed.
            *error = waited == WAIT_FAILED ? GetLastError() : WAIT_TIMEOUT;
            *leftInFlight = 1;
            request->next = RequestsLeftInFlight;
            RequestsLeftInFlight = request;
            if (waited == WAIT_FAILED) {
                TraceMsg(TraceModule, TraceAllTypes, TraceError,
                         "Scanner request %08X cannot be waited for, error %ld: it is left to the driver with its device open, and the run goes on\n",
                         (unsigned int)code, (long)*error);
            } else {
                TraceMsg(TraceModule, TraceAllTypes, TraceError,
                         "Scanner request %08X still pending %lu ms after it was sent and cancelled: it is left to the driver with its device open, and the run goes on\n",
                         (unsigned int)code, (unsigned long)(RequestBoundMs + CancelBoundMs));
            }
            return 0;
        }
    }
    DWORD transferred = 0;
    if (GetOverlappedResult(device, &request->overlapped, &transferred, FALSE)) {
        request->returned = transferred;
        *error = 0;
        return 1;
    }
    *error = GetLastError();
    return 0;
}

// Where the scanner is not installed, anyone may make its device's name lead
// to a pipe of their own; whoever answers an open of ours may then only
// identify our token, never act with it (NT 4.0 and Windows 2000 before its
// fourth service pack let a pipe's server do so by default). Windows 9x has
// no such tokens, and its drivers are opened as ever.
static const DWORD DeviceQuality = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

HANDLE OpenProtectionDeviceOf(int nt) {
    SetLastError(0);
    if (nt) {
        return CreateFileA(NtDeviceName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED | DeviceQuality, nullptr);
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

// The state request, "1" or "0" and its terminator: 1 when it was carried
// out. A request the driver kept stays allocated, and `leftInFlight` says so.
int SendState(HANDLE device, int on, int nt, int* leftInFlight) {
    ScannerRequest* request = NewRequest();
    if (!request) return 0;
    request->input[0] = on ? '1' : '0';
    request->input[1] = '\0';
    DWORD error = 0;
    int sent = Send(device, nt ? SentrelStateRequest : Sentrel9xStateRequest, request, 2, 0, &error,
                    leftInFlight);
    if (!*leftInFlight) FreeRequest(request);
    return sent;
}

// The same, and the device is closed unless the driver kept the request.
int SendProtectionStateOf(HANDLE device, int on, int nt) {
    int leftInFlight = 0;
    int sent = SendState(device, on, nt, &leftInFlight);
    if (leftInFlight) return 0;
    CloseHandle(device);
    return sent;
}

// The management device could not be opened: where it does not exist there
// is no scanner, which is nothing to switch; any other refusal (in use,
// denied) leaves the scanner as it is, which the run must hear of.
int ManagementDeviceMissing(const char* name, ProtectionSwitch* report) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        Log("Cannot open SL error=%ld\n", (long)error);
        if (report) report->noScanner = 1;
        return 1;
    }
    TraceMsg(TraceModule, TraceAllTypes, TraceError, "Cannot open SL error=%ld\n", (long)error);
    char step[sizeof(report->step)];
    snprintf(step, sizeof(step), "open %.40s", name ? name : "");
    Note(report, step, error);
    return 0;
}

// A request for the open management device; without one the device is
// closed and the step noted.
ScannerRequest* NewManagementRequest(HANDLE device, ProtectionSwitch* report) {
    ScannerRequest* request = NewRequest();
    if (!request) {
        Note(report, "event", GetLastError());
        CloseHandle(device);
    }
    return request;
}

int SwitchNT(int on, ProtectionSwitch* report) {
    int value = on ? 1 : 0;
    HANDLE device = CreateFileA(NtDeviceName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL | DeviceQuality,
                                nullptr);
    if (device == INVALID_HANDLE_VALUE) return ManagementDeviceMissing(NtDeviceName, report);
    ScannerRequest* request = NewManagementRequest(device, report);
    if (!request) return 0;
    DWORD error = 0;
    int leftInFlight = 0;
    int result = 0;
    request->input[0] = static_cast<BYTE>('0' + value);
    request->input[1] = '\0';
    if (!Send(device, SentrelStateRequest, request, 2, 0, &error, &leftInFlight)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "SL communication error in first phase %08X\n",
                 (unsigned int)error);
        NoteRequest(report, SentrelStateRequest, error);
    } else {
        request->state = ReadBackUnset;
        if (!Send(device, SentrelReadBackRequest, request, 0, sizeof(request->state), &error, &leftInFlight)) {
            TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "SL communication error in second phase %08X\n",
                     (unsigned int)error);
            NoteRequest(report, SentrelReadBackRequest, error);
        } else {
            if (report) report->valueRead = request->state;
            if (request->state == value) {
                result = 1;
            } else {
                NoteRequest(report, SentrelReadBackRequest, 0);
            }
        }
    }
    if (leftInFlight) return 0;
    FreeRequest(request);
    CloseHandle(device);
    return result;
}

int Switch9x(int on, ProtectionSwitch* report) {
    HANDLE device = CreateFileA(ManagementDevice9x, 0, 0, nullptr, 0, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) return ManagementDeviceMissing(ManagementDevice9x, report);
    ScannerRequest* request = NewManagementRequest(device, report);
    if (!request) return 0;
    // The text and its terminator are the request's input; the flag follows
    // them in the same buffer, where the driver reads it.
    memcpy(request->input, SettingText, sizeof(SettingText));
    DWORD flag = on ? 1 : 0;
    for (int i = 0; i < 4; ++i) request->input[SettingFlagOffset + i] = static_cast<BYTE>(flag >> (8 * i));
    DWORD error = 0;
    int leftInFlight = 0;
    int result = Send(device, Sentrel9xSettingRequest, request, sizeof(SettingText), 0, &error, &leftInFlight);
    if (!leftInFlight) {
        FreeRequest(request);
        CloseHandle(device);
    }
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Setting change status =%d error=%ld\n", result,
             (long)error);
    if (!result) NoteRequest(report, Sentrel9xSettingRequest, error);
    return result;
}

}  // namespace

HANDLE OpenProtectionDevice() { return OpenProtectionDeviceOf(GetOsFamily() == OsWindowsNT); }

int SendProtectionState(HANDLE device, int on) {
    int leftInFlight = 0;
    return SendState(device, on, GetOsFamily() == OsWindowsNT, &leftInFlight);
}

int SwitchProtectionNT(int on) { return SwitchNT(on, nullptr); }

int SwitchProtection9x(int on) { return Switch9x(on, nullptr); }

int SwitchProtection(int on, int nt, ProtectionSwitch* report) {
    memset(report, 0, sizeof(*report));
    report->valueRead = -1;
    HANDLE device = OpenProtectionDeviceOf(nt);
    // Its result is not what decides: the management step is.
    if (device != INVALID_HANDLE_VALUE) SendProtectionStateOf(device, on, nt);
    report->result = nt ? SwitchNT(on, report) : Switch9x(on, report);
    return report->result;
}

int SetProtectionState(int on) {
    ProtectionSwitch report;
    return SwitchProtection(on, IsWindowsNT(), &report);
}
