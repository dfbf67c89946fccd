// Whole silent runs of the tool on described workstations of both families,
// each from a fresh process state: what the administrator finds afterwards in
// the exit code, the console, the log, the files, the processes, the registry
// and win.ini, and after the next boot.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/outcome.h"
#include "cleanup/signature_matcher.h"
#include "samples/worm_sample.h"
#include "tests/test_support.h"
#include "tests/workstations.h"

namespace {

using workstations::kCopyInDocuments;
using workstations::kCopyInProgramFiles;
using workstations::kExplorer;
using workstations::kNearMiss;
using workstations::kRightCommand;
using workstations::kRunningWorm;
using workstations::kShellKey;
using workstations::kWormCommand;
using workstations::kWormRun;
using workstations::Running;

struct Family {
    const char* name;
    bool nt;
    // The call that leaves a file in use for the next boot: the boot list on
    // NT, the short name that WININIT.INI is written with on 9x.
    const char* bootScheduleCall;
};
const Family kFamilies[] = {{"NT", true, "MoveFileExA"}, {"Win9x", false, "GetShortPathNameA"}};

// The plain machine of the family, with its explorer running and win.ini in
// place; an infected one also has the worm running, its copies and a near
// miss. None of the sweeps' extras: the console and the log below are
// exactly this machine's.
void Describe(sim::Workstation& ws, const Family& family, bool infected) {
    workstations::Describe(ws, {family.name, family.nt, infected});
}

// On NT the section "windows" of win.ini lives in the user's registry.
std::string RunEntry(sim::Workstation& ws, const Family& family) { return workstations::RunEntry(ws, family.nt); }

bool IsRunning(sim::Workstation& ws, DWORD pid) { return ws.FindProcess(pid) != nullptr; }

std::string Deleting(const std::string& path, int result) {
    return "Deleting file \"" + path + "\", result=" + std::to_string(result);
}

class WholeRun : public ::testing::TestWithParam<Family> {};

TEST_P(WholeRun, CleanMachineIsLeftAsItWas) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family, false);
    std::string ini = ws.Read("C:\\WINDOWS\\win.ini");

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console,
              VersionText() + "\n"
              "Removing shares\n"
              "find and kill all Kurrel tasks in memory ... \n"
              "no Kurrel tasks in memory \n"
              "scan all hard disks and delete all Kurrel files, it will take a while ...\n"
              "Infection was not found, the shell key is not updated\n"
              "Restore shares\n"
              "Kurrelfix tool exit code: 0\n");
    std::vector<std::string> log = Lines(ws.Read(TestLogPath), "\r\n");
    ExpectInOrder(log, {VersionText(), "examinate process C:\\WINDOWS\\explorer.exe (PID=0x5c)",
                        "No infected processes were found",
                        "Infection was not found, the shell key is not updated",
                        "Kurrelfix tool exit code: 0"});
    EXPECT_EQ(CountOf(log, "Found infection"), 0);
    EXPECT_EQ(ws.RegText(HKEY_CLASSES_ROOT, kShellKey, ""), kRightCommand);
    // No setting is written: only the scanner record's identifier on NT,
    // which goes with the record.
    EXPECT_EQ(ws.Calls("RegSetValueExA"), ws.platformId == VER_PLATFORM_WIN32_NT ? 1 : 0);
    const sim::RegKey* toolKey = ws.FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ombrel Works\\Kurrelfix");
    EXPECT_TRUE(!toolKey || toolKey->values.empty());
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), ini);
    EXPECT_EQ(RunEntry(ws, family), "");
    EXPECT_FALSE(ws.Exists("C:\\WINDOWS\\win.bak"));
    EXPECT_TRUE(IsRunning(ws, 0x5c));
    EXPECT_TRUE(ws.boxesShown.empty());
}

