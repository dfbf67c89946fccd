// Switching the maker's scanner off and on: which devices are opened and how,
// the exact requests in their order, what each answer of the drivers makes of
// the result and the log, and whole runs that must always switch it back on.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "app/outcome.h"
#include "protection/protection_control.h"
#include "protection/scanner_record.h"
#include "tests/test_support.h"
#include "tests/workstations.h"
#include "trace/trace_log.h"

namespace {

const char* const kNtDevice = "\\\\.\\VTSentrelDev";
const char* const kSl95 = "\\\\.\\SL95";
const char* const kKvx = "\\\\.\\KVX";
const char* const kManagement9x = "\\\\.\\vtsl95";
const char* const kDeviceNameKey = "Software\\Ombrel Works\\Veltrane\\Sentrel";
const std::string kSettingText = "1.3.6.1.4.1.7406.12.1.111.2.10";

// A request code as the log writes it: eight hex digits, "0007E800".
std::string LoggedCode(DWORD code) {
    char text[16];
    snprintf(text, sizeof(text), "%08lX", (unsigned long)code);
    return text;
}

std::vector<uint8_t> Text(const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

// Runs SetProtectionState(on) as a fresh process with its log open; the result.
int Switch(sim::Workstation& ws, int on, std::string* log) {
    int result = -1;
    *log = RunLogged(ws, 255, [&] { result = SetProtectionState(on); });
    return result;
}

void ExpectOpen(const sim::DeviceOpen& open, const char* path, DWORD access, DWORD share, DWORD creation,
                DWORD flags) {
    EXPECT_EQ(open.path, path);
    EXPECT_EQ(open.access, access) << path;
    EXPECT_EQ(open.share, share) << path;
    EXPECT_EQ(open.creation, creation) << path;
    EXPECT_EQ(open.flags, flags) << path;
}

void ExpectRequest(const sim::DeviceRequest& request, int open, DWORD code, const std::vector<uint8_t>& input,
                   DWORD outputLength, bool overlapped) {
    EXPECT_EQ(request.open, open) << std::hex << code;
    EXPECT_EQ(request.code, code);
    EXPECT_EQ(request.input, input) << std::hex << code;
    EXPECT_EQ(request.inputLength, input.size()) << std::hex << code;
    EXPECT_EQ(request.outputLength, outputLength) << std::hex << code;
    EXPECT_EQ(request.overlapped, overlapped) << std::hex << code;
}

// No scanner installed: nothing is sent, one line says so, and it counts as done.
TEST(ProtectionControl, NoScannerSendsNothingAndSucceeds) {
    struct Case {
        const char* name;
        DWORD platform;
        std::vector<const char*> opened;  // device paths tried, in order
    };
    const Case cases[] = {
        {"NT", VER_PLATFORM_WIN32_NT, {kNtDevice, kNtDevice}},
        {"9x", VER_PLATFORM_WIN32_WINDOWS, {kKvx, kManagement9x}},
    };
    for (const Case& c : cases) {
        for (int on : {0, 1}) {
            SCOPED_TRACE(std::string(c.name) + (on ? " on" : " off"));
            sim::Workstation ws;
            ws.Platform(c.platform);
            std::string log;
            EXPECT_EQ(Switch(ws, on, &log), 1);
            EXPECT_EQ(log, "Cannot open SL error=2\r\n");
            EXPECT_TRUE(ws.scanner.requests.empty());
            ASSERT_EQ(ws.scanner.opens.size(), c.opened.size());
            for (size_t i = 0; i < c.opened.size(); ++i) EXPECT_EQ(ws.scanner.opens[i].path, c.opened[i]);
            EXPECT_EQ(ws.OpenHandles(), 0);
        }
    }
}

// With the scanner on NT: the state request on one handle, then on a second
// handle the set and read-back requests with an overlapped structure.
TEST(ProtectionControl, NtSendsTheRequestsInOrderWithTheirBytes) {
    for (int on : {0, 1}) {
        SCOPED_TRACE(on ? "on" : "off");
        sim::Workstation ws;
        ws.Nt().ScannerDevices({"VTSentrelDev"});
        ws.scanner.state = on ? 0 : 1;
        std::string log;
        EXPECT_EQ(Switch(ws, on, &log), 1);
        EXPECT_EQ(log, "");
        EXPECT_EQ(ws.scanner.state, on);
        ASSERT_EQ(ws.scanner.opens.size(), 2u);
        // Overlapped, and with the quality of service that lets whoever
        // answers (a pipe planted under the device's name) only identify us.
        ExpectOpen(ws.scanner.opens[0], kNtDevice, 0xC0000000, 3, 3, 0x40000000 | 0x00110000);
        ExpectOpen(ws.scanner.opens[1], kNtDevice, 0xC0000000, 3, 3, 0x40000080 | 0x00110000);
        std::vector<uint8_t> state = {static_cast<uint8_t>('0' + on), 0};
        ASSERT_EQ(ws.scanner.requests.size(), 3u);
        ExpectRequest(ws.scanner.requests[0], 0, SentrelStateRequest, state, 0, true);
        ExpectRequest(ws.scanner.requests[1], 1, SentrelStateRequest, state, 0, true);
        ExpectRequest(ws.scanner.requests[2], 1, SentrelReadBackRequest, {}, 2, true);
        EXPECT_EQ(ws.OpenHandles(), 0);
    }
}

// Every answer of the NT driver that is not a plain success gives 0, with the
// phase's line where a request failed; every request is waited for within
// its bounds, nothing is freed under a request still in flight, and the
// run's outcome is not touched.
TEST(ProtectionControl, NtDriverAnswers) {
    const std::string kLeftPending =
        "Scanner request " + LoggedCode(SentrelReadBackRequest) +
        " still pending " + std::to_string(RequestBoundMs + CancelBoundMs) +
        " ms after it was sent and cancelled: it is left to the "
        "driver with its device open, and the run goes on\r\n";
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> answer;
        int result;
        std::string log;
        std::vector<std::string> outcomes;  // of the requests, in order
        int openHandles;     // left open: only under a request the driver kept
        DWORD elapsedMs;     // on the virtual clock
    };
    const Case cases[] = {
        {"plain success", [](sim::Workstation&) {}, 1, "", {"done", "done", "done"}, 0, 0},
        {"set refused", [](sim::Workstation& ws) { ws.scanner.refuse[SentrelStateRequest] = 31; }, 0,
         "SL communication error in first phase 0000001F\r\n", {"refused", "refused"}, 0, 0},
        {"read-back refused", [](sim::Workstation& ws) { ws.scanner.refuse[SentrelReadBackRequest] = 1; }, 0,
         "SL communication error in second phase 00000001\r\n", {"done", "done", "refused"}, 0, 0},
        {"read-back writes nothing: 0xABCD stays", [](sim::Workstation& ws) { ws.scanner.readBack = sim::ReadBack::Nothing; },
         0, "", {"done", "done", "done"}, 0, 0},
        {"read-back of another state", [](sim::Workstation& ws) { ws.scanner.readBack = sim::ReadBack::WrongValue; },
         0, "", {"done", "done", "done"}, 0, 0},
        {"set left pending: cancelled after the bound",
         [](sim::Workstation& ws) { ws.scanner.pend.insert(SentrelStateRequest); }, 0,
         "SL communication error in first phase 000003E3\r\n", {"cancelled", "cancelled"}, 0, 2 * RequestBoundMs},
        {"read-back left pending: cancelled after the bound",
         [](sim::Workstation& ws) { ws.scanner.pend.insert(SentrelReadBackRequest); }, 0,
         "SL communication error in second phase 000003E3\r\n", {"done", "done", "cancelled"}, 0, RequestBoundMs},
        {"read-back finished late, within the bound",
         [](sim::Workstation& ws) {
             ws.scanner.pend.insert(SentrelReadBackRequest);
             ws.scanner.finishAfterMs[SentrelReadBackRequest] = 3000;
         },
         1, "", {"done", "done", "finished"}, 0, 3000},
        {"read-back finished after the bound by a driver that ignores the cancel",
         [](sim::Workstation& ws) {
             ws.scanner.pend.insert(SentrelReadBackRequest);
             ws.scanner.finishAfterMs[SentrelReadBackRequest] = RequestBoundMs + 1000;
             ws.scanner.ignoresCancel = true;
         },
         1, "", {"done", "done", "finished"}, 0, RequestBoundMs + 1000},
        {"read-back never finished, cancel ignored: left to the driver, the run goes on",
         [](sim::Workstation& ws) {
             ws.scanner.pend.insert(SentrelReadBackRequest);
             ws.scanner.ignoresCancel = true;
         },
         0, kLeftPending + "SL communication error in second phase 00000102\r\n", {"done", "done", "pending"}, 2,
         RequestBoundMs + CancelBoundMs},
        {"read-back never finished and no CancelIo in KERNEL32: left to the driver",
         [](sim::Workstation& ws) {
             ws.scanner.pend.insert(SentrelReadBackRequest);
             ws.modules["KERNEL32.DLL"].functions.erase("CancelIo");
         },
         0, kLeftPending + "SL communication error in second phase 00000102\r\n", {"done", "done", "pending"}, 2,
         RequestBoundMs + CancelBoundMs},
        {"the wait itself fails: cancelled", [](sim::Workstation& ws) {
             ws.scanner.pend.insert(SentrelReadBackRequest);
             ws.FailCall("WaitForSingleObject", ERROR_INVALID_HANDLE);
         },
         0, "SL communication error in second phase 000003E3\r\n", {"done", "done", "cancelled"}, 0, 0},
        {"no wait can be made: left to the driver, with the wait's error", [](sim::Workstation& ws) {
             ws.scanner.pend.insert(SentrelReadBackRequest);
             ws.FailCall("WaitForSingleObject", ERROR_INVALID_HANDLE, 0, 2);
         },
         0, "Scanner request " + LoggedCode(SentrelReadBackRequest) + " cannot be waited for, error 6: it is left to "
            "the driver with its device open, and the run goes on\r\nSL communication error in second phase 00000006\r\n",
         {"done", "done", "cancelled"}, 2, 0},
        {"no event for the management requests",
         [](sim::Workstation& ws) { ws.FailCall("CreateEventA", ERROR_NOT_ENOUGH_MEMORY, 1); }, 0, "", {"done"}, 0, 0},
        {"management device in use: not taken for a missing scanner",
         [](sim::Workstation& ws) { ws.FailCall("CreateFileA", ERROR_SHARING_VIOLATION, 1); }, 0,
         "Cannot open SL error=32\r\n", {"done"}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.Nt().ScannerDevices({"VTSentrelDev"});
        c.answer(ws);
        DWORD start = ws.clockMs;
        std::string log;
        EXPECT_EQ(Switch(ws, 0, &log), c.result);
        EXPECT_EQ(log, c.log);
        std::vector<std::string> outcomes;
        for (const sim::DeviceRequest& request : ws.scanner.requests) outcomes.push_back(request.outcome);
        EXPECT_EQ(outcomes, c.outcomes);
        EXPECT_EQ(ws.OpenHandles(), c.openHandles);
        EXPECT_EQ(ws.clockMs - start, c.elapsedMs);
        EXPECT_EQ(ws.scanner.unboundedWaits, 0);
        EXPECT_EQ(GetOutcomeCode(), 0);
    }
}

// The 9x protection device is named by the registry: "\\.\SL95" only for
// exactly that text, else "\\.\KVX". Both are opened in the 9x form.
TEST(ProtectionControl, Windows9xDeviceNameFromTheRegistry) {
    struct Case {
        const char* name;
        bool present;
        DWORD type;
        std::vector<uint8_t> data;
        const char* device;
    };
    const std::vector<uint8_t> noNul = {'S', 'L', '9', '5'};
    const Case cases[] = {
        {"SL95", true, REG_SZ, Text("SL95"), kSl95},
        {"SL95 stored without its terminator", true, REG_BINARY, noNul, kSl95},
        {"no value", false, REG_SZ, {}, kKvx},
        {"another name", true, REG_SZ, Text("KVX"), kKvx},
        {"other letter case", true, REG_SZ, Text("sl95"), kKvx},
        {"longer text", true, REG_SZ, Text("SL95X"), kKvx},
        {"too long for 16 bytes", true, REG_SZ, Text("SL95 and a good deal more"), kKvx},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.Win9x().ScannerDevices({"SL95", "KVX", "vtsl95"});
        if (c.present) ws.RegData(HKEY_LOCAL_MACHINE, kDeviceNameKey, "DeviceName", c.type, c.data);
        std::string log;
        Switch(ws, 0, &log);
        ASSERT_EQ(ws.scanner.opens.size(), 2u);
        ExpectOpen(ws.scanner.opens[0], c.device, 0, 0, 0, 0x04000000);
        ExpectOpen(ws.scanner.opens[1], kManagement9x, 0, 0, 0, 0x40000000);
        ASSERT_GE(ws.scanner.requests.size(), 1u);
        ExpectRequest(ws.scanner.requests[0], 0, Sentrel9xStateRequest, Text("0"), 0, true);
        EXPECT_EQ(ws.OpenHandles(), 0);
    }
}

// The 9x setting request: the text and its terminator as the input (31
// bytes), the flag at offset 31 of the same buffer; its result is returned.
TEST(ProtectionControl, Windows9xSettingRequest) {
    struct Case {
        const char* name;
        int on;
        DWORD refuse;
        int result;
        int state;
        std::string log;
    };
    const Case cases[] = {
        {"switched on", 1, 0, 1, 1, "Setting change status =1 error=0\r\n"},
        {"switched off", 0, 0, 1, 0, "Setting change status =1 error=0\r\n"},
        {"refused", 1, ERROR_ACCESS_DENIED, 0, 0, "Setting change status =0 error=5\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.Win9x().ScannerDevices({"vtsl95"});  // no protection device: only the setting goes
        ws.scanner.state = 1 - c.on;
        if (c.refuse) ws.scanner.refuse[Sentrel9xSettingRequest] = c.refuse;
        std::string log;
        EXPECT_EQ(Switch(ws, c.on, &log), c.result);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(ws.scanner.state, c.state);
        ASSERT_EQ(ws.scanner.requests.size(), 1u);
        ExpectRequest(ws.scanner.requests[0], 1, Sentrel9xSettingRequest, Text(kSettingText), 0, true);
        EXPECT_EQ(ws.OpenHandles(), 0);
    }
}

// Whole runs: the scanner is off while the sweeps run and on after the run,
// whatever the stages reported; a run that ends before the stages sends nothing.
struct Family {
    const char* name;
    DWORD platform;
    std::vector<const char*> devices;
    size_t requestsPerRun;       // both switches
    const char* processListCall;  // the call that lists the processes
};
const Family kFamilies[] = {
    {"NT", VER_PLATFORM_WIN32_NT, {"VTSentrelDev"}, 6, "EnumProcesses"},
    {"9x", VER_PLATFORM_WIN32_WINDOWS, {"KVX", "vtsl95"}, 4, "CreateToolhelp32Snapshot"},
};

void Describe(sim::Workstation& ws, const Family& family) {
    ws.Platform(family.platform);
    for (const char* device : family.devices) ws.scanner.devices.insert(device);
    ws.File("C:\\WINDOWS\\win.ini", "[windows]\r\nrun=\r\n")
        .RegString(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", "", "\"%1\" %*");
}

TEST(ProtectionControl, WholeRunsSwitchOffForTheSweepsAndBackOn) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&, const Family&)> trouble;
        int exitCode;
    };
    const Case cases[] = {
        {"a clean machine", [](sim::Workstation&, const Family&) {}, 0},
        {"both sweeps failing",
         [](sim::Workstation& ws, const Family& family) {
             ws.FailCall("GetLogicalDriveStringsA", ERROR_NOT_ENOUGH_MEMORY)
                 .FailCall(family.processListCall, ERROR_NOT_ENOUGH_MEMORY);
         },
         3},
        {"Ctrl+C during the sweep",
         [](sim::Workstation& ws, const Family& family) {
             // NT lists by wide names.
             ws.OnCall(family.platform == VER_PLATFORM_WIN32_NT ? "FindFirstFileW" : "FindFirstFileA", 1,
                       [&ws] { ws.RaiseCtrlEvent(CTRL_C_EVENT); });
         },
         0},
    };
    for (const Family& family : kFamilies) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(family.name) + ", " + c.name);
            sim::Workstation ws;
            Describe(ws, family);
            ws.File("C:\\Data\\letter.txt", "Dear...");
            c.trouble(ws, family);
            // The disk sweep always begins by asking for the drives.
            int stateDuringSweep = -1;
            ws.OnCall("GetLogicalDriveStringsA", 1, [&ws, &stateDuringSweep] { stateDuringSweep = ws.scanner.state; });
            RunResult run = RunKurrelfix({"/SILENT"});
            EXPECT_EQ(run.exitCode, c.exitCode);
            EXPECT_EQ(stateDuringSweep, 0);
            EXPECT_EQ(ws.scanner.state, 1);
            EXPECT_EQ(ws.scanner.requests.size(), family.requestsPerRun);
            EXPECT_EQ(ws.OpenHandles(), 0);
        }
    }
}

