// Leaving a deletion or a rename for the next boot, by each of the three
// ways, and what the next boot then does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/workstation.h"
#include "support/reboot_rename.h"
#include "support/rename_request_file.h"
#include "tests/test_support.h"
#include "trace/trace_log.h"

namespace {

const char InstallKey[] = "Software\\Ombrel Works\\Common\\Paths";
const char InstallDir[] = "C:\\Program Files\\Ombrel Works\\Common";
const char RequestPath[] = "C:\\Program Files\\Ombrel Works\\Common\\VTSL.REN";
const char Wininit[] = "C:\\WINDOWS\\WININIT.INI";
const char WininitBak[] = "C:\\WINDOWS\\WININIT.BAK";
const char Worm[] = "C:\\Program Files\\Kurrel Dir\\infected file.exe";
const char WormShort[] = "C:\\PROGRA~1\\KURREL~1\\INFECT~1.EXE";
const char Target[] = "C:\\Program Files\\Kurrel Dir\\renamed target.exe";
const char TargetShort[] = "C:\\PROGRA~1\\KURREL~1\\RENAME~1.EXE";

const std::string P = "[VTSU - AddFileToAutomaticRenameList]: ";
const LogLine IsNt{TraceInfo, P + "System is NT.\n"};
const LogLine IsNotNt{TraceInfo, P + "System is not NT.\n"};
const LogLine Admin{TraceInfo, P + "User is admin.\n"};
const LogLine NotAdmin{TraceInfo, P + "User is not admin.\n"};
const LogLine Executed{TraceInfo, P + "Operation is executed during reboot.\n"};
const LogLine CannotExecute{TraceError, P + "Operation cannot be executed during reboot.\n"};
const LogLine NoSl{TraceError, P + "No admin rights, no SL -> No renaming at reboot.\n"};
const LogLine SlLoaded{TraceInfo, P + "Sentrel is loaded and can be used for renaming.\n"};
const LogLine SlCannot{TraceError, P + "Sentrel cannot do the renaming.\n"};
const LogLine SlWill{TraceInfo, P + "Sentrel will do the renaming.\n"};
const LogLine WillExecute{TraceInfo, P + "Operation will be executed during reboot.\n"};
const LogLine NoShortPath{TraceError, P + "GetShortPathName() call failed.\n"};

LogLine FileExistLine(const std::string& path, bool exists) {
    return {TraceInfo, "[VTSU - FileExist]: File " + path + (exists ? " exists.\n" : " does not exist.\n")};
}

void WithWorm(sim::Workstation& ws) {
    ws.File(Worm, "worm bytes");
    ws.Hold(Worm, FILE_SHARE_READ);
}

void WithSentrel(sim::Workstation& ws, DWORD state = SERVICE_RUNNING) {
    ws.Admin(false).Service("Veltrane Sentrel", state);
    ws.RegString(HKEY_LOCAL_MACHINE, InstallKey, "Common", InstallDir);
    ws.Dir(InstallDir);
}

// One call, checked at both levels: every line with its level, and the result.
struct Call {
    const char* name;
    std::function<void(sim::Workstation&)> build;
    const char* existing;
    const char* newPath;
    std::function<void(sim::Workstation&)> faults;
    int result;
    std::vector<LogLine> lines;
};

int RunCall(sim::Workstation& ws, const Call& c, int maxLevel, std::string* log) {
    int result = -1;
    *log = RunLogged(ws, maxLevel, [&] {
        if (c.faults) c.faults(ws);
        result = AddFileToAutomaticRenameList(c.existing, c.newPath);
    });
    return result;
}

void CheckCall(const Call& c) {
    for (int maxLevel : {TraceInfo, TraceError}) {
        sim::Workstation ws;
        c.build(ws);
        std::string log;
        EXPECT_EQ(RunCall(ws, c, maxLevel, &log), c.result) << c.name;
        EXPECT_EQ(log, LogText(c.lines, maxLevel)) << c.name << " at level " << maxLevel;
        EXPECT_EQ(ws.OpenHandles(), 0) << c.name;
    }
}

}  // namespace

