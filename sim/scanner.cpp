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
    auto refused = ws.scanner.openRefused.find(path + 4);
    open.opened = exists && refused == ws.scanner.openRefused.end();
    ws.scanner.opens.push_back(open);
    if (!exists) return ERROR_FILE_NOT_FOUND;
    if (!open.opened) return refused->second;
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

void Signal(Workstation& ws, HANDLE event, bool signalled) {
    HandleEntry* entry = event ? ws.Lookup(event, HandleKind::Event) : nullptr;
    if (entry) entry->signalled = signalled;
}

// The pending request on the device ends: carried out by the driver, or
// cancelled. Its event is set, as the system does when a request ends.
void EndPending(Workstation& ws, HandleEntry* entry, bool cancelled) {
    DeviceRequest& request = ws.scanner.requests[entry->pendingRequest];
    if (cancelled) {
        request.outcome = "cancelled";
        request.completionError = ERROR_OPERATION_ABORTED;
    } else {
        DWORD count = 0;
        DWORD error = Carry(ws, request, entry->pendingInput, entry->pendingOutput, &count);
        request.outcome = error ? "refused" : "finished";
        request.completionError = error;
        request.transferred = count;
    }
    request.endedAtMs = ws.clockMs;
    HANDLE event = entry->pendingEvent;
    entry->pendingRequest = -1;
    entry->pendingEvent = nullptr;
    Signal(ws, event, true);
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
    request.sentAtMs = ws.clockMs;
    // The system clears the event when a request begins.
    if (overlapped) sim::Signal(ws, overlapped->hEvent, false);
    auto refused = ws.scanner.refuse.find(code);
    DWORD error = 0;
    if (refused != ws.scanner.refuse.end()) {
        request.outcome = "refused";
        error = refused->second;
    } else if (ws.scanner.pend.count(code) && !overlapped) {
        // Sent without an overlapped structure, the call returns only when the
        // driver is done with it: never, for one it keeps.
        request.outcome = "stalled";
        ++ws.scanner.unboundedWaits;
        ws.scanner.requests.push_back(request);
        ws.AdvanceClock(sim::UnboundedWaitMs);
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    } else if (ws.scanner.pend.count(code)) {
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
        auto late = ws.scanner.finishAfterMs.find(code);
        if (late != ws.scanner.finishAfterMs.end()) {
            ws.At(ws.clockMs + late->second, [&ws, device, index] {
                sim::HandleEntry* now = ws.Lookup(device, sim::HandleKind::Device);
                if (now && now->pendingRequest == index) sim::EndPending(ws, now, false);
            });
        }
    }
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    DWORD count = 0;
    error = sim::Carry(ws, ws.scanner.requests[index], bytes, output, &count);
    ws.scanner.requests[index].outcome = error ? "refused" : "done";
    ws.scanner.requests[index].endedAtMs = ws.clockMs;
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    if (returned) *returned = count;
    if (overlapped) sim::Signal(ws, overlapped->hEvent, true);
    return TRUE;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                           LPCSTR name) {
    SIM_FAILABLE(nullptr);
    (void)security;
    (void)manualReset;
    (void)name;
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Event;
    entry.signalled = initialState != FALSE;
    return Current().NewHandle(entry);
}

// Cancels the request pending on the handle, as the driver's cancel routine
// does; a driver without one keeps it.
BOOL WINAPI CancelIo(HANDLE file) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(file, sim::HandleKind::Device);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry->pendingRequest >= 0 && !ws.scanner.ignoresCancel) sim::EndPending(ws, entry, true);
    return TRUE;
}

// Waits on the virtual clock: what is scheduled happens at its time, and the
// wait ends when the event is set or the time is up. INFINITE on an event
// that nothing will set would never end: it is counted, and given up after
// a day.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    SIM_FAILABLE(WAIT_FAILED);
    sim::Workstation& ws = Current();
    if (!ws.Lookup(handle, sim::HandleKind::Event)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    uint64_t deadline = static_cast<uint64_t>(ws.clockMs) +
                        (milliseconds == INFINITE ? sim::UnboundedWaitMs : milliseconds);
    for (;;) {
        sim::HandleEntry* event = ws.Lookup(handle, sim::HandleKind::Event);
        if (event && event->signalled) return WAIT_OBJECT_0;
        if (ws.clockMs >= deadline) break;
        uint64_t next = deadline;
        for (const sim::ClockEvent& scheduled : ws.clockEvents) {
            uint64_t at = scheduled.atMs > ws.clockMs ? scheduled.atMs : ws.clockMs;
            if (at < next) next = at;
        }
        ws.AdvanceClock(static_cast<DWORD>(next - ws.clockMs));
    }
    if (milliseconds == INFINITE) ++ws.scanner.unboundedWaits;
    return WAIT_TIMEOUT;
}

// The result of the request last sent on the handle. Waiting for one still
// pending ends only when the driver finishes it: never, for one it keeps.
BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(file, sim::HandleKind::Device);
    if (transferred) *transferred = 0;
    if (!entry || !overlapped) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry->pendingRequest >= 0) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        if (WaitForSingleObject(overlapped->hEvent, INFINITE) != WAIT_OBJECT_0) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        entry = ws.Lookup(file, sim::HandleKind::Device);
    }
    for (auto it = ws.scanner.requests.rbegin(); it != ws.scanner.requests.rend(); ++it) {
        if (it->open != entry->deviceOpen) continue;
        if (it->completionError) {
            SetLastError(it->completionError);
            return FALSE;
        }
        if (transferred) *transferred = it->transferred;
        break;
    }
    return TRUE;
}
