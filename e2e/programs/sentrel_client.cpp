// Switches the Sentrel scanner the way Kurrelfix does on the NT family, so
// that the test driver (e2e/driver) can be checked without the tool:
//   1. opens \\.\DEVICE for reading and writing, sharing both, overlapped,
//      and sends the state ("0"/"1" and a NUL) without an OVERLAPPED;
//   2. closes it, opens the device again (flags 0x40000080) and, with an
//      OVERLAPPED whose event resets by hand, sends the state again and then
//      reads it back as a 16-bit number.
// A request left pending is cancelled with CancelIo before the handle is
// closed (or, with --no-cancel, the handle is just closed).
//   sentrel_client.exe [-d DEVICE] off|on [--no-cancel]
// With --9x it uses the 9x family's form instead: it opens SWITCH (access 0,
// share 0, creation 0, FILE_FLAG_DELETE_ON_CLOSE) and sends the state with
// code 0x200, then opens REGISTER (access 0, share 0, creation 0, overlapped)
// and sends 0x7C450 with the registration text and its NUL (31 bytes), a
// 32-bit flag (the state) lying just past them.
//   sentrel_client.exe --9x SWITCH REGISTER off|on
// Prints one line per step; exit code 0 when every step succeeded at once
// and the read-back matched, 1 otherwise, 2 for a wrong command line.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

const DWORD kSetState = 0x7E800;
const DWORD kReadState = 0x7F010;
const DWORD kSetState9x = 0x200;
const DWORD kRegister9x = 0x7C450;

int run_9x(const char* switch_name, const char* register_name, char state) {
    char path[128];
    const char text[2] = {state, '\0'};
    bool all_ok = true;
    DWORD bytes = 0;

    snprintf(path, sizeof path, "\\\\.\\%s", switch_name);
    HANDLE device = CreateFileA(path, 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        printf("open %s: error %lu\n", switch_name, (unsigned long)GetLastError());
        return 1;
    }
    printf("open %s: ok\n", switch_name);
    if (DeviceIoControl(device, kSetState9x, (void*)text, sizeof text, nullptr, 0, &bytes, nullptr)) {
        printf("set %c: ok bytes=%lu\n", state, (unsigned long)bytes);
    } else {
        printf("set %c: error %lu\n", state, (unsigned long)GetLastError());
        all_ok = false;
    }
    CloseHandle(device);

    snprintf(path, sizeof path, "\\\\.\\%s", register_name);
    device = CreateFileA(path, 0, 0, nullptr, 0, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        printf("open %s: error %lu\n", register_name, (unsigned long)GetLastError());
        return 1;
    }
    printf("open %s: ok\n", register_name);
    // The text, its NUL, and the flag just past the length that is sent.
    char request[35] = "1.3.6.1.4.1.7406.12.1.111.2.10";
    DWORD flag = state == '1' ? 1 : 0;
    memcpy(request + 31, &flag, sizeof flag);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bytes = 0;
    if (DeviceIoControl(device, kRegister9x, request, 31, nullptr, 0, &bytes, &overlapped)) {
        printf("register: ok bytes=%lu\n", (unsigned long)bytes);
    } else {
        printf("register: error %lu\n", (unsigned long)GetLastError());
        all_ok = false;
    }
    CloseHandle(device);
    CloseHandle(overlapped.hEvent);
    printf("closed\n");
    fflush(stdout);
    return all_ok ? 0 : 1;
}

struct Overlapped {
    OVERLAPPED overlapped{};
    bool left_pending = false;
    Overlapped() { overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(overlapped.hEvent); }
};