TEST_P(WholeRun, InfectedMachineIsCleanedAtOnce) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family, true);
    std::string ini = ws.Read("C:\\WINDOWS\\win.ini");
    // Five seconds into the fifteen-second look the sweeps are over: the
    // machine is then known to be infected, and only the look makes it clean.
    int codeDuringTheLook = -1;
    ws.At(ws.clockMs + 6000, [&] { codeDuringTheLook = GetOutcomeCode(); });

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(codeDuringTheLook, 2);
    EXPECT_EQ(run.exitCode, 1);
    ExpectInOrder(Lines(run.console, "\n"),
                  {VersionText(), "find and kill all Kurrel tasks in memory ... ",
                   "found Kurrel tasks in memory ",
                   "scan all hard disks and delete all Kurrel files, it will take a while ...",
                   "Update shell key", "Wait 15 sec and re-check shell key ...  Infection is cleaned!",
                   "clean up Win.ini", "Kurrelfix tool exit code: 1"});
    std::vector<std::string> log = Lines(ws.Read(TestLogPath), "\r\n");
    ExpectInOrder(log, {VersionText(),
                        "[VTSU - Disinfect_Kurrel]",
                        "examinate process C:\\WINDOWS\\explorer.exe (PID=0x5c)",
                        "examinate process C:\\WINDOWS\\SYSTEM\\kurrel.exe (PID=0x1a4)",
                        "Process C:\\WINDOWS\\SYSTEM\\kurrel.exe (PID=0x1a4) is infection",
                        "Process C:\\WINDOWS\\SYSTEM\\kurrel.exe terminated with status 1",
                        "There were infected proceses, terminated with status =OK, start delete "
                        "infected process files",
                        Deleting(kRunningWorm, 1),
                        std::string("Found infection \"") + kCopyInDocuments + "\"",
                        Deleting(kCopyInDocuments, 1),
                        std::string("Found infection \"") + kCopyInProgramFiles + "\"",
                        Deleting(kCopyInProgramFiles, 1),
                        "Infection is cleaned!",
                        "Restore shell, success=1",
                        std::string("win.ini run=") + kWormRun + ", removing",
                        "Kurrelfix tool exit code: 1"});
    EXPECT_EQ(CountOf(log, "Found infection"), 2);

    EXPECT_FALSE(IsRunning(ws, 0x1a4));
    EXPECT_TRUE(IsRunning(ws, 0x5c));
    EXPECT_FALSE(ws.Exists(kRunningWorm));
    EXPECT_FALSE(ws.Exists(kCopyInDocuments));
    EXPECT_FALSE(ws.Exists(kCopyInProgramFiles));
    EXPECT_TRUE(ws.Exists(kNearMiss));
    EXPECT_TRUE(ws.Exists(kExplorer));
    EXPECT_EQ(ws.RegText(HKEY_CLASSES_ROOT, kShellKey, ""), kRightCommand);
    EXPECT_EQ(RunEntry(ws, family), "");
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.bak"), ini);
    ws.Reboot();
    EXPECT_TRUE(ws.Exists(kNearMiss));
}

TEST_P(WholeRun, WormFileInUseIsLeftForTheNextBoot) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family, true);
    ws.Hold(kCopyInDocuments, FILE_SHARE_READ);  // another program has it open

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(run.exitCode, 1);
    std::vector<std::string> log = Lines(ws.Read(TestLogPath), "\r\n");
    ExpectInOrder(log, {Deleting(kCopyInDocuments, 2), Deleting(kCopyInProgramFiles, 1),
                        "Restore shell, success=1", "Kurrelfix tool exit code: 1"});
    EXPECT_TRUE(ws.Exists(kCopyInDocuments));
    EXPECT_FALSE(ws.Exists(kCopyInProgramFiles));
    EXPECT_EQ(ws.RegText(HKEY_CLASSES_ROOT, kShellKey, ""), kRightCommand);
    EXPECT_EQ(RunEntry(ws, family), "");

    ws.Reboot();
    EXPECT_FALSE(ws.Exists(kCopyInDocuments));
    EXPECT_TRUE(ws.Exists(kNearMiss));
    EXPECT_TRUE(ws.Exists(kExplorer));
}

