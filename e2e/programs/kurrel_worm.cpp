// A stand-in for a running worm: it does nothing but stay alive until it is
// killed. It is linked with file and section alignment 0x2000, so that its
// bytes 4096 to 8191 are padding of the headers, which a scenario forces to
// a table CRC-32 without breaking the program.
//   kurrel_worm.exe [FILE]
// With FILE it also holds that file open without any sharing while it runs,
// as a worm guarding one of its copies does.
#include <windows.h>

int main(int argc, char** argv) {
    // Someone else may have the file open for a moment; keep trying until
    // it is ours, then never let it go.
    HANDLE held = INVALID_HANDLE_VALUE;
    while (argc > 1 && held == INVALID_HANDLE_VALUE) {
        held = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE) Sleep(100);
    }
    for (;;) Sleep(1000);
}
