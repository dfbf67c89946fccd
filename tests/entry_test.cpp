// Whole runs of the tool as a user starts it: the command line, the boxes,
// the administrator gate, the Ctrl+C guard, the closing message, the exit
// code and where the log goes.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "tests/test_support.h"

namespace {

const std::string VersionLine = "Kurrelfix v1.00.5\n";
const std::string StopLine = "you should not stop Kurrelfix!\n";
const std::string MainCaption = "Veltrane Kurrel Worm Removal Tool";
const std::string ConfirmText =
    "Please close all running applications and press OK to remove Kurrel worm from your "
    "system.  Note: It is highly recommended to disconnect your computer from a network while "
    "disinfecting Kurrel.";

std::string ExitLine(int code) { return "Kurrelfix tool exit code: " + std::to_string(code) + "\n"; }

// The log's bytes on disk: CR LF line ends.
std::string OnDisk(std::string text) {
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
        text.insert(at, "\r");
    }
    return text;
}

bool StartsWith(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

void ExpectConfirmationBox(const sim::MessageBoxShown& box) {
    EXPECT_EQ(box.text, ConfirmText);
    EXPECT_EQ(box.caption, MainCaption);
    EXPECT_EQ(box.style, 0x41u);
    EXPECT_TRUE(box.ownerless);
}

TEST(Entry, SilentSwitchIsMatchedWholeInAnyCase) {
    struct Case {
        std::vector<std::string> arguments;
        bool silent;
    };
    const Case cases[] = {
        {{"/SILENT"}, true},          {{"/silent"}, true},      {{"/SiLeNt"}, true},
        {{"other", "/Silent"}, true}, {{"/VERX", "/SILENT"}, true},
        {{}, false},                  {{"/SILENTX"}, false},    {{"-SILENT"}, false},
        {{"SILENT"}, false},          {{"/SILEN"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments.back());
        sim::Workstation ws;
        RunResult run = RunKurrelfix(c.arguments);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(StartsWith(run.console, VersionLine));
        EXPECT_TRUE(EndsWith(run.console, ExitLine(0)));
        EXPECT_TRUE(EndsWith(ws.Read(TestLogPath), OnDisk(ExitLine(0))));
        if (c.silent) {
            EXPECT_TRUE(ws.boxesShown.empty());
        } else {
            ASSERT_EQ(ws.boxesShown.size(), 2u);  // confirmation, then the closing box
            ExpectConfirmationBox(ws.boxesShown[0]);
        }
    }
}

TEST(Entry, VersionSwitchPrintsVersionAndExitsWithoutLog) {
    const std::vector<std::vector<std::string>> cases = {
        {"/VER"}, {"/ver"}, {"/Ver"}, {"/SILENT", "/VER"}, {"/VER", "/SILENT"}, {"/silent", "/ver"},
        {"x", "/vEr", "y"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.front() + (arguments.size() > 1 ? " " + arguments[1] : ""));
        sim::Workstation ws;
        RunResult run = RunKurrelfix(arguments);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.console, VersionLine);
        EXPECT_FALSE(ws.Exists(TestLogPath));
        EXPECT_EQ(ws.Calls("CrtFopen"), 0);
        EXPECT_EQ(ws.DebugOutput(), "");
        EXPECT_TRUE(ws.boxesShown.empty());
    }
}

TEST(Entry, CancelInConfirmationEndsWithoutLog) {
    sim::Workstation ws;
    ws.AnswerBoxes({IDCANCEL});
    RunResult run = RunKurrelfix({});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.console, "");
    EXPECT_FALSE(ws.Exists(TestLogPath));
    EXPECT_EQ(ws.DebugOutput(), "");
    ASSERT_EQ(ws.boxesShown.size(), 1u);
    ExpectConfirmationBox(ws.boxesShown[0]);
}

TEST(Entry, NonAdministratorOnNtStopsAfterVersionLine) {
    for (bool silent : {true, false}) {
        SCOPED_TRACE(silent ? "silent" : "interactive");
        sim::Workstation ws;
        ws.Nt().Admin(false);
        RunResult run = RunKurrelfix(silent ? std::vector<std::string>{"/SILENT"}
                                            : std::vector<std::string>{});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.console, VersionLine);
        EXPECT_EQ(ws.Read(TestLogPath), OnDisk(VersionLine));
        if (silent) {
            EXPECT_TRUE(ws.boxesShown.empty());
            continue;
        }
        ASSERT_EQ(ws.boxesShown.size(), 2u);
        ExpectConfirmationBox(ws.boxesShown[0]);
        const sim::MessageBoxShown& box = ws.boxesShown[1];
        EXPECT_EQ(box.text,
                  "Please log on to this workstation with administrator rights and run the tool again.");
        EXPECT_EQ(box.caption, "Veltrane Kurrel Removal Tool");
        EXPECT_EQ(box.style, 0x30u);
        EXPECT_TRUE(box.ownerless);
    }
}