TEST(RebootRename, ResultsAndLines) {
    auto nt = [](sim::Workstation& ws) { WithWorm(ws); };
    auto user = [](sim::Workstation& ws) {
        WithWorm(ws);
        ws.Admin(false);
    };
    auto sentrel = [](DWORD state) {
        return [state](sim::Workstation& ws) {
            WithWorm(ws);
            WithSentrel(ws, state);
        };
    };
    auto win9x = [](sim::Workstation& ws) {
        WithWorm(ws);
        ws.Win9x();
    };
    auto moveFails = [](sim::Workstation& ws) { ws.FailCall("MoveFileExA", ERROR_ACCESS_DENIED); };
    const Call calls[] = {
        {"admin, deletion", nt, Worm, nullptr, nullptr, 1, {IsNt, Admin, Executed}},
        {"admin, rename", nt, Worm, Target, nullptr, 1, {IsNt, Admin, Executed}},
        {"admin, MoveFileExA refused", nt, Worm, nullptr, moveFails, 0, {IsNt, Admin, CannotExecute}},
        // Present but not enabled still counts as an administrator, yet the
        // boot list cannot be written.
        {"admin group not enabled", [](sim::Workstation& ws) { WithWorm(ws); ws.adminGroupEnabled = false; },
         Worm, nullptr, nullptr, 0, {IsNt, Admin, CannotExecute}},
        {"user, deletion, service running", sentrel(SERVICE_RUNNING), Worm, nullptr, nullptr, 0,
         {IsNt, NotAdmin, NoSl}},
        {"user, deletion, no service", user, Worm, nullptr, nullptr, 0, {IsNt, NotAdmin, NoSl}},
        {"user, rename, no service", user, Worm, Target, nullptr, 0, {IsNt, NotAdmin, NoSl}},
        {"user, rename, service stopped", sentrel(SERVICE_STOPPED), Worm, Target, nullptr, 0,
         {IsNt, NotAdmin, NoSl}},
        {"user, rename, service paused", sentrel(SERVICE_PAUSED), Worm, Target, nullptr, 0,
         {IsNt, NotAdmin, NoSl}},
        {"user, rename, service stopping", sentrel(SERVICE_STOP_PENDING), Worm, Target, nullptr, 0,
         {IsNt, NotAdmin, NoSl}},
        {"user, rename, service running", sentrel(SERVICE_RUNNING), Worm, Target, nullptr, 1,
         {IsNt, NotAdmin, SlLoaded, SlWill}},
        {"user, rename, service starting", sentrel(SERVICE_START_PENDING), Worm, Target, nullptr, 1,
         {IsNt, NotAdmin, SlLoaded, SlWill}},
        {"user, rename, service continuing", sentrel(SERVICE_CONTINUE_PENDING), Worm, Target, nullptr, 1,
         {IsNt, NotAdmin, SlLoaded, SlWill}},
        {"user, rename, no install path",
         [](sim::Workstation& ws) {
             WithWorm(ws);
             ws.Admin(false).Service("Veltrane Sentrel", SERVICE_RUNNING);
         },
         Worm, Target, nullptr, 0, {IsNt, NotAdmin, SlLoaded, SlCannot}},
        {"user, rename, request file cannot be finished", sentrel(SERVICE_RUNNING), Worm, Target,
         [](sim::Workstation& ws) { ws.FailCall("CrtSeek", 0); }, 0, {IsNt, NotAdmin, SlLoaded, SlCannot}},
        {"9x, deletion", win9x, Worm, nullptr, nullptr, 1, {IsNotNt, WillExecute}},
        {"9x, rename to a missing file", win9x, Worm, Target, nullptr, 1,
         {IsNotNt, FileExistLine(Target, false), WillExecute}},
        {"9x, no short name", [](sim::Workstation& ws) { ws.Win9x(); }, Worm, nullptr, nullptr, 0,
         {IsNotNt, NoShortPath}},
        {"9x, WININIT.INI cannot be written",
         [](sim::Workstation& ws) {
             WithWorm(ws);
             ws.Win9x().File(Wininit, "[rename]\r\n", FILE_ATTRIBUTE_READONLY);
         },
         Worm, nullptr, nullptr, 0, {IsNotNt, CannotExecute}},
    };
    for (const Call& c : calls) CheckCall(c);
}

