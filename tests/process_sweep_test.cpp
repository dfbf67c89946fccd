// The process sweep on the simulated workstation: which processes it
// examines on each family, what it terminates, what it deletes a second
// later, and what it tells the console and the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "cleanup/process_sweep.h"
#include "cleanup/signature_matcher.h"
#include "samples/worm_sample.h"
#include "tests/fresh_process.h"
#include "tests/test_support.h"
#include "trace/trace_log.h"

namespace {

const char* const kWormA = "C:\\WINDOWS\\System32\\kurrel.exe";
const char* const kWormB = "C:\\Documents and Settings\\user\\Start Menu\\Programs\\run me.exe";
const char* const kExplorer = "C:\\WINDOWS\\explorer.exe";
const char* const kNotepad = "C:\\WINDOWS\\notepad.exe";

// Process, snapshot and token handles still open: the sweep must leave none.

sim::Process Proc(DWORD pid, const std::string& path) {
    sim::Process process;
    process.pid = pid;
    process.exePath = path;
    return process;
}

struct Sweep {
    int result;
    std::string console;
    std::vector<std::string> log;
};

class ProcessSweep : public ::testing::Test {
protected:
    void SetUp() override { StartFreshProcess(); }
    void TearDown() override { EndProcess(); }

    // A machine with two clean programs and the worm's files in place.
    static void Plant(sim::Workstation& ws) {
        ws.File(kExplorer, "MZ explorer")
            .File(kNotepad, "MZ notepad")
            .FileBytes(kWormA, worm_sample::MakeSample(16384, SignatureTable[2].crc))
            .FileBytes(kWormB, worm_sample::MakeSample(9000, SignatureTable[9].crc, 5),
                       FILE_ATTRIBUTE_HIDDEN);
    }

    static Sweep Run(sim::Workstation& ws) {
        (void)ws;
        SetLogFile(TestLogPath, "a+");
        Sweep sweep;
        {
            ConsoleCapture capture;
            sweep.result = KillInfectedProcesses(IsInfectedCopyAt);
            sweep.console = capture.Text();
        }
        EndProcess();
        sweep.log = SweepLines(sim::Current().Read(TestLogPath));
        return sweep;
    }