TEST(ProtectionControl, RunsThatEndBeforeTheStagesSendNothing) {
    struct Case {
        const char* name;
        DWORD platform;
        std::vector<std::string> arguments;
        bool admin;
        std::vector<int> answers;
    };
    const Case cases[] = {
        {"/VER", VER_PLATFORM_WIN32_NT, {"/VER"}, true, {}},
        {"Cancel", VER_PLATFORM_WIN32_NT, {}, true, {IDCANCEL}},
        {"no administrator rights", VER_PLATFORM_WIN32_NT, {"/SILENT"}, false, {}},
        {"/VER on 9x", VER_PLATFORM_WIN32_WINDOWS, {"/VER"}, true, {}},
        {"Cancel on 9x", VER_PLATFORM_WIN32_WINDOWS, {}, true, {IDCANCEL}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.Platform(c.platform).Admin(c.admin).ScannerDevices({"VTSentrelDev", "KVX", "vtsl95"});
        for (int answer : c.answers) ws.boxAnswers.push_back(answer);
        RunResult run = RunKurrelfix(c.arguments);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(ws.scanner.opens.empty());
        EXPECT_TRUE(ws.scanner.requests.empty());
        EXPECT_EQ(ws.scanner.state, 1);
    }
}

}  // namespace

namespace {

const char* const kRecord = "C:\\WINDOWS\\Kurrelfix-scanner.rec";

// Whole runs whose switch-on does not succeed: the run says so on the console
// and in the log, ends with 3, and keeps the record for the next run, which
// switches the scanner on. Each trouble begins once the scanner is off.
TEST(ProtectionControl, WholeRunsWhoseSwitchOnFailsEndWithThreeAndKeepTheRecord) {
    struct Case {
        const char* name;
        size_t family;  // index into kFamilies
        std::function<void(sim::Workstation&)> trouble;
        std::string line;  // the console's, after "Scanner not switched back on: "
        std::string logLine;  // another line the log must hold, or ""
    };
    const std::string kept = "; record C:\\WINDOWS\\Kurrelfix-scanner.rec kept for the next run";
    const Case cases[] = {
        {"NT: the driver refuses the switch-on", 0,
         [](sim::Workstation& ws) { ws.scanner.refuse[SentrelStateRequest] = ERROR_ACCESS_DENIED; },
         "request " + LoggedCode(SentrelStateRequest) + ", error 5, value read back none" + kept, ""},
        {"NT: the read-back says off", 0,
         [](sim::Workstation& ws) { ws.scanner.readBack = sim::ReadBack::WrongValue; },
         "request " + LoggedCode(SentrelReadBackRequest) + ", error 0, value read back 7" + kept, ""},
        {"NT: the read-back never ends and the cancel is ignored", 0,
         [](sim::Workstation& ws) {
             ws.scanner.pend.insert(SentrelReadBackRequest);
             ws.scanner.ignoresCancel = true;
         },
         "request " + LoggedCode(SentrelReadBackRequest) + ", error 258, value read back none" + kept,
         "Scanner request " + LoggedCode(SentrelReadBackRequest) + " still pending"},
        {"NT: the management device is in use", 0,
         [](sim::Workstation& ws) { ws.scanner.openRefused["VTSentrelDev"] = ERROR_SHARING_VIOLATION; },
         "request open \\\\.\\VTSentrelDev, error 32, value read back none" + kept, "Cannot open SL error=32"},
        {"NT: the family check fails before the switch-on", 0,
         [](sim::Workstation& ws) {
             ws.scanner.refuse[SentrelStateRequest] = ERROR_ACCESS_DENIED;
             ws.FailCall("GetVersionExA", ERROR_NOT_ENOUGH_MEMORY, 0, 1000);
         },
         "request " + LoggedCode(SentrelStateRequest) + ", error 5, value read back none" + kept, ""},
        {"9x: the setting is refused", 1,
         [](sim::Workstation& ws) { ws.scanner.refuse[Sentrel9xSettingRequest] = ERROR_ACCESS_DENIED; },
         "request " + LoggedCode(Sentrel9xSettingRequest) + ", error 5, value read back none" + kept,
         "Setting change status =0 error=5"},
        {"9x: the management device is in use", 1,
         [](sim::Workstation& ws) { ws.scanner.openRefused["vtsl95"] = ERROR_SHARING_VIOLATION; },
         "request open \\\\.\\vtsl95, error 32, value read back none" + kept, "Cannot open SL error=32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Family& family = kFamilies[c.family];
        sim::Workstation ws;
        Describe(ws, family);
        int stateDuringSweep = -1;
        bool recordDuringSweep = false;
        DWORD switchOnFrom = 0;
        ws.OnCall("GetLogicalDriveStringsA", 1, [&] {
            stateDuringSweep = ws.scanner.state;
            recordDuringSweep = ws.Exists(kRecord);
            c.trouble(ws);
            switchOnFrom = ws.clockMs;
        });
        RunResult run = RunKurrelfix({"/SILENT"});
        EXPECT_EQ(stateDuringSweep, 0);
        EXPECT_TRUE(recordDuringSweep);
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_NE(run.console.find("Scanner not switched back on: " + c.line + "\n"), std::string::npos) << run.console;
        std::string log = ws.Read(TestLogPath);
        EXPECT_NE(log.find("Scanner not switched back on: " + c.line + "\r\n"), std::string::npos) << log;
        if (!c.logLine.empty()) {
            EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
        }
        EXPECT_EQ(log.find("scanner switched on"), std::string::npos);
        EXPECT_NE(log.find("scanner switched off\r\n"), std::string::npos);
        EXPECT_TRUE(ws.Exists(kRecord));
        EXPECT_EQ(ws.scanner.unboundedWaits, 0);
        // The switch-on and the rest of the run (the shell's fifteen-second
        // look comes before it) wait within the bounds.
        EXPECT_LE(ws.clockMs - switchOnFrom, 15000 + 3 * (RequestBoundMs + CancelBoundMs));

        // The next run, with the driver answering again, switches it on first.
        ws.faults.clear();
        ws.scanner.refuse.clear();
        ws.scanner.pend.clear();
        ws.scanner.ignoresCancel = false;
        ws.scanner.readBack = sim::ReadBack::State;
        ws.scanner.openRefused.clear();
        RunResult next = RunKurrelfix({"/SILENT"});
        EXPECT_EQ(next.exitCode, 0);
        std::string nextLog = ws.Read(TestLogPath).substr(log.size());
        EXPECT_NE(nextLog.find("An earlier run ended with the scanner off (record C:\\WINDOWS\\Kurrelfix-scanner.rec): switched on\r\n"),
                  std::string::npos)
            << nextLog;
        EXPECT_EQ(ws.scanner.state, 1);
        EXPECT_FALSE(ws.Exists(kRecord));
    }
}

// A console window closed, a logoff or a shutdown during the cleaning ends
// the process as a kill does; the record and the share journal bring the
// next run back to the machine as it was. A record that cannot be switched
// on stays until a run can.
TEST(ProtectionControl, RunEndedByTheSystemLeavesTheRecordForTheNextRun) {
    for (const Family& family : kFamilies) {
        for (DWORD event : {static_cast<DWORD>(CTRL_CLOSE_EVENT), static_cast<DWORD>(CTRL_LOGOFF_EVENT),
                            static_cast<DWORD>(CTRL_SHUTDOWN_EVENT)}) {
            SCOPED_TRACE(std::string(family.name) + ", event " + std::to_string(event));
            sim::Workstation ws;
            Describe(ws, family);
            ws.OnCall("GetLogicalDriveStringsA", 1, [&ws, event] { ws.RaiseCtrlEvent(event); });
            EXPECT_THROW(RunKurrelfix({"/SILENT"}), std::runtime_error);
            EXPECT_EQ(ws.scanner.state, 0);
            EXPECT_TRUE(ws.Exists(kRecord));
            EXPECT_EQ(ToolRecordBody(ws, kRecord), family.platform == VER_PLATFORM_WIN32_NT
                                            ? "Kurrelfix scanner record 1 NT\r\n"
                                            : "Kurrelfix scanner record 1 9x\r\n");
            size_t logBefore = ws.Read(TestLogPath).size();

            // The driver refuses: the record stays, the run ends with 3.
            const DWORD code = family.platform == VER_PLATFORM_WIN32_NT ? SentrelStateRequest : Sentrel9xSettingRequest;
            ws.scanner.refuse[code] = ERROR_ACCESS_DENIED;
            ws.scanner.refuse[Sentrel9xStateRequest] = ERROR_ACCESS_DENIED;  // 9x: the state request too
            RunResult refused = RunKurrelfix({"/SILENT"});
            EXPECT_EQ(refused.exitCode, 3);
            std::string log = ws.Read(TestLogPath).substr(logBefore);
            EXPECT_NE(log.find("An earlier run ended with the scanner off (record C:\\WINDOWS\\Kurrelfix-scanner.rec) "
                               "and it cannot be switched on now"),
                      std::string::npos)
                << log;
            EXPECT_TRUE(ws.Exists(kRecord));
            EXPECT_EQ(ws.scanner.state, 0);

            // It answers again: on, and the record goes.
            ws.scanner.refuse.clear();
            logBefore = ws.Read(TestLogPath).size();
            RunResult next = RunKurrelfix({"/SILENT"});
            EXPECT_EQ(next.exitCode, 0);
            log = ws.Read(TestLogPath).substr(logBefore);
            EXPECT_NE(log.find("scanner switched on\r\nAn earlier run ended with the scanner off"), std::string::npos)
                << log;
            EXPECT_EQ(ws.scanner.state, 1);
            EXPECT_FALSE(ws.Exists(kRecord));
            // Switched on at the start, off for the cleaning, on at the end.
            EXPECT_EQ(CountOf(Lines(log, "\r\n"), "scanner switched on"), 2) << log;
        }
    }
}

// The record cannot be written: the scanner is never switched off, so no
// run can leave it off without a record.
TEST(ProtectionControl, NoRecordNoSwitchOff) {
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        sim::Workstation ws;
        Describe(ws, family);
        ws.FailCall("WriteFile", 112);  // the record is the run's first file written
        int stateDuringSweep = -1;
        ws.OnCall("GetLogicalDriveStringsA", 1, [&] { stateDuringSweep = ws.scanner.state; });
        RunResult run = RunKurrelfix({"/SILENT"});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(stateDuringSweep, 1);
        EXPECT_EQ(ws.scanner.state, 1);
        EXPECT_TRUE(ws.scanner.requests.empty());
        EXPECT_FALSE(ws.Exists(kRecord));
        std::string log = ws.Read(TestLogPath);
        EXPECT_NE(log.find("Scanner record C:\\WINDOWS\\Kurrelfix-scanner.rec cannot be written, error 112: the "
                           "scanner is left on\r\n"),
                  std::string::npos)
            << log;
    }
}

// The lines an administrator must not miss are errors (level 1): a log kept
// at level 1 alone still holds them, and not the level-4 lines of a switch.
TEST(ProtectionControl, LinesOfAScannerLeftOffAreErrors) {
    struct Case {
        const char* name;
        bool recordBefore;  // an earlier run's record on disk
        std::vector<std::string> lines;  // the level-1 log, line by line
    };
    const Case cases[] = {
        {"switch-on refused", false,
         {"Scanner not switched back on: request " + LoggedCode(SentrelStateRequest) +
              ", error 5, value read back none; record "
          "C:\\WINDOWS\\Kurrelfix-scanner.rec kept for the next run"}},
        {"earlier run's record, switch-on refused", true,
         {"An earlier run ended with the scanner off (record C:\\WINDOWS\\Kurrelfix-scanner.rec) and it cannot be "
          "switched on now: request " + LoggedCode(SentrelStateRequest) +
              ", error 5, value read back none; the record stays",
          "Scanner not switched back on: request " + LoggedCode(SentrelStateRequest) +
              ", error 5, value read back none; record "
          "C:\\WINDOWS\\Kurrelfix-scanner.rec kept for the next run"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.Nt().ScannerDevices({"VTSentrelDev"});
        if (c.recordBefore) LeaveToolRecord(ws, kRecord, "Kurrelfix scanner record 1 NT\r\n");
        int resumed = -1;
        std::string log = RunLogged(ws, TraceError, [&] {
            if (c.recordBefore) ws.scanner.refuse[SentrelStateRequest] = ERROR_ACCESS_DENIED;
            ResumeScanningLeftOff();
            SuspendScanning();
            ws.scanner.refuse[SentrelStateRequest] = ERROR_ACCESS_DENIED;
            resumed = ResumeScanning();
        });
        EXPECT_EQ(resumed, 0);
        std::vector<std::string> lines = Lines(log, "\r\n");
        // The record written by hand is not the administrators' own: the
        // line says so, and the scanner is switched on all the same.
        for (std::string& line : lines) {
            size_t trust = line.find(", not trusted: ");
            if (trust != std::string::npos) line.erase(trust, line.find(')', trust) - trust);
        }
        EXPECT_EQ(lines, c.lines);
        EXPECT_TRUE(ws.Exists(kRecord));
    }
}

// A record from an earlier run switches the scanner on whoever wrote it; one
// not kept by its own run (a second name, a copy put back, none at all) is
// said to be untrusted and set aside rather than deleted.
TEST(ProtectionControl, AnEarlierRunsRecordIsTrustedOnlyWhenItsRunKeptIt) {
    const char* const kept = "C:\\Users\\ann\\kept.rec";
    const std::string line = "Kurrelfix scanner record 1 NT\r\n";
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> leave;
        const char* distrust;  // nullptr: trusted, and deleted after the switch-on
    };
    const Case cases[] = {
        {"kept by its run", [&](sim::Workstation& ws) { LeaveToolRecord(ws, kRecord, line); }, nullptr},
        {"with a second name",
         [&](sim::Workstation& ws) {
             LeaveToolRecord(ws, kRecord, line);
             ws.HardLink(kept, kRecord);
         },
         "it has more than one name (a hard link)"},
        {"a copy put back after its run",
         [&](sim::Workstation& ws) {
             LeaveToolRecord(ws, kRecord, line);
             ws.FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ombrel Works\\Kurrelfix")->values.clear();
         },
         "its identifier is not the one this machine keeps for it: not written by the run that kept it"},
        {"without an identifier", [&](sim::Workstation& ws) { ws.File(kRecord, line); }, "it carries no identifier"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.Nt().ScannerDevices({"VTSentrelDev"}).Dir("C:\\Users\\ann");
        c.leave(ws);
        ws.scanner.state = 0;
        const std::string left = ws.Read(kRecord);
        std::string log = RunLogged(ws, TraceError, [] { ResumeScanningLeftOff(); });
        EXPECT_EQ(ws.scanner.state, 1) << "switched on whoever wrote it";
        std::string said = std::string("An earlier run ended with the scanner off (record ") + kRecord +
                           (c.distrust ? std::string(", not trusted: ") + c.distrust : std::string()) +
                           "): switched on\r\n";
        EXPECT_NE(log.find(said), std::string::npos) << log;
        EXPECT_FALSE(ws.Exists(kRecord));
        const char* const aside = "C:\\WINDOWS\\Kurrelfix-scanner.untrusted";
        if (c.distrust) {
            EXPECT_EQ(ws.Read(aside), left) << "kept for the administrator";
        } else {
            EXPECT_FALSE(ws.Exists(aside));
        }
        const sim::RegKey* key = ws.FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ombrel Works\\Kurrelfix");
        EXPECT_TRUE(!key || key->values.empty()) << "no identifier outlives its record";
    }
}

}  // namespace