TEST(RebootRename, AdministratorsDeletionHappensAtTheNextBoot) {
    sim::Workstation ws;
    WithWorm(ws);
    std::string log;
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(AddFileToAutomaticRenameList(Worm, nullptr), 1); });
    ASSERT_EQ(ws.pendingMoves.size(), 1u);
    EXPECT_EQ(ws.pendingMoves[0].from, Worm);
    EXPECT_EQ(ws.pendingMoves[0].to, "");
    EXPECT_TRUE(ws.pendingMoves[0].replace);
    EXPECT_TRUE(ws.Exists(Worm));
    ws.Reboot();
    EXPECT_FALSE(ws.Exists(Worm));
    EXPECT_TRUE(ws.pendingMoves.empty());
}

TEST(RebootRename, AdministratorsRenameReplacesTheTargetAtTheNextBoot) {
    sim::Workstation ws;
    WithWorm(ws);
    ws.File(Target, "old target");
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(AddFileToAutomaticRenameList(Worm, Target), 1); });
    ws.Reboot();
    EXPECT_FALSE(ws.Exists(Worm));
    EXPECT_EQ(ws.Read(Target), "worm bytes");
}

TEST(RebootRename, UsersDeletionDoesNotAskTheService) {
    sim::Workstation ws;
    WithWorm(ws);
    WithSentrel(ws);
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(AddFileToAutomaticRenameList(Worm, nullptr), 0); });
    EXPECT_EQ(ws.Calls("OpenSCManagerA"), 0);
    EXPECT_EQ(ws.Calls("OpenServiceA"), 0);
    EXPECT_FALSE(ws.Exists(RequestPath));
    ws.Reboot();
    EXPECT_TRUE(ws.Exists(Worm));
}

TEST(RebootRename, UsersRenameIsDoneByTheServiceAtTheNextBoot) {
    sim::Workstation ws;
    WithWorm(ws);
    WithSentrel(ws);
    ws.File(Target, "old target");
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(AddFileToAutomaticRenameList(Worm, Target), 1); });
    EXPECT_EQ(ws.Calls("MoveFileExA"), 0);
    EXPECT_TRUE(ws.Exists(RequestPath));
    EXPECT_EQ(ws.Read(Target), "old target");
    ws.Reboot();
    EXPECT_FALSE(ws.Exists(Worm));
    EXPECT_EQ(ws.Read(Target), "worm bytes");
    // Carried out once: the service does not leave the file for the boot after.
    EXPECT_FALSE(ws.Exists(RequestPath));
}

TEST(RebootRename, TwoServiceRequestsKeepOnlyTheSecond) {
    sim::Workstation ws;
    WithSentrel(ws);
    ws.File("C:\\Data\\first.exe", "first").File("C:\\Data\\second.exe", "second");
    RunLogged(ws, TraceInfo, [&] {
        EXPECT_EQ(AddFileToAutomaticRenameList("C:\\Data\\first.exe", "C:\\Data\\first.new"), 1);
        EXPECT_EQ(AddFileToAutomaticRenameList("C:\\Data\\second.exe", "C:\\Data\\second.new"), 1);
    });
    ws.Reboot();
    EXPECT_EQ(ws.Read("C:\\Data\\first.exe"), "first");
    EXPECT_FALSE(ws.Exists("C:\\Data\\first.new"));
    EXPECT_FALSE(ws.Exists("C:\\Data\\second.exe"));
    EXPECT_EQ(ws.Read("C:\\Data\\second.new"), "second");
}

TEST(RebootRename, ServiceIgnoresAnInvalidRequestFile) {
    sim::Workstation ws;
    WithWorm(ws);
    WithSentrel(ws);
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(AddFileToAutomaticRenameList(Worm, Target), 1); });
    sim::FileNode* request = ws.Find(RequestPath);
    ASSERT_NE(request, nullptr);
    request->data[20] ^= 0x01;  // the checksum no longer matches
    std::vector<uint8_t> corrupted = request->data;
    ws.Reboot();
    EXPECT_EQ(ws.Read(Worm), "worm bytes");
    EXPECT_FALSE(ws.Exists(Target));
    EXPECT_EQ(ws.Find(RequestPath)->data, corrupted);
}