TEST_P(WholeRun, OneFailedDeletionEndsWithErrors) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family, true);
    std::string ini = ws.Read("C:\\WINDOWS\\win.ini");
    ws.Hold(kCopyInDocuments, FILE_SHARE_READ);
    // Its deletion cannot be left for the boot either.
    ws.FailCall(family.bootScheduleCall, ERROR_ACCESS_DENIED);

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(run.exitCode, 3);
    std::vector<std::string> log = Lines(ws.Read(TestLogPath), "\r\n");
    ExpectInOrder(log, {Deleting(kCopyInDocuments, 4), Deleting(kCopyInProgramFiles, 1),
                        "Infection is cleaned!", "Restore shell, success=1",
                        "Kurrelfix tool exit code: 3"});
    EXPECT_EQ(run.console.find("clean up Win.ini"), std::string::npos);
    EXPECT_TRUE(ws.Exists(kCopyInDocuments));
    // The command is still repaired; win.ini is not touched.
    EXPECT_EQ(ws.RegText(HKEY_CLASSES_ROOT, kShellKey, ""), kRightCommand);
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), ini);
    EXPECT_EQ(RunEntry(ws, family), kWormRun);
    EXPECT_FALSE(ws.Exists("C:\\WINDOWS\\win.bak"));
    ws.Reboot();
    EXPECT_TRUE(ws.Exists(kCopyInDocuments));
}

// A copy the sweeps cannot read (its program holds it without read sharing)
// keeps running and writes its command back during the look.
TEST_P(WholeRun, WormWritingItsCommandBackLeavesTheMachineInfected) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family, true);
    std::string ini = ws.Read("C:\\WINDOWS\\win.ini");
    const char* hidden = "C:\\WINDOWS\\Temp\\~wrm0001.tmp";
    ws.FileBytes(hidden, worm_sample::MakeSample(9000, SignatureTable[12].crc))
        .Hold(hidden, 0)
        .AddProcess(Running(0x2f0, hidden));
    bool wroteBack = false;
    ws.At(ws.clockMs + 1000 + 5000, [&] {
        wroteBack = true;
        ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWormCommand);
    });

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_TRUE(wroteBack);
    EXPECT_EQ(run.exitCode, 2);
    ExpectInOrder(Lines(run.console, "\n"),
                  {"Update shell key", "Wait 15 sec and re-check shell key ...  Infection is still avaliable!",
                   "Kurrelfix tool exit code: 2"});
    EXPECT_EQ(run.console.find("clean up Win.ini"), std::string::npos);
    std::vector<std::string> log = Lines(ws.Read(TestLogPath), "\r\n");
    ExpectInOrder(log, {Deleting(kCopyInProgramFiles, 1), "Infection is still avaliable!",
                        "Restore shell, success=0", "Kurrelfix tool exit code: 2"});
    EXPECT_TRUE(IsRunning(ws, 0x2f0));
    EXPECT_TRUE(ws.Exists(hidden));
    EXPECT_EQ(ws.RegText(HKEY_CLASSES_ROOT, kShellKey, ""), kWormCommand);
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), ini);
    EXPECT_EQ(RunEntry(ws, family), kWormRun);
}

// Ctrl+C in the middle of the walk: the guard answers it and the sweep goes
// on to the files after that point.
TEST_P(WholeRun, CtrlCDuringTheSweepDoesNotStopIt) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family, true);
    const char* late = "C:\\WINDOWS\\System32\\drivers\\kurrel.sys";
    ws.FileBytes(late, worm_sample::MakeSample(8192, SignatureTable[0].crc, 9));
    int deletedBeforeCtrlC = -1;
    // NT lists by wide names.
    ws.OnCall(family.nt ? "FindNextFileW" : "FindNextFileA", 3, [&] {
        deletedBeforeCtrlC = ws.Exists(kCopyInProgramFiles) ? 0 : 1;
        ws.RaiseCtrlEvent(CTRL_C_EVENT);
    });

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(deletedBeforeCtrlC, 0);  // the walk was still on its way
    EXPECT_EQ(run.exitCode, 1);
    ExpectInOrder(Lines(run.console, "\n"),
                  {"scan all hard disks and delete all Kurrel files, it will take a while ...",
                   "you should not stop Kurrelfix!", "Update shell key", "Kurrelfix tool exit code: 1"});
    std::string log = ws.Read(TestLogPath);
    EXPECT_EQ(log.find("you should not stop"), std::string::npos);
    EXPECT_FALSE(ws.Exists(kCopyInProgramFiles));
    EXPECT_FALSE(ws.Exists(late));
    EXPECT_TRUE(ws.ctrlHandlers.empty());  // the guard is gone after the run
}

