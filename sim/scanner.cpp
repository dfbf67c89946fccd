// The maker's on-access scanner on the simulated workstation: the devices its
// drivers create, the requests they answer, and the events and overlapped
// requests that the NT management step uses. Every open and every request is
// recorded, so that a test sees exactly what the tool sent and in what order.
#include <string.h>

#include "sim/scanner.h"
#include "sim/workstation.h"

using sim::Current;

namespace sim {

Workstation& Workstation::ScannerDevices(std::initializer_list<const char*> names) {
    for (const char* name : names) scanner.devices.insert(name);
    return *this;
}

// CreateFileA of "\\.\NAME": the device's handle, or 0 with the error.
DWORD OpenDevice(Workstation& ws, const char* path, DWORD access, DWORD share, DWORD creation,
                 DWORD flags, HANDLE* handle) {
    DeviceOpen open{path, access, share, creation, flags, false};
    bool exists = ws.scanner.devices.count(std::string_view(path + 4)) != 0;
    open.opened = exists;
    ws.scanner.opens.push_back(open);
    if (!exists) return ERROR_FILE_NOT_FOUND;
    HandleEntry entry;
    entry.kind = HandleKind::Device;
    entry.access = access;
    entry.deviceOpen = static_cast<int>(ws.scanner.opens.size()) - 1;
    *handle = ws.NewHandle(entry);
    return 0;
}

bool IsDevicePath(const char* path) { return path && strncmp(path, "\\\\.\\", 4) == 0; }

namespace {

// What the drivers do with a request: 0, or the error they refuse it with.
DWORD Carry(Workstation& ws, const DeviceRequest& request, const BYTE* input, void* output,
            DWORD* returned) {
    Scanner& scanner = ws.scanner;
    *returned = 0;
    switch (request.code) {
        case 0x7E800:  // NT state: "0" or "1"
        case 0x200:    // 9x state: "0" or "1"
            if (request.inputLength < 1 || !input) return ERROR_INVALID_PARAMETER;
            scanner.state = input[0] == '1' ? 1 : 0;
            return 0;
        case 0x7F010: {  // NT read-back: the state as a 16-bit number
            if (request.outputLength < 2 || !output) return ERROR_INSUFFICIENT_BUFFER;
            if (scanner.readBack == ReadBack::Nothing) return 0;
            WORD value = scanner.readBack == ReadBack::WrongValue ? 7 : static_cast<WORD>(scanner.state);
            memcpy(output, &value, sizeof(value));
            *returned = sizeof(value);
            return 0;
        }
        case 0x7C450: {  // 9x setting: the flag lies in the caller's buffer past the text
            if (request.inputLength < 31 || !input) return ERROR_INVALID_PARAMETER;
            if (strcmp(reinterpret_cast<const char*>(input), "1.3.6.1.4.1.7406.12.1.111.2.10") != 0)
                return ERROR_INVALID_PARAMETER;
            DWORD flag = 0;
            for (int i = 0; i < 4; ++i) flag |= static_cast<DWORD>(input[31 + i]) << (8 * i);
            scanner.state = flag ? 1 : 0;
            return 0;
        }
        default:
            return ERROR_INVALID_FUNCTION;
    }
}

// A pending request's handle or event goes while the request is in flight:
// the driver would write into memory that is no longer the caller's.
void NoteClosedInFlight(Workstation& ws, HANDLE handle) {
    for (HandleEntry& entry : ws.handles) {
        if (entry.kind != HandleKind::Device || entry.pendingRequest < 0) continue;
        if (ws.Lookup(handle, HandleKind::Device) == &entry || entry.pendingEvent == handle) {
            ws.scanner.requests[entry.pendingRequest].outcome = "closed in flight";
            entry.pendingRequest = -1;
        }
    }
}

}  // namespace

void CloseDeviceOrEvent(Workstation& ws, HANDLE handle) {
    NoteClosedInFlight(ws, handle);
    ws.FreeHandle(handle);
}

}  // namespace sim

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                            DWORD outputSize, LPDWORD returned, LPOVERLAPPED overlapped) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(device, sim::HandleKind::Device);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sim::DeviceRequest request;
    request.open = entry->deviceOpen;
    request.code = code;
    const BYTE* bytes = static_cast<const BYTE*>(input);
    if (bytes && inputSize) request.input.assign(bytes, bytes + inputSize);
    request.inputLength = inputSize;
    request.outputLength = outputSize;
    request.overlapped = overlapped != nullptr;
    auto refused = ws.scanner.refuse.find(code);
    DWORD error = 0;
    if (refused != ws.scanner.refuse.end()) {
        request.outcome = "refused";
        error = refused->second;
    } else if (overlapped && ws.scanner.pend.count(code)) {
        request.outcome = "pending";
        error = ERROR_IO_PENDING;
    }
    ws.scanner.requests.push_back(request);
    int index = static_cast<int>(ws.scanner.requests.size()) - 1;
    if (returned) *returned = 0;
    if (error == ERROR_IO_PENDING) {
        entry->pendingRequest = index;
        entry->pendingEvent = overlapped->hEvent;
        entry->pendingInput = bytes;
        entry->pendingOutput = output;
    }
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    DWORD count = 0;
    error = sim::Carry(ws, ws.scanner.requests[index], bytes, output, &count);
    ws.scanner.requests[index].outcome = error ? "refused" : "done";
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    if (returned) *returned = count;
    return TRUE;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                           LPCSTR name) {
    SIM_FAILABLE(nullptr);
    (void)security;
    (void)manualReset;
    (void)initialState;
    (void)name;
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Event;
    return Current().NewHandle(entry);
}

// Cancels the request pending on the handle, as the driver's cancel routine does.
BOOL WINAPI CancelIo(HANDLE file) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(file, sim::HandleKind::Device);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry->pendingRequest >= 0) {
        ws.scanner.requests[entry->pendingRequest].outcome = "cancelled";
        entry->pendingRequest = -1;
        entry->pendingEvent = nullptr;
    }
    return TRUE;
}

// Waiting for a pending request finishes it: the driver carries it out then.
BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(file, sim::HandleKind::Device);
    if (transferred) *transferred = 0;
    if (!entry || !overlapped) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry->pendingRequest < 0) {
        // The last request on it is over: a cancelled one reports so.
        for (auto it = ws.scanner.requests.rbegin(); it != ws.scanner.requests.rend(); ++it) {
            if (it->open != entry->deviceOpen) continue;
            if (it->outcome == "cancelled") {
                SetLastError(ERROR_OPERATION_ABORTED);
                return FALSE;
            }
            break;
        }
        return TRUE;
    }
    if (!wait) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    int index = entry->pendingRequest;
    entry->pendingRequest = -1;
    entry->pendingEvent = nullptr;
    DWORD count = 0;
    DWORD error = sim::Carry(ws, ws.scanner.requests[index], entry->pendingInput, entry->pendingOutput,
                             &count);
    ws.scanner.requests[index].outcome = error ? "refused" : "finished";
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    if (transferred) *transferred = count;
    return TRUE;
}