TEST(Entry, Windows9xHasNoAdministratorGate) {
    for (bool silent : {true, false}) {
        SCOPED_TRACE(silent ? "silent" : "interactive");
        sim::Workstation ws;
        ws.Win9x().Admin(false);
        RunResult run = RunKurrelfix(silent ? std::vector<std::string>{"/SILENT"}
                                            : std::vector<std::string>{});
        EXPECT_EQ(run.exitCode, 0);
        std::string log = ws.Read(TestLogPath);
        EXPECT_TRUE(StartsWith(log, OnDisk(VersionLine + "[VTSU - Disinfect_Kurrel]\n")));
        EXPECT_TRUE(EndsWith(log, OnDisk(ExitLine(0))));
        EXPECT_TRUE(EndsWith(run.console, ExitLine(0)));
        EXPECT_EQ(ws.boxesShown.size(), silent ? 0u : 2u);
        for (const sim::MessageBoxShown& box : ws.boxesShown) EXPECT_EQ(box.caption, MainCaption);
    }
}

// The stages report through the outcome operations; here the outcome is
// set the moment the stages are done (when the guard comes off), so the
// test is about what the entry point makes of it.
TEST(Entry, ClosingBoxAndExitCodeFollowTheOutcome) {
    struct Case {
        InfectionState state;
        int failures;
        int code;
        const char* text;
    };
    const char* const errorsText =
        "Kurrel removal complete.  Some errors occurred during the removal process, see "
        "KURRELFIX.LOG in Windows directory for details.\n\nPress OK to restart your computer "
        "now.\n\n";
    const Case cases[] = {
        {0, 0, 0, "Kurrel worm was not found in this computer.\n\nPress OK to exit."},
        {1, 0, 1, "Kurrel removal complete.\n\n"},
        {2, 0, 2, "Workstation is infected\nKurrel cannot be removed!\n\n"},
        {2, 1, 3, errorsText},
        {1, 2, 3, errorsText},
        {0, 1, 3, errorsText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("state " + std::to_string(c.state) + ", failures " + std::to_string(c.failures));
        sim::Workstation ws;
        ws.OnCall("SetConsoleCtrlHandler", 2, [&] {
            SetInfectionState(c.state);
            for (int i = 0; i < c.failures; ++i) CountFailure();
        });
        std::string logAtClosingBox;
        ws.OnCall("MessageBoxA", 2, [&] { logAtClosingBox = ws.Read(TestLogPath); });
        RunResult run = RunKurrelfix({});
        EXPECT_EQ(run.exitCode, c.code);
        ASSERT_EQ(ws.boxesShown.size(), 2u);
        const sim::MessageBoxShown& box = ws.boxesShown[1];
        EXPECT_EQ(box.text, c.text);
        EXPECT_EQ(box.caption, MainCaption);
        EXPECT_EQ(box.style, 0x40u);
        EXPECT_TRUE(box.ownerless);
        // The exit-code line comes only once the closing box is dismissed.
        EXPECT_TRUE(StartsWith(logAtClosingBox, OnDisk(VersionLine + "[VTSU - Disinfect_Kurrel]\n")));
        EXPECT_EQ(Count(logAtClosingBox, "exit code"), 0);
        EXPECT_TRUE(EndsWith(ws.Read(TestLogPath), OnDisk(ExitLine(c.code))));
        EXPECT_TRUE(EndsWith(run.console, ExitLine(c.code)));
    }
}

TEST(Entry, StopEventsWhileCleaningAreRefused) {
    for (DWORD event : {CTRL_C_EVENT, CTRL_BREAK_EVENT}) {
        SCOPED_TRACE("event " + std::to_string(event));
        sim::Workstation ws;
        // The second log write is the stage sequence's first line.
        size_t handlersAtEvent = 0;
        ws.OnCall("CrtWrite", 2, [&] {
            handlersAtEvent = ws.ctrlHandlers.size();
            ws.RaiseCtrlEvent(event);
        });
        RunResult run = RunKurrelfix({"/SILENT"});
        EXPECT_EQ(handlersAtEvent, 1u);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(Count(run.console, StopLine), 1);
        EXPECT_LT(run.console.find(StopLine), run.console.find(ExitLine(0)));
        EXPECT_TRUE(EndsWith(run.console, ExitLine(0)));
        std::string log = ws.Read(TestLogPath);
        EXPECT_TRUE(EndsWith(log, OnDisk(ExitLine(0))));
        EXPECT_EQ(Count(log, "stop"), 0);  // the handler writes nothing to the log
    }
}

TEST(Entry, NoStopHandlerOutsideTheCleaning) {
    struct Moment {
        const char* function;
        int atCall;
    };
    const Moment moments[] = {
        {"MessageBoxA", 1},            // confirmation box
        {"SetConsoleCtrlHandler", 1},  // just before the guard goes up
        {"MessageBoxA", 2},            // closing box
    };
    for (const Moment& m : moments) {
        SCOPED_TRACE(std::string(m.function) + " #" + std::to_string(m.atCall));
        sim::Workstation ws;
        bool looked = false;
        ws.OnCall(m.function, m.atCall, [&] {
            looked = true;
            EXPECT_TRUE(ws.ctrlHandlers.empty());
            // Nothing handles the event: the system's default ends the process.
            EXPECT_THROW(ws.RaiseCtrlEvent(CTRL_C_EVENT), std::runtime_error);
        });
        RunResult run = RunKurrelfix({});
        EXPECT_TRUE(looked);
        EXPECT_EQ(Count(run.console, StopLine), 0);
        EXPECT_TRUE(ws.ctrlHandlers.empty());
        EXPECT_EQ(ws.Calls("SetConsoleCtrlHandler"), 2);
    }
}

TEST(Entry, EachRunAppendsToTheLogWithCrLf) {
    sim::Workstation ws;
    RunKurrelfix({"/SILENT"});
    std::string first = ws.Read(TestLogPath);
    RunKurrelfix({"/SILENT"});
    std::string both = ws.Read(TestLogPath);
    EXPECT_TRUE(StartsWith(first, VersionText() + "\r\n[VTSU - Disinfect_Kurrel]\r\n"));
    EXPECT_TRUE(EndsWith(first, "Kurrelfix tool exit code: 0\r\n"));
    EXPECT_EQ(both, first + first);
    EXPECT_EQ(Count(both, "\n"), Count(both, "\r\n"));
    EXPECT_EQ(Count(both, VersionText() + "\r\n"), 2);
}

TEST(Entry, LogFileFollowsTheWindowsDirectory) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> setUp;
        std::string logPath;  // empty: no log file, the lines go to the debugger
        std::string noFileAt;
    };
    const std::string longest = "C:\\" + std::string(242, 'w');  // 245 + "\Kurrelfix.log" = 259
    const std::string tooLong = "C:\\" + std::string(243, 'w');
    const Case cases[] = {
        {"C:\\WINDOWS", [](sim::Workstation&) {}, "C:\\WINDOWS\\Kurrelfix.log", ""},
        {"drive root", [](sim::Workstation& ws) { ws.WindowsDirectory("C:\\"); },
         "C:\\Kurrelfix.log", ""},
        {"longest that fits", [&](sim::Workstation& ws) { ws.WindowsDirectory(longest); },
         longest + "\\Kurrelfix.log", ""},
        {"too long", [&](sim::Workstation& ws) { ws.WindowsDirectory(tooLong); }, "",
         tooLong + "\\Kurrelfix.log"},
        {"query fails",
         [](sim::Workstation& ws) {
             ws.AddDrive('D', DRIVE_FIXED).CurrentDirectory("D:\\Work");
             ws.FailCall("GetWindowsDirectoryA", ERROR_INVALID_PARAMETER);
         },
         "D:\\Kurrelfix.log", "C:\\WINDOWS\\Kurrelfix.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        c.setUp(ws);
        RunResult run = RunKurrelfix({"/SILENT"});
        EXPECT_EQ(run.exitCode, 0);
        if (!c.noFileAt.empty()) {
            EXPECT_FALSE(ws.Exists(c.noFileAt));
        }
        if (c.logPath.empty()) {
            EXPECT_TRUE(StartsWith(ws.DebugOutput(), VersionLine));
            EXPECT_TRUE(EndsWith(ws.DebugOutput(), ExitLine(0)));
        } else {
            EXPECT_TRUE(StartsWith(ws.Read(c.logPath), OnDisk(VersionLine)));
            EXPECT_TRUE(EndsWith(ws.Read(c.logPath), OnDisk(ExitLine(0))));
            EXPECT_EQ(ws.DebugOutput(), "");
        }
        EXPECT_TRUE(EndsWith(run.console, ExitLine(0)));
    }
}