// A read-only copy is refused by the delete and by the boot's delete alike:
// its read-only attribute is cleared first, so that it goes at once. When
// even that is refused, the copy would stay for good: a failure.
TEST_P(WholeRun, ReadOnlyWormCopyGoesAtOnce) {
    const Family& family = GetParam();
    struct Case {
        const char* name;
        bool clearingFails;
        int exitCode;
        bool goneAfterBoot;
    };
    const Case cases[] = {
        {"cleared and deleted", false, 1, true},
        {"the attribute cannot be cleared", true, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        Describe(ws, family, true);
        const char* readOnly = "C:\\Archive\\old setup.exe";
        ws.FileBytes(readOnly, worm_sample::MakeSample(12000, SignatureTable[3].crc, 5),
                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        // NT clears it through the handle that is then deleted (its first
        // call on a handle deletes the running worm's image), 9x by its path.
        if (c.clearingFails) {
            if (family.nt) {
                ws.FailCall("NtSetInformationFile", ERROR_ACCESS_DENIED, 1);
            } else {
                ws.FailCall("SetFileAttributesA", ERROR_ACCESS_DENIED);
            }
        }

        RunResult run = RunKurrelfix({"/SILENT"});

        EXPECT_EQ(run.exitCode, c.exitCode);
        std::vector<std::string> log = Lines(ws.Read(TestLogPath), "\r\n");
        if (c.clearingFails) {
            ExpectInOrder(log, {std::string("Cannot clear the read-only attribute of \"") + readOnly +
                                    "\", error=5",
                                Deleting(readOnly, 2), "Kurrelfix tool exit code: 3"});
        } else {
            ExpectInOrder(log, {std::string("Cleared the read-only attribute of \"") + readOnly + "\"",
                                Deleting(readOnly, 1), "Kurrelfix tool exit code: 1"});
        }
        ws.Reboot();
        EXPECT_EQ(!ws.Exists(readOnly), c.goneAfterBoot);
        EXPECT_TRUE(ws.Exists(kNearMiss));
    }
}

// A worm that could not be ended still runs when the run is over; the run
// says so with code 3, whose message asks for the restart.
TEST_P(WholeRun, WormThatCannotBeEndedEndsWithErrors) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family, true);
    for (sim::Process& process : ws.processes) {
        if (process.pid == 0x1a4) process.canTerminate = false;
    }

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(IsRunning(ws, 0x1a4));
    ExpectInOrder(Lines(ws.Read(TestLogPath), "\r\n"),
                  {"There were infected proceses, terminated with status =NOT OK, start delete infected "
                   "process files",
                   Deleting(kRunningWorm, 2), "Kurrelfix tool exit code: 3"});
}

// The run= entry that could not be emptied would start the worm again.
TEST_P(WholeRun, RunEntryThatCannotBeWrittenEndsWithErrors) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family, true);
    ws.FailCall("WriteProfileStringA", ERROR_ACCESS_DENIED);

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(RunEntry(ws, family), kWormRun);
    std::string log = ws.Read(TestLogPath);
    EXPECT_NE(log.find(std::string("win.ini run=") + kWormRun + ", removing\r\ncannot remove win.ini run= entry error =5\r\n"),
              std::string::npos);
    EXPECT_EQ(log.substr(log.rfind("Kurrelfix tool")), "Kurrelfix tool exit code: 3\r\n");
}

INSTANTIATE_TEST_SUITE_P(Families, WholeRun, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