    static const sim::Process& ProcessWithId(sim::Workstation& ws, DWORD pid) {
        for (const sim::Process& process : ws.processes) {
            if (process.pid == pid) return process;
        }
        throw std::logic_error("no such process");
    }
};

TEST_F(ProcessSweep, NoInfectedProcess) {
    sim::Workstation ws;
    Plant(ws);
    ws.AddProcess(Proc(0x10, kExplorer)).AddProcess(Proc(0x2c8, kNotepad));
    DWORD start = ws.clockMs;

    Sweep sweep = Run(ws);

    EXPECT_EQ(sweep.result, 1);
    EXPECT_EQ(sweep.console, "no Kurrel tasks in memory \n");
    EXPECT_EQ(sweep.log, (std::vector<std::string>{
                             "examinate process C:\\WINDOWS\\explorer.exe (PID=0x10)",
                             "examinate process C:\\WINDOWS\\notepad.exe (PID=0x2c8)",
                             "No infected processes were found"}));
    EXPECT_EQ(ws.clockMs, start);  // no pause
    EXPECT_EQ(ws.Calls("TerminateProcess"), 0);
    EXPECT_EQ(ws.Calls("DeleteFileA"), 0);
    EXPECT_EQ(g_removalOutcome.infectionState, InfectionNotFound);
    EXPECT_EQ(InfectedProcessFiles.head, nullptr);
}

TEST_F(ProcessSweep, OneInfectedProcessIsEndedAndItsFileDeletedOneSecondLater) {
    sim::Workstation ws;
    Plant(ws);
    ws.AddProcess(Proc(0x10, kExplorer)).AddProcess(Proc(0x1a4, kWormA));
    DWORD start = ws.clockMs;
    bool endedBeforeDelete = false, fileThereAtOneSecond = false;
    ws.At(start + 1000, [&] {
        endedBeforeDelete = !ProcessWithId(ws, 0x1a4).running;
        fileThereAtOneSecond = ws.Exists(kWormA);
    });

    Sweep sweep = Run(ws);

    EXPECT_EQ(sweep.result, 1);
    EXPECT_EQ(sweep.console, "found Kurrel tasks in memory \n");
    EXPECT_EQ(sweep.log,
              (std::vector<std::string>{
                  "examinate process C:\\WINDOWS\\explorer.exe (PID=0x10)",
                  "examinate process C:\\WINDOWS\\System32\\kurrel.exe (PID=0x1a4)",
                  "Process C:\\WINDOWS\\System32\\kurrel.exe (PID=0x1a4) is infection",
                  "Process C:\\WINDOWS\\System32\\kurrel.exe terminated with status 1",
                  "There were infected proceses, terminated with status =OK, start delete "
                  "infected process files",
                  "Deleting file \"C:\\WINDOWS\\System32\\kurrel.exe\", result=1"}));
    EXPECT_TRUE(endedBeforeDelete);
    EXPECT_TRUE(fileThereAtOneSecond);
    EXPECT_FALSE(ws.Exists(kWormA));
    EXPECT_EQ(ws.clockMs, start + 1000);
    EXPECT_TRUE(ProcessWithId(ws, 0x10).running);
    EXPECT_TRUE(ws.Exists(kExplorer));
    EXPECT_EQ(g_removalOutcome.infectionState, InfectionPresent);
    EXPECT_EQ(g_removalOutcome.failureCount, 0);
}

// What is ended and deleted is what matched. A plain user may swap the
// image's folder for a junction during the second before the deletion, or
// the worm may end and its id go to another program before it is ended:
// neither the file the junction leads to nor the other program is touched.
TEST_F(ProcessSweep, WhatIsEndedAndDeletedIsWhatMatched) {
    const char* const kUserWorm = "C:\\Users\\Ann\\Apps\\kurrel.exe";
    const char* const kVictim = "C:\\WINDOWS\\System32\\kurrel.exe";
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> attack;
        std::vector<std::string> log;
        bool wormGone;
        bool newcomerRunning;
        int failures;
    };
    auto examined = std::string("examinate process ") + kUserWorm + " (PID=0x1a4)";
    auto infection = std::string("Process ") + kUserWorm + " (PID=0x1a4) is infection";
    const Case cases[] = {
        {"the image's folder swapped for a junction before the deletion",
         [&](sim::Workstation& ws) {
             ws.OnCall("Sleep", 1, [&ws] { ws.SwapFolderForJunction("C:\\Users\\Ann\\Apps", "C:\\WINDOWS\\System32"); });
         },
         {examined, infection, std::string("Process ") + kUserWorm + " terminated with status 1",
          "There were infected proceses, terminated with status =OK, start delete infected process files",
          std::string("File ") + kUserWorm +
              " is not the file that matched (another file is at its path now): it is left alone",
          std::string("Deleting file \"") + kUserWorm + "\", result=4"},
         false, false, 1},
        {"the worm's id taken by another program before it is ended",
         [&](sim::Workstation& ws) {
             // The matcher's open of the image comes after the name was read.
             ws.OnCall("CreateFileA", 1, [&ws] {
                 sim::Process newcomer = Proc(0, kNotepad);
                 ws.ReuseProcessId(0x1a4, newcomer);
             });
         },
         {examined, infection, std::string("Process ") + kUserWorm + " terminated with status 0",
          "There were infected proceses, terminated with status =NOT OK, start delete infected process files",
          std::string("Deleting file \"") + kUserWorm + "\", result=1"},
         true, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        Plant(ws);
        ws.File(kVictim, "MZ a program of the system, not the worm")
            .FileBytes(kUserWorm, worm_sample::MakeSample(16384, SignatureTable[2].crc))
            .AddProcess(Proc(0x1a4, kUserWorm));
        c.attack(ws);
        StartFreshProcess();

        Sweep sweep = Run(ws);

        EXPECT_EQ(sweep.log, c.log);
        EXPECT_TRUE(ws.Exists(kVictim));
        // After a swap the worm's folder is the one renamed away.
        bool swapped = ws.Exists("C:\\Users\\Ann\\Apps.away");
        bool wormThere = ws.Exists(swapped ? "C:\\Users\\Ann\\Apps.away\\kurrel.exe" : kUserWorm);
        EXPECT_EQ(!wormThere, c.wormGone);
        int newcomers = 0;
        for (const sim::Process& process : ws.processes) newcomers += process.running && process.exePath == kNotepad;
        EXPECT_EQ(newcomers > 0, c.newcomerRunning);
        EXPECT_EQ(g_removalOutcome.failureCount, c.failures);
        EXPECT_EQ(ws.OpenHandles(), 0);
    }
}

// An image whose ANSI name does not reach it as itself: best fit turns a
// fullwidth letter into a plain one (the name of another, clean, program), a
// trailing dot is dropped by the ANSI calls, a path is too long for them.
// The wide name is tested, the worm ended and its image deleted by the wide
// calls; the log names it readably. And a worm that wrote a clean program's
// name into its loader list: the image the system names is tested too, on
// the Windows that keep one (Vista and later by QueryFullProcessImageName,
// XP by GetProcessImageFileName and the drive's device); Windows 2000 keeps
// none, and there only the disk sweep can find such a worm.
TEST_F(ProcessSweep, ImagesTheAnsiNameDoesNotReach) {
    const std::string deep = "C:\\" + std::string(130, 'd') + "\\" + std::string(130, 'e') + "\\run me.exe";
    const std::string kTool = "C:\\Apps\\tool.exe";
    struct Case {
        const char* name;
        std::string image;       // UTF-8
        std::string loaderPath;  // what the process wrote into its loader list; the image when empty
        DWORD major, minor;
        std::string shown;
        bool ended;
        std::vector<std::string> examined;  // the lines before the verdict
        std::function<void(sim::Workstation&)> fault = nullptr;
        int failures = 0;
    };
    auto systemNames = [](const std::string& path) {
        return "examinate process " + path + " (PID=0x1a4), its image as the system names it";
    };
    const std::string notepadLine = std::string("examinate process ") + kNotepad + " (PID=0x1a4)";
    const Case cases[] = {
        {"a letter best fit turns into another", "C:\\Apps\\\xef\xbd\x8burrel.exe", "", 5, 1,
         "C:\\Apps\\<U+FF4B>urrel.exe", true, {"examinate process C:\\Apps\\<U+FF4B>urrel.exe (PID=0x1a4)"}},
        {"a trailing dot", "C:\\Apps\\kurrel.exe.", "", 5, 1, "C:\\Apps\\kurrel.exe.", true,
         {"examinate process C:\\Apps\\kurrel.exe. (PID=0x1a4)"}},
        {"a path too long for the ANSI calls", deep, "", 5, 1, deep, true,
         {"examinate process " + deep + " (PID=0x1a4)"}},
        {"Vista: the loader list names notepad", kTool, kNotepad, 6, 0, kTool, true,
         {notepadLine, systemNames(kTool)}},
        {"Windows 10: the loader list names notepad, the image a fullwidth name",
         "C:\\Apps\\\xef\xbd\x8burrel.exe", kNotepad, 10, 0, "C:\\Apps\\<U+FF4B>urrel.exe", true,
         {notepadLine, systemNames("C:\\Apps\\<U+FF4B>urrel.exe")}},
        {"XP: the loader list names notepad", kTool, kNotepad, 5, 1, kTool, true,
         {notepadLine, systemNames(kTool)}},
        {"Windows 2000 keeps no name of its own", kTool, kNotepad, 5, 0, kTool, false, {notepadLine}},
        {"XP: the system's name cannot be read, and that counts", kTool, kNotepad, 5, 1, kTool, false,
         {notepadLine,
          std::string("Cannot read the image of process ") + kNotepad + " (PID=0x1a4) as the system names it, error=5"},
         [](sim::Workstation& ws) { ws.FailCall("GetProcessImageFileNameW", ERROR_ACCESS_DENIED, 0, 100); }, 1},
        {"XP: a drive's device cannot be read, and that counts", kTool, kNotepad, 5, 1, kTool, false,
         {notepadLine,
          std::string("Cannot read the image of process ") + kNotepad + " (PID=0x1a4) as the system names it, error=5"},
         [](sim::Workstation& ws) { ws.FailCall("QueryDosDeviceW", ERROR_ACCESS_DENIED, 0, 1000); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.majorVersion = c.major;
        ws.minorVersion = c.minor;
        Plant(ws);
        // What the ANSI name would lead to: a clean program of that name.
        sim::Process worm = Proc(0x1a4, c.image);
        worm.loaderPath = c.loaderPath;
        ws.File("C:\\Apps\\kurrel.exe", "MZ a clean program")
            .FileBytes(c.image, worm_sample::MakeSample(16384, SignatureTable[2].crc))
            .AddProcess(worm);
        if (c.fault) c.fault(ws);
        StartFreshProcess();

        Sweep sweep = Run(ws);

        EXPECT_EQ(sweep.result, 1);
        EXPECT_EQ(ProcessWithId(ws, 0x1a4).running, !c.ended);
        EXPECT_EQ(ws.Exists(c.image), !c.ended);
        EXPECT_EQ(ws.Read("C:\\Apps\\kurrel.exe"), "MZ a clean program");
        EXPECT_EQ(ws.Read(kNotepad), "MZ notepad");
        std::vector<std::string> expected = c.examined;
        if (c.ended) {
            expected.push_back("Process " + c.shown + " (PID=0x1a4) is infection");
            expected.push_back("Deleting file \"" + c.shown + "\", result=1");
        } else {
            expected.push_back("No infected processes were found");
        }
        ExpectInOrder(sweep.log, expected);
        EXPECT_EQ(sweep.log.size(), c.ended ? expected.size() + 2 : expected.size());
        EXPECT_EQ(g_removalOutcome.failureCount, c.failures);
        EXPECT_EQ(ws.OpenHandles(), 0);
    }
}

// The worm that cannot be opened keeps running and holding its file, which
// is then left for the next boot; the other one goes at once.
class ProcessSweepOrder : public ProcessSweep, public ::testing::WithParamInterface<bool> {};

TEST_P(ProcessSweepOrder, OneOfTwoInfectedProcessesCannotBeOpened) {
    bool lockedFirst = GetParam();
    sim::Workstation ws;
    Plant(ws);
    sim::Process locked = Proc(0x300, kWormB);
    locked.canTerminate = false;
    sim::Process free = Proc(0x304, kWormA);
    if (lockedFirst) {
        ws.AddProcess(locked).AddProcess(free);
    } else {
        ws.AddProcess(free).AddProcess(locked);
    }

    Sweep sweep = Run(ws);

    EXPECT_EQ(sweep.result, 0);
    EXPECT_EQ(sweep.console, "found Kurrel tasks in memory \n");
    std::string refused = std::string("cannot open infected process ") + kWormB + ", Error=5";
    std::string ended = std::string("Process ") + kWormA + " terminated with status 1";
    std::vector<std::string> lockedLines = {
        std::string("examinate process ") + kWormB + " (PID=0x300)",
        std::string("Process ") + kWormB + " (PID=0x300) is infection", refused};
    std::vector<std::string> freeLines = {
        std::string("examinate process ") + kWormA + " (PID=0x304)",
        std::string("Process ") + kWormA + " (PID=0x304) is infection", ended};
    std::vector<std::string> expected = lockedFirst ? lockedLines : freeLines;
    const std::vector<std::string>& second = lockedFirst ? freeLines : lockedLines;
    expected.insert(expected.end(), second.begin(), second.end());
    expected.push_back(
        "There were infected proceses, terminated with status =NOT OK, start delete infected "
        "process files");
    std::string deleteLocked = std::string("Deleting file \"") + kWormB + "\", result=2";
    std::string deleteFree = std::string("Deleting file \"") + kWormA + "\", result=1";
    expected.push_back(lockedFirst ? deleteLocked : deleteFree);
    expected.push_back(lockedFirst ? deleteFree : deleteLocked);
    EXPECT_EQ(sweep.log, expected);

    EXPECT_FALSE(ws.Exists(kWormA));
    EXPECT_TRUE(ws.Exists(kWormB));
    EXPECT_TRUE(ProcessWithId(ws, 0x300).running);
    EXPECT_FALSE(ProcessWithId(ws, 0x304).running);
    // The worm that could not be ended still runs: one failure, so that the
    // run asks for the restart. Its deletion at the next boot is no failure.
    EXPECT_EQ(g_removalOutcome.failureCount, 1);
    EXPECT_EQ(ws.OpenHandles(), 0);
    ws.Reboot();
    EXPECT_FALSE(ws.Exists(kWormB));
}

INSTANTIATE_TEST_SUITE_P(BothOrders, ProcessSweepOrder, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "LockedFirst" : "LockedSecond");
                         });

TEST_F(ProcessSweep, TwoProcessesOfOneExecutable) {
    sim::Workstation ws;
    Plant(ws);
    ws.AddProcess(Proc(0x40, kWormA)).AddProcess(Proc(0x44, kWormA));

    Sweep sweep = Run(ws);

    EXPECT_EQ(sweep.result, 1);
    EXPECT_EQ(sweep.console, "found Kurrel tasks in memory \n");  // no "\n" for the second
    ASSERT_GE(sweep.log.size(), 2u);
    EXPECT_EQ(sweep.log[sweep.log.size() - 2],
              std::string("Deleting file \"") + kWormA + "\", result=1");
    EXPECT_EQ(sweep.log.back(), std::string("Deleting file \"") + kWormA + "\", result=0");
    EXPECT_EQ(g_removalOutcome.failureCount, 0);
    EXPECT_FALSE(ws.Exists(kWormA));
    ASSERT_NE(InfectedProcessFiles.head, nullptr);
    EXPECT_STREQ(InfectedProcessFiles.head->path, kWormA);
    ASSERT_NE(InfectedProcessFiles.head->next, nullptr);
    EXPECT_STREQ(InfectedProcessFiles.head->next->path, kWormA);
    EXPECT_EQ(InfectedProcessFiles.head->next, InfectedProcessFiles.tail);
}

TEST_F(ProcessSweep, DeletionThatCannotBeScheduledCountsAFailure) {
    sim::Workstation ws;
    Plant(ws);
    sim::Process locked = Proc(0x50, kWormA);
    locked.canTerminate = false;
    ws.AddProcess(locked).FailCall("MoveFileExA", ERROR_ACCESS_DENIED);

    Sweep sweep = Run(ws);

    EXPECT_EQ(sweep.result, 0);
    EXPECT_EQ(sweep.log.back(), std::string("Deleting file \"") + kWormA + "\", result=4");
    // One for the worm left running, one for its file left in place.
    EXPECT_EQ(g_removalOutcome.failureCount, 2);
    EXPECT_TRUE(ws.Exists(kWormA));
}

struct MissingPiece {
    const char* name;
    std::function<void(sim::Workstation&)> takeAway;
};

class ProcessSweepMissing : public ProcessSweep,
                            public ::testing::WithParamInterface<MissingPiece> {};

TEST_P(ProcessSweepMissing, NtWithoutAPieceExaminesNothing) {
    sim::Workstation ws;
    Plant(ws);
    ws.AddProcess(Proc(0x10, kExplorer)).AddProcess(Proc(0x1a4, kWormA));
    GetParam().takeAway(ws);

    Sweep sweep = Run(ws);

    EXPECT_EQ(sweep.result, 1);
    EXPECT_EQ(sweep.console, "no Kurrel tasks in memory \n");
    EXPECT_EQ(sweep.log, (std::vector<std::string>{"No infected processes were found"}));
    EXPECT_EQ(ws.Calls("OpenProcess"), 0);
    EXPECT_TRUE(ProcessWithId(ws, 0x1a4).running);
    EXPECT_TRUE(ws.Exists(kWormA));
    // Whatever was loaded was given back.
    for (const char* dll : {"PSAPI.DLL", "VDMDBG.DLL"}) {
        auto it = ws.modules.find(std::string_view(dll));
        if (it != ws.modules.end()) {
            EXPECT_EQ(it->second.loadCount, 0) << dll;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, ProcessSweepMissing,
    ::testing::Values(
        MissingPiece{"NoPsapi", [](sim::Workstation& ws) { ws.modules.erase("PSAPI.DLL"); }},
        MissingPiece{"NoVdmdbg", [](sim::Workstation& ws) { ws.modules.erase("VDMDBG.DLL"); }},
        MissingPiece{"VdmdbgNotLoadable",
                     [](sim::Workstation& ws) { ws.modules["VDMDBG.DLL"].loadable = false; }},
        MissingPiece{"NoEnumProcesses",
                     [](sim::Workstation& ws) {
                         ws.modules["PSAPI.DLL"].functions.erase("EnumProcesses");
                     }},
        MissingPiece{"NoGetModuleBaseName",
                     [](sim::Workstation& ws) {
                         ws.modules["PSAPI.DLL"].functions.erase("GetModuleBaseNameA");
                     }},
        MissingPiece{"NoVdmEnumTaskWOWEx",
                     [](sim::Workstation& ws) {
                         ws.modules["VDMDBG.DLL"].functions.erase("VDMEnumTaskWOWEx");
                     }},
        MissingPiece{"EnumProcessesFails",
                     [](sim::Workstation& ws) { ws.FailCall("EnumProcesses", ERROR_ACCESS_DENIED); }}),
    [](const ::testing::TestParamInfo<MissingPiece>& info) { return std::string(info.param.name); });

TEST_F(ProcessSweep, NtBindsPsapiAtRunTimeAndGivesItBack) {
    sim::Workstation ws;
    Plant(ws);
    ws.AddProcess(Proc(0x10, kExplorer));

    Run(ws);

    EXPECT_EQ(ws.Calls("LoadLibraryExA"), 2);
    EXPECT_EQ(ws.Calls("FreeLibrary"), 2);
    EXPECT_EQ(ws.modules["PSAPI.DLL"].loadCount, 0);
    EXPECT_EQ(ws.modules["VDMDBG.DLL"].loadCount, 0);
    EXPECT_EQ(ws.Calls("CreateToolhelp32Snapshot"), 0);
    EXPECT_EQ(ws.Calls("VDMEnumTaskWOWEx"), 0);
    EXPECT_EQ(ws.Calls("GetModuleBaseNameA"), 0);
}

TEST_F(ProcessSweep, Win9xUsesTheToolhelpSnapshotAndNoToken) {
    sim::Workstation ws;
    ws.Win9x();
    Plant(ws);
    sim::Process worm = Proc(0xFFF3A1B5, kWormA);
    worm.toolhelpName = "C:\\WINDOWS\\SYSTEM32\\KURREL.EXE";  // as 9x spells it
    ws.AddProcess(Proc(0xFFF00001, kExplorer)).AddProcess(worm);

    Sweep sweep = Run(ws);

    EXPECT_EQ(sweep.result, 1);
    EXPECT_EQ(sweep.console, "found Kurrel tasks in memory \n");
    EXPECT_EQ(sweep.log,
              (std::vector<std::string>{
                  "examinate process C:\\WINDOWS\\explorer.exe (PID=0xfff00001)",
                  "examinate process C:\\WINDOWS\\SYSTEM32\\KURREL.EXE (PID=0xfff3a1b5)",
                  "Process C:\\WINDOWS\\SYSTEM32\\KURREL.EXE (PID=0xfff3a1b5) is infection",
                  "Process C:\\WINDOWS\\SYSTEM32\\KURREL.EXE terminated with status 1",
                  "There were infected proceses, terminated with status =OK, start delete "
                  "infected process files",
                  "Deleting file \"C:\\WINDOWS\\SYSTEM32\\KURREL.EXE\", result=1"}));
    EXPECT_EQ(ws.Calls("OpenProcessToken"), 0);
    EXPECT_EQ(ws.Calls("AdjustTokenPrivileges"), 0);
    EXPECT_EQ(ws.Calls("LoadLibraryExA"), 0);
    EXPECT_EQ(ws.Calls("EnumProcesses"), 0);
    EXPECT_EQ(ws.Calls("CreateToolhelp32Snapshot"), 1);
    EXPECT_EQ(ws.OpenHandles(), 0);
    EXPECT_FALSE(ws.Exists(kWormA));
}

TEST_F(ProcessSweep, Win9xWithoutToolhelpExaminesNothing) {
    sim::Workstation ws;
    ws.Win9x();
    Plant(ws);
    ws.AddProcess(Proc(0x1a4, kWormA));
    ws.modules["KERNEL32.DLL"].functions.erase("Process32Next");

    Sweep sweep = Run(ws);

    EXPECT_EQ(sweep.result, 1);
    EXPECT_EQ(sweep.log, (std::vector<std::string>{"No infected processes were found"}));
    EXPECT_EQ(ws.Calls("CreateToolhelp32Snapshot"), 0);
    EXPECT_TRUE(ProcessWithId(ws, 0x1a4).running);
}

TEST_F(ProcessSweep, OneExaminationLinePerNamedProcessWithLowercaseHexId) {
    sim::Workstation ws;
    Plant(ws);
    sim::Process system = Proc(4, "C:\\WINDOWS\\System32\\ntoskrnl.exe");
    system.canOpenQuery = false;  // skipped without a word
    ws.AddProcess(system)
        .AddProcess(Proc(0xABCDEF, kExplorer))
        .AddProcess(Proc(0x7F0, kNotepad))
        .AddProcess(Proc(0xBEEF, "C:\\Program Files\\Some App\\app.exe"))
        // A process writes its own name: a line break in it must not start
        // a line of the log that the tool never wrote.
        .AddProcess(Proc(0x88, "x\"==\"x\" ver&md \\PWND&rem \r\nKurrelfix tool exit code: 0"));

    Sweep sweep = Run(ws);

    EXPECT_EQ(sweep.log, (std::vector<std::string>{
                             "examinate process C:\\WINDOWS\\explorer.exe (PID=0xabcdef)",
                             "examinate process C:\\WINDOWS\\notepad.exe (PID=0x7f0)",
                             "examinate process C:\\Program Files\\Some App\\app.exe (PID=0xbeef)",
                             "examinate process x\"==\"x\" ver&md \\PWND&rem <U+000D><U+000A>Kurrelfix tool "
                             "exit code: 0 (PID=0x88)",
                             "No infected processes were found"}));
    int opened = 0;
    for (const sim::ProcessOpen& open : ws.processOpens) opened += open.granted ? 1 : 0;
    EXPECT_EQ(opened, 4);
    EXPECT_EQ(ws.OpenHandles(), 0);
}

TEST_F(ProcessSweep, OnlyTheFirst1024ProcessIdsAreExamined) {
    sim::Workstation ws;
    Plant(ws);
    for (DWORD i = 0; i < 1030; ++i) ws.AddProcess(Proc(0x1000 + 4 * i, kExplorer));
    ws.AddProcess(Proc(0x9000, kWormA));  // beyond the list

    Sweep sweep = Run(ws);

    EXPECT_EQ(sweep.log.size(), 1024u + 1u);
    EXPECT_EQ(sweep.log[1023], "examinate process C:\\WINDOWS\\explorer.exe (PID=0x1ffc)");
    EXPECT_EQ(sweep.result, 1);
    EXPECT_TRUE(ws.Exists(kWormA));
}

TEST_F(ProcessSweep, DebugPrivilegeIsEnabledForTheEnumerationOnly) {
    sim::Workstation ws;
    Plant(ws);
    ws.AddProcess(Proc(0x10, kExplorer)).AddProcess(Proc(0x1a4, kWormA));
    auto enabled = [&ws] {
        auto it = ws.privilegeAttributes.find(std::string_view("SeDebugPrivilege"));
        return it != ws.privilegeAttributes.end() && (it->second & SE_PRIVILEGE_ENABLED) != 0;
    };
    ASSERT_FALSE(enabled());
    bool enabledWhileDeleting = true;
    ws.At(ws.clockMs + 1000, [&] { enabledWhileDeleting = enabled(); });

    Sweep sweep = Run(ws);

    // One open a process: the handle that names it is the one that ends it.
    ASSERT_EQ(ws.processOpens.size(), 2u);
    for (const sim::ProcessOpen& open : ws.processOpens) {
        EXPECT_TRUE(open.debugPrivilegeEnabled);
        EXPECT_EQ(open.access, static_cast<DWORD>(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE));
    }
    EXPECT_FALSE(enabledWhileDeleting);
    EXPECT_FALSE(enabled());
    EXPECT_FALSE(ws.Exists(kWormA));
}

TEST_F(ProcessSweep, TokenThatCannotBeOpenedIsLoggedAndTheSweepGoesOn) {
    sim::Workstation ws;
    Plant(ws);
    ws.AddProcess(Proc(0x1a4, kWormA)).FailCall("OpenProcessToken", ERROR_ACCESS_DENIED);

    Sweep sweep = Run(ws);

    ASSERT_GE(sweep.log.size(), 3u);
    EXPECT_EQ(sweep.log[0], "Cannot open current process 5");
    EXPECT_EQ(sweep.log[1], "Cannot SetPrivilege 6");
    EXPECT_EQ(sweep.log[2], std::string("examinate process ") + kWormA + " (PID=0x1a4)");
    for (const sim::ProcessOpen& open : ws.processOpens) EXPECT_FALSE(open.debugPrivilegeEnabled);
    EXPECT_EQ(sweep.result, 1);
    EXPECT_FALSE(ws.Exists(kWormA));
}

TEST_F(ProcessSweep, NoMemoryForthePathForgetsThatProcess) {
    sim::Workstation ws;
    Plant(ws);
    ws.AddProcess(Proc(0x1a4, kWormA)).AddProcess(Proc(0x1a8, kWormB));
    // The first node of the list cannot be had; the second process's can.
    // (The enumeration's four buffers for the loader's and the system's
    // wide names come first.)
    ws.FailCall("AllocBuffer", ERROR_NOT_ENOUGH_MEMORY, 4);

    Sweep sweep = Run(ws);

    EXPECT_NE(std::find(sweep.log.begin(), sweep.log.end(), "NO MEMORY"), sweep.log.end());
    EXPECT_EQ(sweep.result, 1);
    EXPECT_FALSE(ProcessWithId(ws, 0x1a4).running);  // ended, but its file is forgotten
    EXPECT_TRUE(ws.Exists(kWormA));
    EXPECT_FALSE(ws.Exists(kWormB));
    ASSERT_NE(InfectedProcessFiles.head, nullptr);
    EXPECT_STREQ(InfectedProcessFiles.head->path, kWormB);
    EXPECT_EQ(InfectedProcessFiles.head->next, nullptr);
}

// On 64-bit Windows a worm started from the real System32 (by a 64-bit
// program, or by the system) is named there: its image is tested and deleted
// with the real folder in view, while PSAPI is still loaded through the
// redirection, which is back on afterwards.
TEST_F(ProcessSweep, ImagesInTheRealSystemFolderOn64BitWindows) {
    const std::string kReal = "C:\\WINDOWS\\System32\\kurrel.exe";
    const std::string kWow = "C:\\WINDOWS\\SysWOW64\\kurrel.exe";
    const std::vector<uint8_t> worm = worm_sample::MakeSample(16384, SignatureTable[2].crc);
    auto infected = [](const std::string& path) {
        return std::vector<std::string>{
            "examinate process C:\\WINDOWS\\explorer.exe (PID=0x10)",
            "examinate process " + path + " (PID=0x1a4)",
            "Process " + path + " (PID=0x1a4) is infection",
            "Process " + path + " terminated with status 1",
            "There were infected proceses, terminated with status =OK, start delete infected process files",
            "Deleting file \"" + path + "\", result=1"};
    };
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> machine;
        std::string image;
        std::vector<std::string> log;
        std::vector<std::string> gone;
        std::vector<std::string> kept;
        int failures;
        bool wormRunning;
        bool redirectedAfter;
    };
    const Case cases[] = {
        {"32-bit Windows", [&](sim::Workstation& ws) { ws.FileBytes(kReal, worm); }, kReal, infected(kReal),
         {kReal}, {}, 0, false, true},
        {"64-bit Windows: a worm from the real System32",
         [&](sim::Workstation& ws) { ws.Wow64().FileBytes(kReal, worm).File(kWow, "MZ 32-bit"); }, kReal,
         infected(kReal), {kReal}, {kWow}, 0, false, true},
        {"64-bit Windows: a worm from SysWOW64",
         [&](sim::Workstation& ws) { ws.Wow64().File(kReal, "MZ 64-bit").FileBytes(kWow, worm); }, kWow,
         infected(kWow), {kWow}, {kReal}, 0, false, true},
        {"64-bit Windows: without the real folder in view the worm is missed, and that counts",
         [&](sim::Workstation& ws) {
             ws.Wow64().FileBytes(kReal, worm).File(kWow, "MZ 32-bit");
             ws.FailCall("Wow64DisableWow64FsRedirection", ERROR_ACCESS_DENIED, 0, 2);
         },
         kReal,
         {"examinate process C:\\WINDOWS\\explorer.exe (PID=0x10)", "Cannot see the real system folder, error=5",
          "examinate process " + kReal + " (PID=0x1a4)", "Cannot see the real system folder, error=5",
          "No infected processes were found"},
         {}, {kReal, kWow}, 2, true, true},
        {"64-bit Windows: a redirection that cannot be turned back on counts",
         [&](sim::Workstation& ws) {
             ws.Wow64().FileBytes(kReal, worm).File(kWow, "MZ 32-bit");
             ws.FailCall("Wow64RevertWow64FsRedirection", ERROR_ACCESS_DENIED, 2);
         },
         kReal,
         [&] {
             std::vector<std::string> log = infected(kReal);
             log.push_back("Cannot turn the system folder's redirection back on, error=5");
             return log;
         }(),
         {kReal}, {kWow}, 1, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartFreshProcess();
        sim::Workstation ws;
        ws.File(kExplorer, "MZ explorer");
        c.machine(ws);
        ws.AddProcess(Proc(0x10, kExplorer)).AddProcess(Proc(0x1a4, c.image));

        Sweep sweep = Run(ws);

        EXPECT_EQ(sweep.log, c.log);
        EXPECT_EQ(g_removalOutcome.failureCount, c.failures);
        EXPECT_EQ(ProcessWithId(ws, 0x1a4).running, c.wormRunning);
        EXPECT_EQ(ws.fsRedirected, c.redirectedAfter);
        EXPECT_EQ(ws.modules["PSAPI.DLL"].loadCount, 0);
        for (const std::string& path : c.gone) EXPECT_FALSE(ws.Exists(path)) << path;
        for (const std::string& path : c.kept) EXPECT_TRUE(ws.Exists(path)) << path;
    }
}

}  // namespace