TEST(RebootRename, ServiceActsOnlyWhereItIsInstalled) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> beforeBoot;
        bool renamed;
    } cases[] = {
        {"installed and stopped now: it starts at boot",
         [](sim::Workstation& ws) { ws.services["Veltrane Sentrel"] = SERVICE_STOPPED; }, true},
        {"uninstalled before the boot", [](sim::Workstation& ws) { ws.services.clear(); }, false},
    };
    for (const Case& c : cases) {
        sim::Workstation ws;
        WithWorm(ws);
        WithSentrel(ws);
        RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(AddFileToAutomaticRenameList(Worm, Target), 1); });
        c.beforeBoot(ws);
        ws.Reboot();
        EXPECT_EQ(ws.Exists(Target), c.renamed) << c.name;
        EXPECT_EQ(ws.Exists(Worm), !c.renamed) << c.name;
    }
}

TEST(RebootRename, Win9xStartsWininitWithTheRenameSection) {
    sim::Workstation ws;
    WithWorm(ws);
    ws.Win9x();
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(AddFileToAutomaticRenameList(Worm, nullptr), 1); });
    EXPECT_EQ(ws.Read(Wininit), "[rename]\r\nnul=" + std::string(WormShort));
    ws.Reboot();
    EXPECT_FALSE(ws.Exists(Worm));
    EXPECT_FALSE(ws.Exists(Wininit));
    EXPECT_EQ(ws.Read(WininitBak), "[rename]\r\nnul=" + std::string(WormShort));
}

TEST(RebootRename, Win9xAppendsToTheRenameSectionAndKeepsTheRest) {
    sim::Workstation ws;
    WithWorm(ws);
    ws.Win9x();
    ws.File("C:\\OLD1.EXE", "old").File("C:\\TEMP\\NEW.DLL", "new dll").File("C:\\NEW.DLL", "old dll");
    ws.File(Wininit,
            "; set up by an installer\r\n[boot]\r\nshell=Explorer.exe\r\n[rename]\r\nnul=C:\\OLD1.EXE\r\n"
            "C:\\NEW.DLL=C:\\TEMP\\NEW.DLL\r\n[other]\r\nx = 1\r\n");
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(AddFileToAutomaticRenameList(Worm, nullptr), 1); });
    EXPECT_EQ(ws.Read(Wininit),
              "; set up by an installer\r\n[boot]\r\nshell=Explorer.exe\r\n[rename]\r\nnul=C:\\OLD1.EXE\r\n"
              "C:\\NEW.DLL=C:\\TEMP\\NEW.DLL\r\nnul=" +
                  std::string(WormShort) + "\r\n[other]\r\nx = 1");
    ws.Reboot();
    EXPECT_FALSE(ws.Exists("C:\\OLD1.EXE"));
    EXPECT_FALSE(ws.Exists(Worm));
    EXPECT_FALSE(ws.Exists("C:\\TEMP\\NEW.DLL"));
    EXPECT_EQ(ws.Read("C:\\NEW.DLL"), "new dll");
    EXPECT_FALSE(ws.Exists(Wininit));
    EXPECT_TRUE(ws.Exists(WininitBak));
}

TEST(RebootRename, Win9xRenameToAMissingFileMakesAPlaceholder) {
    sim::Workstation ws;
    WithWorm(ws);
    ws.Win9x();
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(AddFileToAutomaticRenameList(Worm, Target), 1); });
    EXPECT_EQ(ws.Read(Target), "Delete me!");
    EXPECT_EQ(ws.Read(Wininit), "[rename]\r\n" + std::string(TargetShort) + "=" + WormShort);
    ws.Reboot();
    EXPECT_FALSE(ws.Exists(Worm));
    // The start-up knows only the short names: the file now bears the 8.3
    // name, and the placeholder's long name went with the placeholder.
    EXPECT_EQ(ws.Read(TargetShort), "worm bytes");
    EXPECT_EQ(ws.Find(TargetShort)->name, "RENAME~1.EXE");
    EXPECT_FALSE(ws.Exists(Target));
}