// Reports a request on the overlapped handle; one left pending is cancelled
// (unless cancel is false) and its final result reported. True when the
// request succeeded within the call.
bool finish_overlapped(const char* what, HANDLE device, Overlapped& o, BOOL ok, DWORD bytes, bool cancel) {
    o.left_pending = false;
    if (ok) {
        printf("%s: ok bytes=%lu\n", what, (unsigned long)bytes);
        return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        printf("%s: error %lu\n", what, (unsigned long)error);
        return false;
    }
    printf("%s: pending\n", what);
    if (!cancel) {
        o.left_pending = true;
        return false;
    }
    if (CancelIo(device))
        printf("%s: CancelIo ok\n", what);
    else
        printf("%s: CancelIo error %lu\n", what, (unsigned long)GetLastError());
    if (WaitForSingleObject(o.overlapped.hEvent, 10000) != WAIT_OBJECT_0) {
        printf("%s: not finished 10 s after CancelIo\n", what);
        return false;
    }
    DWORD done = 0;
    if (GetOverlappedResult(device, &o.overlapped, &done, FALSE))
        printf("%s: finished ok bytes=%lu\n", what, (unsigned long)done);
    else
        printf("%s: finished with error %lu\n", what, (unsigned long)GetLastError());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const char* device_name = "VTSentrelDev";
    const char* wanted = nullptr;
    bool cancel = true;
    if (argc == 5 && strcmp(argv[1], "--9x") == 0 && (strcmp(argv[4], "on") == 0 || strcmp(argv[4], "off") == 0))
        return run_9x(argv[2], argv[3], argv[4][1] == 'n' ? '1' : '0');
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-d") == 0 && i + 1 < argc) {
            device_name = argv[++i];
        } else if (strcmp(argv[i], "--no-cancel") == 0) {
            cancel = false;
        } else if (!wanted && (strcmp(argv[i], "on") == 0 || strcmp(argv[i], "off") == 0)) {
            wanted = argv[i];
        } else {
            wanted = nullptr;
            break;
        }
    }
    if (!wanted) {
        fprintf(stderr,
                "usage: sentrel_client.exe [-d DEVICE] off|on [--no-cancel]\n"
                "       sentrel_client.exe --9x SWITCH REGISTER off|on\n");
        return 2;
    }
    char path[128];
    snprintf(path, sizeof path, "\\\\.\\%s", device_name);
    const char text[2] = {wanted[1] == 'n' ? '1' : '0', '\0'};
    bool all_ok = true;

    HANDLE first = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (first == INVALID_HANDLE_VALUE) {
        printf("open 1: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    printf("open 1: ok\n");
    DWORD bytes = 0;
    if (DeviceIoControl(first, kSetState, (void*)text, sizeof text, nullptr, 0, &bytes, nullptr)) {
        printf("set %c: ok bytes=%lu\n", text[0], (unsigned long)bytes);
    } else {
        printf("set %c: error %lu\n", text[0], (unsigned long)GetLastError());
        all_ok = false;
    }
    CloseHandle(first);

    HANDLE second = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0x40000080, nullptr);
    if (second == INVALID_HANDLE_VALUE) {
        printf("open 2: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    printf("open 2: ok\n");
    // Both OVERLAPPEDs must outlive a request still pending, so they live
    // until after the handle is closed.
    Overlapped set_o, read_o;
    char label[32];
    snprintf(label, sizeof label, "overlapped set %c", text[0]);
    bytes = 0;
    BOOL ok = DeviceIoControl(second, kSetState, (void*)text, sizeof text, nullptr, 0, &bytes, &set_o.overlapped);
    all_ok = finish_overlapped(label, second, set_o, ok, bytes, cancel) && all_ok;

    unsigned short value = 0xBEEF;
    bytes = 0;
    ok = DeviceIoControl(second, kReadState, nullptr, 0, &value, sizeof value, &bytes, &read_o.overlapped);
    if (finish_overlapped("read-back", second, read_o, ok, bytes, cancel)) {
        // 0xbeef stays when nothing was written back.
        printf("read-back value: %u%s\n", (unsigned)value, bytes == sizeof value ? "" : " (not written)");
        if (bytes != sizeof value || value != (text[0] == '1' ? 1 : 0)) all_ok = false;
    } else {
        all_ok = false;
    }
    CloseHandle(second);
    printf("closed\n");
    // A request left pending without CancelIo: closing the handle ends it.
    Overlapped* sent[] = {&set_o, &read_o};
    for (Overlapped* o : sent) {
        if (!o->left_pending) continue;
        if (WaitForSingleObject(o->overlapped.hEvent, 10000) != WAIT_OBJECT_0)
            printf("pending request not finished 10 s after the close\n");
        else
            printf("pending request finished after the close: status 0x%08lx\n",
                   (unsigned long)o->overlapped.Internal);
    }
    fflush(stdout);
    return all_ok ? 0 : 1;
}
