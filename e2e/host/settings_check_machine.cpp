// The machine that the host build of settings_check runs on: the same one
// that the Wine scenario plants, built before main runs, so that the very
// same program source answers from the simulated workstation.
#include "sim/workstation.h"

namespace {

struct Machine {
    sim::Workstation ws;
    Machine() {
        ws.Nt()
            .File("C:\\WINDOWS\\win.ini", "[windows]\r\nrun=file.exe\r\n[other]\r\nrun=other.exe\r\n")
            .RegString(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", "run",
                       "reg.exe");
    }
};

Machine g_machine;

}  // namespace