TEST(RebootRename, Win9xNoShortNameWritesNothing) {
    sim::Workstation ws;
    ws.Win9x().Dir("C:\\Program Files\\Kurrel Dir");
    ws.File(Wininit, "[rename]\r\nnul=C:\\OLD.EXE");
    RunLogged(ws, TraceInfo, [&] {
        // The target's placeholder is made before its short name is asked for.
        EXPECT_EQ(AddFileToAutomaticRenameList("C:\\Data\\missing.exe", Target), 0);
    });
    EXPECT_EQ(ws.Read(Wininit), "[rename]\r\nnul=C:\\OLD.EXE");
    EXPECT_EQ(ws.Read(Target), "Delete me!");
}

TEST(RebootRename, Win9xUnreadableWininitIsNeverOverwritten) {
    const std::string earlier = "[rename]\r\nnul=C:\\OLD.EXE\r\n";
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> build;
        std::function<void(sim::Workstation&)> faults;
    } cases[] = {
        // Held by a program that lets others write but not read.
        {"held against reading", [](sim::Workstation& ws) { ws.Hold(Wininit, FILE_SHARE_WRITE); }, nullptr},
        {"opening for reading fails", nullptr,
         [](sim::Workstation& ws) { ws.FailCall("CrtFopen", ERROR_SHARING_VIOLATION); }},
    };
    for (const Case& c : cases) {
        for (int maxLevel : {TraceInfo, TraceError}) {
            sim::Workstation ws;
            WithWorm(ws);
            ws.Win9x().File(Wininit, earlier);
            if (c.build) c.build(ws);
            int result = -1;
            std::string log = RunLogged(ws, maxLevel, [&] {
                if (c.faults) c.faults(ws);
                result = AddFileToAutomaticRenameList(Worm, nullptr);
            });
            EXPECT_EQ(result, 0) << c.name;
            EXPECT_EQ(log, LogText({IsNotNt, CannotExecute}, maxLevel)) << c.name;
            EXPECT_EQ(ws.Read(Wininit), earlier) << c.name;
        }
    }
}

TEST(RebootRename, Win9xWindowsFolderTooLongForTheName) {
    sim::Workstation ws;
    WithWorm(ws);
    std::string folder = "C:\\" + std::string(120, 'w') + "\\" + std::string(126, 'x');
    ws.Win9x().WindowsDirectory(folder);
    std::string log = RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(AddFileToAutomaticRenameList(Worm, nullptr), 0); });
    EXPECT_EQ(log, LogText({IsNotNt, CannotExecute}, TraceInfo));
    EXPECT_FALSE(ws.Exists(folder + "\\WININIT.INI"));
}

TEST(RebootRename, BootReleasesWhatHelperProcessesHeld) {
    sim::Workstation ws;
    WithWorm(ws);
    sim::Process helper;
    helper.pid = 300;
    helper.exePath = "C:\\Tools\\helper.exe";
    ws.File(helper.exePath, "helper").AddProcess(helper);
    ws.Reboot();
    EXPECT_FALSE(ws.Find(Worm)->held);
    EXPECT_TRUE(ws.processes.empty());
    EXPECT_EQ(DeleteFileA(helper.exePath.c_str()), TRUE);
    EXPECT_EQ(DeleteFileA(Worm), TRUE);
    EXPECT_EQ(ws.bootCount, 1);
}