// On NT the whole run appends to the log only when it is the tool's own: a
// name planted in its place is set aside, never written through, and the new
// log says so on its second line, at level 1.
TEST(Entry, TheLogIsAppendedToOnlyWhenItIsTheToolsOwnOnNt) {
    const char* const batch = "C:\\Users\\ann\\task.bat";
    const std::string batchText = "@echo off\r\nrem run by the administrator's task every night\r\n";
    sim::ObjectSecurity plainUsers;
    plainUsers.owner = sim::PlainUserSid;
    plainUsers.dacl = {{sim::PlainUserSid, GENERIC_ALL, 0, 0}};
    sim::ObjectSecurity everyoneWrites = sim::Workstation::DefaultFileSecurity();
    everyoneWrites.dacl.push_back({sim::EveryoneSid, 0x0002, 0, 0});
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> plant;
        const char* asideAs;  // nullptr: the old log is the tool's and is appended to
        const char* why;
    };
    const Case cases[] = {
        {"the log of an earlier run", [](sim::Workstation&) {}, nullptr, nullptr},
        {"a hard link to an administrator's batch file",
         [&](sim::Workstation& ws) { ws.File(batch, batchText).HardLink(TestLogPath, batch); },
         "C:\\WINDOWS\\Kurrelfix.log.linked", "it has more than one name (a hard link)"},
        {"a hard link, beside a log set aside before",
         [&](sim::Workstation& ws) {
             ws.File(batch, batchText).HardLink(TestLogPath, batch);
             ws.File("C:\\WINDOWS\\Kurrelfix.log.linked", "set aside by an earlier run\r\n");
         },
         "C:\\WINDOWS\\Kurrelfix.log.linked1", "it has more than one name (a hard link)"},
        {"owned by a plain user",
         [&](sim::Workstation& ws) { ws.Security(TestLogPath, plainUsers); },
         "C:\\WINDOWS\\Kurrelfix.log.untrusted", "owned by another account"},
        {"writable by everyone",
         [&](sim::Workstation& ws) { ws.Security(TestLogPath, everyoneWrites); },
         "C:\\WINDOWS\\Kurrelfix.log.untrusted", "others may change it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.Nt().Dir("C:\\Users\\ann");
        if (std::string(c.name).find("hard link") == std::string::npos) ws.File(TestLogPath, "an older line\r\n");
        c.plant(ws);
        const std::string before = ws.Read(TestLogPath);

        RunResult run = RunKurrelfix({"/SILENT"});

        EXPECT_EQ(run.exitCode, 0);
        std::vector<std::string> log = Lines(ws.Read(TestLogPath), "\r\n");
        ASSERT_GE(log.size(), 3u);
        if (!c.asideAs) {
            EXPECT_EQ(log[0], "an older line") << "appended to";
            EXPECT_EQ(log[1], VersionText());
            continue;
        }
        EXPECT_EQ(log[0], VersionText());
        EXPECT_EQ(log[1], std::string("Log file ") + TestLogPath + " was not the tool's own (" + c.why +
                              "): set aside as " + c.asideAs + ", a new log is started");
        EXPECT_EQ(ws.Read(c.asideAs), before) << "set aside as it was";
        EXPECT_EQ(ws.Read(batch), ws.Exists(batch) ? batchText : "") << "nothing written through the link";
        const sim::FileNode* made = ws.Find(TestLogPath);
        ASSERT_NE(made, nullptr);
        EXPECT_TRUE(made->otherNames.empty() && !made->sameFile);
        EXPECT_EQ(made->security.owner, sim::AdministratorsSid) << "the next run keeps it";

        // The next run appends to the log this one made.
        EXPECT_EQ(RunKurrelfix({"/SILENT"}).exitCode, 0);
        log = Lines(ws.Read(TestLogPath), "\r\n");
        EXPECT_EQ(CountOf(log, VersionText()), 2);
        EXPECT_EQ(CountOf(log, "Log file "), 1) << "kept, not set aside again";
    }
}

}  // namespace