TEST(RebootRename, BootCarriesOutThePendingMovesInOrder) {
    sim::Workstation ws;
    ws.File("C:\\a.txt", "a").File("C:\\b.txt", "b").File("C:\\c.txt", "c").File("C:\\ro.txt", "r",
                                                                                   FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(MoveFileExA("C:\\b.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA("C:\\a.txt", "C:\\b.txt", MOVEFILE_DELAY_UNTIL_REBOOT));
    // Without the replace flag an existing target stays.
    ASSERT_TRUE(MoveFileExA("C:\\c.txt", "C:\\b.txt", MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA("C:\\ro.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    // The source is not looked at until the boot.
    ASSERT_TRUE(MoveFileExA("C:\\none.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ws.Reboot();
    EXPECT_FALSE(ws.Exists("C:\\a.txt"));
    EXPECT_EQ(ws.Read("C:\\b.txt"), "a");
    EXPECT_EQ(ws.Read("C:\\c.txt"), "c");
    // Wine's boot leaves a read-only file where it is.
    EXPECT_EQ(ws.Read("C:\\ro.txt"), "r");
}

TEST(RebootRename, MoveFileExRefusals) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> build;
        DWORD flags;
        const char* newPath;
        DWORD error;
    } cases[] = {
        {"not an administrator", [](sim::Workstation& ws) { ws.Admin(false); }, MOVEFILE_DELAY_UNTIL_REBOOT,
         nullptr, ERROR_ACCESS_DENIED},
        {"Windows 9x", [](sim::Workstation& ws) { ws.Win9x(); }, MOVEFILE_DELAY_UNTIL_REBOOT, nullptr,
         ERROR_CALL_NOT_IMPLEMENTED},
        {"delay with copy", [](sim::Workstation&) {}, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED,
         "C:\\b.txt", ERROR_INVALID_PARAMETER},
        {"now, no target", [](sim::Workstation&) {}, 0, nullptr, ERROR_INVALID_PARAMETER},
        {"now, target exists", [](sim::Workstation&) {}, 0, "C:\\b.txt", ERROR_ALREADY_EXISTS},
        {"now, source in use",
         [](sim::Workstation& ws) { ws.Hold("C:\\a.txt", FILE_SHARE_READ); }, MOVEFILE_REPLACE_EXISTING,
         "C:\\b.txt", ERROR_SHARING_VIOLATION},
    };
    for (const Case& c : cases) {
        sim::Workstation ws;
        ws.File("C:\\a.txt", "a").File("C:\\b.txt", "b");
        c.build(ws);
        EXPECT_EQ(MoveFileExA("C:\\a.txt", c.newPath, c.flags), FALSE) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
        EXPECT_TRUE(ws.pendingMoves.empty()) << c.name;
        EXPECT_EQ(ws.Read("C:\\a.txt"), "a") << c.name;
    }
}

TEST(RebootRename, MoveFileExNowReplacesWithTheFlag) {
    sim::Workstation ws;
    ws.File("C:\\a.txt", "a").File("C:\\b.txt", "b");
    EXPECT_EQ(MoveFileExA("C:\\a.txt", "C:\\b.txt", MOVEFILE_REPLACE_EXISTING), TRUE);
    EXPECT_FALSE(ws.Exists("C:\\a.txt"));
    EXPECT_EQ(ws.Read("C:\\b.txt"), "a");
    EXPECT_TRUE(ws.pendingMoves.empty());
}

TEST(RebootRename, Win9xBootUsesTheFirstRenameSectionOnly) {
    sim::Workstation ws;
    ws.Win9x();
    ws.File("C:\\A.TXT", "a").File("C:\\B.TXT", "b").File("C:\\C.TXT", "c").File("C:\\D.TXT", "d");
    ws.File(Wininit,
            "[Rename]\r\n  NUL = C:\\A.TXT  \r\n; a comment=C:\\B.TXT\r\nC:\\E.TXT=C:\\B.TXT\r\n[other]\r\n"
            "nul=C:\\C.TXT\r\n[rename]\r\nnul=C:\\D.TXT\r\n");
    ws.File(WininitBak, "an older one");
    ws.Reboot();
    EXPECT_FALSE(ws.Exists("C:\\A.TXT"));
    EXPECT_EQ(ws.Read("C:\\E.TXT"), "b");
    EXPECT_TRUE(ws.Exists("C:\\C.TXT"));
    EXPECT_TRUE(ws.Exists("C:\\D.TXT"));
    EXPECT_FALSE(ws.Exists(Wininit));
    EXPECT_EQ(ws.Read(WininitBak).substr(0, 8), "[Rename]");
}
