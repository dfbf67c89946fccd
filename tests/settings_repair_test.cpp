// The shell command repair with its fifteen-second look, the win.ini clean-up,
// and the profile functions of the simulated workstation that it relies on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "cleanup/settings_repair.h"
#include "samples/worm_sample.h"
#include "sim/workstation.h"
#include "tests/test_support.h"
#include "tests/workstations.h"
#include "trace/trace_log.h"

namespace {

const char* const kShellKey = "exefile\\shell\\open\\command";
const std::string kRight = "\"%1\" %*";
const std::string kWorm = "C:\\WINDOWS\\SYSTEM32\\kurrel.exe \"%1\" %*";
const std::string kWait = "Wait 15 sec and re-check shell key ... ";
// A plain user's classes, where the worm running as that user writes its command.
const std::string kUserClasses = std::string(sim::PlainUserSid) + "_Classes";
const std::string kUserShellKey = kUserClasses + "\\" + kShellKey;
const std::string kUserShellLine = "HKEY_USERS\\" + kUserShellKey;

struct StageRun {
    int result = -1;
    std::string console;
    std::string log;
};

// Runs one stage as the run would at that point: a fresh process whose
// earlier stages left this infection state and failure count, with the log open.
StageRun RunStage(sim::Workstation& ws, InfectionState state, int failures,
                  const std::function<int()>& stage) {
    StartFreshProcess();
    SetInfectionState(state);
    for (int i = 0; i < failures; ++i) CountFailure();
    SetLogFile(TestLogPath, "a+");
    StageRun run;
    {
        ConsoleCapture console;
        run.result = stage();
        run.console = console.Text();
    }
    EndProcess();
    run.log = ws.Read(TestLogPath);
    EXPECT_EQ(ws.OpenHandles(sim::HandleKind::Key), 0);
    return run;
}

StageRun RunRestore(sim::Workstation& ws, InfectionState state = InfectionPresent, int failures = 0) {
    return RunStage(ws, state, failures, [] { return RestoreShellCommand(); });
}

StageRun RunCleanWinIni(sim::Workstation& ws, InfectionState state = InfectionCleaned) {
    return RunStage(ws, state, 0, [] {
        CleanWinIniRun();
        return 0;
    });
}

std::string Lines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) text += std::string(line) + "\r\n";
    return text;
}

// The command as the repair writes it: REG_SZ, the seven characters and the NUL.
void ExpectRepaired(sim::Workstation& ws) {
    const sim::RegValue* value = ws.FindValue(HKEY_CLASSES_ROOT, kShellKey, "");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(value->data.begin(), value->data.end()), kRight + std::string(1, '\0'));
}

}  // namespace

// ---- RestoreShellCommand -----------------------------------------------

// Only a run that found the worm touches the registry.
TEST(RestoreShellCommand, GateWhenTheWormWasNotFound) {
    struct Case {
        InfectionState state;
        int failures;
    };
    for (Case c : {Case{InfectionNotFound, 0}, Case{InfectionCleaned, 0}, Case{InfectionNotFound, 2}}) {
        SCOPED_TRACE("state " + std::to_string(c.state) + " failures " + std::to_string(c.failures));
        sim::Workstation ws;
        ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm);
        DWORD clock = ws.clockMs;
        StageRun run = RunRestore(ws, c.state, c.failures);
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(run.console, "Infection was not found, the shell key is not updated\n");
        EXPECT_EQ(run.log, "Infection was not found, the shell key is not updated\r\n");
        EXPECT_EQ(GetInfectionState(), c.state);
        EXPECT_EQ(ws.Calls("RegOpenKeyExA"), 0);
        EXPECT_EQ(ws.RegText(HKEY_CLASSES_ROOT, kShellKey, ""), kWorm);
        EXPECT_EQ(ws.clockMs, clock);
    }
}

// Failures counted by the sweeps do not stop the repair: the gate asks for
// the infection state alone.
TEST(RestoreShellCommand, RepairsAfterCountedFailures) {
    sim::Workstation ws;
    ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm);
    StageRun run = RunRestore(ws, InfectionPresent, 1);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(GetInfectionState(), InfectionCleaned);
    EXPECT_EQ(GetOutcomeCode(), 3);
    ExpectRepaired(ws);
}

// The machine as it was found decides the way through both looks.
TEST(RestoreShellCommand, ResultsTable) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> setUp;
        int result;
        InfectionState state;
        std::string console;
        std::string log;
        bool waited;
        std::string valueAfter;  // "" when the key is missing afterwards
        std::string userValueAfter = "";  // the plain user's command afterwards; not looked at when ""
        int failures = 0;
    };
    auto wrongValue = [](sim::Workstation& ws) { ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm); };
    // The machine's command is right; the worm, running as a plain user,
    // wrote its own into that user's classes.
    auto userWrong = [](sim::Workstation& ws) {
        ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kRight).RegString(HKEY_USERS, kUserShellKey, "", kWorm);
    };
    const Case cases[] = {
        {"key missing",
         [](sim::Workstation& ws) { ws.RegKeyOnly(HKEY_CLASSES_ROOT, "exefile\\shell\\open"); },
         0, InfectionPresent, "", "RegOpenKeyEx error 2\r\n", false, ""},
        {"key cannot be opened for writing",
         [&](sim::Workstation& ws) {
             wrongValue(ws);
             ws.FindKey(HKEY_CLASSES_ROOT, kShellKey)->denyWrite = true;
         },
         0, InfectionPresent, "", "RegOpenKeyEx error 5\r\n", false, kWorm},
        {"value already right",
         [](sim::Workstation& ws) { ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kRight); },
         1, InfectionCleaned, "Workstation is not infected!\n", "", false, kRight},
        {"right value of another string type (the type is not looked at)",
         [](sim::Workstation& ws) { ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kRight, REG_EXPAND_SZ); },
         1, InfectionCleaned, "Workstation is not infected!\n", "", false, kRight},
        {"repaired, right 15 seconds later", wrongValue, 1, InfectionCleaned,
         "Update shell key\n" + kWait + " Infection is cleaned!\n", "Infection is cleaned!\r\n", true, kRight},
        {"repair write failed, right 15 seconds later",
         [&](sim::Workstation& ws) {
             wrongValue(ws);
             ws.FailCall("RegSetValueExA", ERROR_ACCESS_DENIED);
             // Someone else puts the command right during the wait.
             ws.At(ws.clockMs + 5000, [&ws] { ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kRight); });
         },
         1, InfectionCleaned, "Update shell key\n" + kWait + " Infection is cleaned!\n",
         "RegSetValueEx error 5\r\nInfection is cleaned!\r\n", true, kRight},
        {"repair write failed, still wrong",
         [&](sim::Workstation& ws) {
             wrongValue(ws);
             ws.FailCall("RegSetValueExA", ERROR_ACCESS_DENIED);
         },
         0, InfectionPresent, "Update shell key\n" + kWait + " Infection is still avaliable!\n",
         "RegSetValueEx error 5\r\nInfection is still avaliable!\r\n", true, kWorm},
        {"the worm writes its command back 5 seconds into the wait",
         [&](sim::Workstation& ws) {
             wrongValue(ws);
             ws.At(ws.clockMs + 5000, [&ws] { ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm); });
         },
         0, InfectionPresent, "Update shell key\n" + kWait + " Infection is still avaliable!\n",
         "Infection is still avaliable!\r\n", true, kWorm},
        {"second open fails",
         [&](sim::Workstation& ws) {
             wrongValue(ws);
             ws.FailCall("RegOpenKeyExA", ERROR_ACCESS_DENIED, 1);
         },
         0, InfectionPresent, "Update shell key\n", "RegOpenKeyEx error 5\r\n", false, kRight},
        {"second read fails after a good repair",
         [&](sim::Workstation& ws) {
             wrongValue(ws);
             ws.FailCall("RegQueryValueExA", ERROR_ACCESS_DENIED, 1);
         },
         1, InfectionPresent, "Update shell key\n" + kWait, "RegQueryValueEx error 5\r\n", true, kRight},
        {"second read fails after a failed repair",
         [&](sim::Workstation& ws) {
             wrongValue(ws);
             ws.FailCall("RegSetValueExA", ERROR_ACCESS_DENIED);
             ws.FailCall("RegQueryValueExA", ERROR_ACCESS_DENIED, 1);
         },
         0, InfectionPresent, "Update shell key\n" + kWait,
         "RegSetValueEx error 5\r\nRegQueryValueEx error 5\r\n", true, kWorm},
        {"value missing",
         [](sim::Workstation& ws) { ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "other", "x"); },
         1, InfectionCleaned, "Update shell key\n" + kWait + " Infection is cleaned!\n",
         "Infection is cleaned!\r\n", true, kRight},
        {"first read fails",
         [&](sim::Workstation& ws) {
             ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kRight);
             ws.FailCall("RegQueryValueExA", ERROR_ACCESS_DENIED);
         },
         1, InfectionCleaned, "Update shell key\n" + kWait + " Infection is cleaned!\n",
         "Infection is cleaned!\r\n", true, kRight},
        {"a plain user's classes hold the worm's command", userWrong, 1, InfectionCleaned,
         "Update shell key\n" + kWait + " Infection is cleaned!\n",
         "Update shell key " + kUserShellLine + "\r\nInfection is cleaned!\r\n", true, kRight, kRight},
        {"the worm writes its command back into the user's classes during the wait",
         [&](sim::Workstation& ws) {
             userWrong(ws);
             ws.At(ws.clockMs + 5000, [&ws] { ws.RegString(HKEY_USERS, kUserShellKey, "", kWorm); });
         },
         0, InfectionPresent, "Update shell key\n" + kWait + " Infection is still avaliable!\n",
         "Update shell key " + kUserShellLine + "\r\nInfection is still avaliable! " + kUserShellLine +
             "\r\nInfection is still avaliable!\r\n",
         true, kRight, kWorm},
        {"a user's classes key that cannot be opened is no clean result",
         [&](sim::Workstation& ws) {
             userWrong(ws);
             ws.FindKey(HKEY_USERS, kUserShellKey)->denyWrite = true;
         },
         1, InfectionCleaned, "Workstation is not infected!\n", "RegOpenKeyEx error 5, " + kUserShellLine + "\r\n",
         false, kRight, kWorm, 1},
        {"a user's command that cannot be written stays infected",
         [&](sim::Workstation& ws) {
             userWrong(ws);
             ws.FailCall("RegSetValueExA", ERROR_ACCESS_DENIED);
         },
         0, InfectionPresent, "Update shell key\n" + kWait + " Infection is still avaliable!\n",
         "Update shell key " + kUserShellLine + "\r\nRegSetValueEx error 5, " + kUserShellLine +
             "\r\nInfection is still avaliable! " + kUserShellLine + "\r\nInfection is still avaliable!\r\n",
         true, kRight, kWorm, 1},
        {"a user without classes of their own, and the running account's own classes",
         [](sim::Workstation& ws) {
             ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kRight)
                 .RegKeyOnly(HKEY_USERS, kUserClasses)
                 .RegString(HKEY_USERS, std::string(sim::ToolUserSid) + "_Classes\\" + kShellKey, "", kRight);
         },
         1, InfectionCleaned, "Workstation is not infected!\n", "", false, kRight},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        c.setUp(ws);
        SetLastError(0);
        DWORD clock = ws.clockMs;
        StageRun run = RunRestore(ws);
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(GetInfectionState(), c.state);
        EXPECT_EQ(run.console, c.console);
        EXPECT_EQ(run.log, c.log);
        EXPECT_EQ(ws.clockMs - clock, c.waited ? 15000u : 0u);
        EXPECT_EQ(ws.Calls("Sleep"), c.waited ? 1 : 0);
        EXPECT_EQ(g_removalOutcome.failureCount, c.failures);
        if (!c.userValueAfter.empty()) {
            EXPECT_EQ(ws.RegText(HKEY_USERS, kUserShellKey, ""), c.userValueAfter);
        }
        if (c.valueAfter.empty()) {
            EXPECT_EQ(ws.FindKey(HKEY_CLASSES_ROOT, kShellKey), nullptr);  // never created
        } else {
            EXPECT_EQ(ws.RegText(HKEY_CLASSES_ROOT, kShellKey, ""), c.valueAfter);
        }
    }
}

// On 64-bit Windows XP and Vista the 64-bit shell reads the 64-bit view of
// the classes and the 32-bit tool is shown its own copy: the worm's command
// in either is found and put right, with one wait. Windows 7 and later share
// the key; Windows 2000 knows no views and refuses the flags.
TEST(RestoreShellCommand, BothRegistryViewsOn64BitWindows) {
    const std::string kKey32 = std::string("Wow6432Node\\") + kShellKey;
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> setUp;
        int result;
        InfectionState state;
        std::string console;
        std::string log;
        bool waited;
        std::string value64;  // the key the 64-bit shell reads
        std::string value32;  // the 32-bit copy; "" where there is none
    };
    auto views = [](const std::string& value64, const std::string& value32) {
        return [=](sim::Workstation& ws) {
            ws.Wow64();
            ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", value64);
            ws.RegString(HKEY_CLASSES_ROOT, std::string("Wow6432Node\\") + kShellKey, "", value32);
        };
    };
    const std::string repaired = "Update shell key\n" + kWait + " Infection is cleaned!\n";
    const std::string still = "Update shell key\n" + kWait + " Infection is still avaliable!\n";
    const Case cases[] = {
        {"the worm's command in the 64-bit view only", views(kWorm, kRight), 1, InfectionCleaned, repaired,
         "Infection is cleaned!\r\n", true, kRight, kRight},
        {"the worm's command in the 32-bit view only", views(kRight, kWorm), 1, InfectionCleaned, repaired,
         "Infection is cleaned!\r\n", true, kRight, kRight},
        {"the worm's command in both views", views(kWorm, kWorm), 1, InfectionCleaned, repaired,
         "Infection is cleaned!\r\n", true, kRight, kRight},
        {"both views right", views(kRight, kRight), 1, InfectionCleaned, "Workstation is not infected!\n", "",
         false, kRight, kRight},
        {"the worm writes the 64-bit view back during the wait",
         [&](sim::Workstation& ws) {
             views(kWorm, kWorm)(ws);
             ws.At(ws.clockMs + 5000, [&ws] { ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm); });
         },
         0, InfectionPresent, still, "Infection is still avaliable!\r\n", true, kWorm, kRight},
        {"the 64-bit view cannot be read again: the 32-bit view wrong again still decides",
         [&](sim::Workstation& ws) {
             views(kWorm, kWorm)(ws);
             ws.FailCall("RegQueryValueExA", ERROR_ACCESS_DENIED, 2);
             ws.At(ws.clockMs + 5000, [&ws, kKey32] { ws.RegString(HKEY_CLASSES_ROOT, kKey32, "", kWorm); });
         },
         0, InfectionPresent, still, "RegQueryValueEx error 5\r\nInfection is still avaliable!\r\n", true,
         kRight, kWorm},
        {"no 32-bit copy of the key (as Wine keeps it): the 64-bit view alone",
         [&](sim::Workstation& ws) { ws.Wow64().RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm); }, 1,
         InfectionCleaned, repaired,
         "The 32-bit view of the registry has no open command of its own\r\nInfection is cleaned!\r\n", true,
         kRight, ""},
        {"no 64-bit copy of the key is an error, as ever",
         [&](sim::Workstation& ws) {
             ws.Wow64().RegString(HKEY_CLASSES_ROOT, kKey32, "", kWorm);
         },
         0, InfectionPresent, "", "RegOpenKeyEx error 2\r\n", false, "", kWorm},
        {"Windows 7 and later: one shared key",
         [](sim::Workstation& ws) { ws.Wow64(true).RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm); }, 1,
         InfectionCleaned, repaired, "Infection is cleaned!\r\n", true, kRight, ""},
        {"Windows 2000: no view is named",
         [](sim::Workstation& ws) {
             ws.Nt().minorVersion = 0;
             ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm);
         },
         1, InfectionCleaned, repaired, "Infection is cleaned!\r\n", true, kRight, ""},
        {"64-bit Windows that cannot be told from 32-bit: the 32-bit view alone, and it counts",
         [&](sim::Workstation& ws) {
             views(kWorm, kWorm)(ws);
             ws.FailCall("IsWow64Process", ERROR_ACCESS_DENIED);
         },
         1, InfectionCleaned, repaired, "Cannot tell whether Windows is 64-bit, error=5\r\nInfection is cleaned!\r\n",
         true, kWorm, kRight},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        c.setUp(ws);
        DWORD clock = ws.clockMs;
        StageRun run = RunRestore(ws);
        EXPECT_EQ(run.result, c.result);
        EXPECT_EQ(GetInfectionState(), c.state);
        EXPECT_EQ(run.console, c.console);
        EXPECT_EQ(run.log, c.log);
        EXPECT_EQ(ws.clockMs - clock, c.waited ? 15000u : 0u);
        EXPECT_EQ(ws.RegText(HKEY_CLASSES_ROOT, kShellKey, ""), c.value64);
        EXPECT_EQ(ws.RegText(HKEY_CLASSES_ROOT, kKey32, ""), c.value32);
    }
}

// The registry functions leave the thread's last error alone, so the number
// in an error line is the code that the call returned, never a stale one.
TEST(RestoreShellCommand, ErrorLinesCarryTheReturnedCode) {
    sim::Workstation ws;
    ws.RegKeyOnly(HKEY_CLASSES_ROOT, "exefile");
    StartFreshProcess();
    SetInfectionState(InfectionPresent);
    SetLogFile(TestLogPath, "a+");
    SetLastError(1234);
    int result = 0;
    {
        ConsoleCapture console;
        result = RestoreShellCommand();
    }
    EndProcess();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(ws.Read(TestLogPath), "RegOpenKeyEx error 2\r\n");
}

// Values that only look like the command are wrong, and are rewritten.
TEST(RestoreShellCommand, WrongValuesAreRewritten) {
    const std::string longRight = kRight + std::string(1, '\0') + std::string(300, 'x');
    const std::vector<std::string> wrong = {
        kWorm,                 // a program in front of the quoted %1
        "%1 %*",               // %1 unquoted
        "\"%1\"  %*",          // a second blank
        "\"%1\" %* ",          // a blank at the end
        "\"%1\"",              // the arguments left out
        "\"%1\" %*\"%1\" %*",  // a longer value
        std::string(259, 'a'),  // the longest value that is read
        std::string(260, 'a'),  // too long to be read
        longRight,              // right up to its NUL, but too long to be read: not compared
        "",
    };
    for (const std::string& value : wrong) {
        SCOPED_TRACE("value of " + std::to_string(value.size()) + " bytes: " + value.substr(0, 40));
        sim::Workstation ws;
        ws.RegData(HKEY_CLASSES_ROOT, kShellKey, "", REG_SZ, std::vector<uint8_t>(value.begin(), value.end()));
        if (value != longRight) ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", value);
        StageRun run = RunRestore(ws);
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(run.console, "Update shell key\n" + kWait + " Infection is cleaned!\n");
        EXPECT_EQ(GetInfectionState(), InfectionCleaned);
        ExpectRepaired(ws);
    }
}

// The same text fits the buffer with its NUL, with garbage after the NUL, or
// with no NUL at all: each is the right command.
TEST(RestoreShellCommand, RightValuesOfAnyStoredShape) {
    const std::vector<std::string> right = {
        kRight + std::string(1, '\0'),
        kRight,  // stored without its NUL
        kRight + std::string(1, '\0') + std::string(252, 'x'),  // 260 bytes: just fits
    };
    for (const std::string& data : right) {
        SCOPED_TRACE(std::to_string(data.size()) + " bytes");
        sim::Workstation ws;
        ws.RegData(HKEY_CLASSES_ROOT, kShellKey, "", REG_SZ, std::vector<uint8_t>(data.begin(), data.end()));
        StageRun run = RunRestore(ws);
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(run.console, "Workstation is not infected!\n");
        EXPECT_EQ(GetInfectionState(), InfectionCleaned);
        EXPECT_EQ(ws.Calls("RegSetValueExA"), 0);
    }
}

// A workstation in state 2 with a wrong open command: after the look 15
// seconds later it holds the repaired command and counts as cleaned, and
// the wait cost 15 seconds of the virtual clock only. The key stays open,
// with query and set rights, all through the wait.
TEST(RestoreShellCommand, RepairsAWrongCommandAfterTheFifteenSecondLook) {
    sim::Workstation ws;
    ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm);
    DWORD start = ws.clockMs;
    int keysDuringWait = -1;
    DWORD accessDuringWait = 0;
    ws.At(start + 14999, [&] {
        keysDuringWait = ws.OpenHandles(sim::HandleKind::Key);
        for (const sim::HandleEntry& entry : ws.handles) {
            if (entry.kind == sim::HandleKind::Key) accessDuringWait = entry.access;
        }
    });
    StageRun run = RunRestore(ws);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(GetInfectionState(), InfectionCleaned);
    ExpectRepaired(ws);
    EXPECT_EQ(ws.clockMs - start, 15000u);
    EXPECT_EQ(keysDuringWait, 1);
    EXPECT_EQ(accessDuringWait, static_cast<DWORD>(KEY_QUERY_VALUE | KEY_SET_VALUE));
    EXPECT_EQ(ws.Calls("RegOpenKeyExA"), 2);
    EXPECT_EQ(ws.Calls("RegCloseKey"), 2);
}

// Errors are logged at the error level, everything else at the information level.
TEST(RestoreShellCommand, LogLevels) {
    sim::Workstation ws;
    ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm).FailCall("RegSetValueExA", ERROR_ACCESS_DENIED);
    StartFreshProcess();
    SetInfectionState(InfectionPresent);
    SetLogFile(TestLogPath, "a+");
    int savedThreshold = g_trace.levelThreshold;
    g_trace.levelThreshold = TraceError;
    {
        ConsoleCapture console;
        RestoreShellCommand();
    }
    g_trace.levelThreshold = savedThreshold;
    EndProcess();
    EXPECT_EQ(ws.Read(TestLogPath), "RegSetValueEx error 5\r\n");
}

// ---- CleanWinIniRun ------------------------------------------------------

namespace {

const char* const kWormRun = "C:\\WINDOWS\\SYSTEM32\\kurrel.exe";
const char* const kMappedKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

// Windows 9x keeps the section "windows" in win.ini itself; the NT family
// maps it to a registry key of the current user, and the file holds the rest.
struct Family {
    const char* name;
    bool nt;
    // run= as win.ini itself holds it after the clean-up: emptied on 9x, left
    // alone on NT, where the entry the system reads lives in the registry.
    const char* fileRunAfterClean;
    // A registry value keeps blanks around it; the file's reader drops them.
    bool keepsBlanksAroundRun;
    // The entry is still there to read when win.ini itself is missing.
    bool runOutlivesWinIni;
};
const Family kFamilies[] = {{"Windows 9x", false, "", false, false},
                            {"Windows NT", true, kWormRun, true, true}};

std::string WinIni(bool nt, const char* run) {
    if (nt) return Lines({"; for 16-bit app support", "[fonts]", "[extensions]", "", "[mci extensions]", "wav=waveaudio"});
    std::string runLine = run ? std::string("run=") + run : std::string();
    std::string text = Lines({"; for 16-bit app support", "[fonts]", "[extensions]", "[windows]", "load="});
    if (run) text += runLine + "\r\n";
    return text + Lines({"NullPort=None", "", "[mci extensions]", "wav=waveaudio"});
}

// A machine of the family whose run= entry holds `run` (nullptr: no entry).
void PlantRun(sim::Workstation& ws, const Family& family, const std::string& iniPath, const char* run) {
    if (family.nt) {
        ws.Nt();
        if (run) ws.RegString(HKEY_CURRENT_USER, kMappedKey, "run", run);
    } else {
        ws.Win9x();
    }
    ws.File(iniPath, WinIni(family.nt, run));
}

// What the family shows as the run= entry afterwards; "(none)" when there is none.
std::string RunEntry(sim::Workstation& ws, const Family& family, const std::string& iniPath) {
    return workstations::RunEntry(ws, family.nt, iniPath);
}

}  // namespace

TEST(CleanWinIniRun, BacksUpAndEmptiesTheRunEntry) {
    struct Case {
        const char* name;
        const char* windowsDirectory;
        const char* ini;
        const char* backup;
        bool oldBackup;
        bool linkedBackup = false;  // the old win.bak is a hard link to someone's batch file
    };
    const char* const batch = "C:\\Users\\ann\\task.bat";
    const Case cases[] = {
        {"Windows directory C:\\WINDOWS", "C:\\WINDOWS", "C:\\WINDOWS\\win.ini", "C:\\WINDOWS\\win.bak", false},
        {"an older win.bak is replaced", "C:\\WINDOWS", "C:\\WINDOWS\\win.ini", "C:\\WINDOWS\\win.bak", true},
        {"Windows directory at a drive root", "C:\\", "C:\\win.ini", "C:\\win.bak", false},
        {"Windows directory on another drive", "D:\\WINNT", "D:\\WINNT\\win.ini", "D:\\WINNT\\win.bak", true},
        {"a win.bak planted as a hard link is replaced, not written through", "C:\\WINDOWS",
         "C:\\WINDOWS\\win.ini", "C:\\WINDOWS\\win.bak", false, true},
    };
    for (const Family& family : kFamilies) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(family.name) + ", " + c.name);
            sim::Workstation ws;
            ws.AddDrive('D', DRIVE_FIXED).WindowsDirectory(c.windowsDirectory);
            PlantRun(ws, family, c.ini, kWormRun);
            if (c.oldBackup) ws.File(c.backup, "old backup\r\n");
            if (c.linkedBackup) ws.File(batch, "@echo task\r\n").HardLink(c.backup, batch);
            StartFreshProcess();
            SetInfectionState(InfectionCleaned);
            std::string console;
            {
                ConsoleCapture capture;
                CleanWinIniRun();
                console = capture.Text();
            }
            EndProcess();
            EXPECT_EQ(console, "");
            EXPECT_EQ(ws.DebugOutput(), "win.ini run=C:\\WINDOWS\\SYSTEM32\\kurrel.exe, removing\n");
            EXPECT_EQ(ws.Read(c.backup), WinIni(family.nt, kWormRun));
            if (c.linkedBackup) {
                EXPECT_EQ(ws.Read(batch), "@echo task\r\n");
                EXPECT_TRUE(ws.Find(batch)->otherNames.empty()) << "win.bak is a file of its own now";
            }
            // The entry stays, empty: "run=" in the file, an empty value in the registry.
            EXPECT_EQ(RunEntry(ws, family, c.ini), "");
            EXPECT_EQ(ws.Read(c.ini), WinIni(family.nt, family.fileRunAfterClean));
            EXPECT_EQ(GetOutcomeCode(), 1);
        }
    }
}

// Nothing to remove: the backup is still made, nothing is logged or written.
TEST(CleanWinIniRun, NoRunEntryToRemove) {
    for (const Family& family : kFamilies) {
        for (const char* run : {static_cast<const char*>(nullptr), "", "   "}) {
            // Blanks around a value are dropped when it is read from the file only.
            if (family.keepsBlanksAroundRun && run && run[0] == ' ') continue;
            SCOPED_TRACE(std::string(family.name) + ", run=" + (run ? "\"" + std::string(run) + "\"" : "(none)"));
            sim::Workstation ws;
            PlantRun(ws, family, "C:\\WINDOWS\\win.ini", run);
            std::string ini = ws.Read("C:\\WINDOWS\\win.ini");
            std::string entry = RunEntry(ws, family, "C:\\WINDOWS\\win.ini");
            StageRun stage = RunCleanWinIni(ws);
            EXPECT_EQ(stage.log, "");
            EXPECT_EQ(stage.console, "");
            EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.bak"), ini);
            EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), ini);
            EXPECT_EQ(RunEntry(ws, family, "C:\\WINDOWS\\win.ini"), entry);
            EXPECT_EQ(ws.Calls("WriteProfileStringA"), 0);
            EXPECT_EQ(GetOutcomeCode(), 1);
        }
    }
}

// On NT a run= line in the file itself is not the entry: the system reads the
// section from the registry, so there is nothing to remove.
TEST(CleanWinIniRun, NtReadsTheSectionFromTheRegistry) {
    sim::Workstation ws;
    std::string ini = WinIni(false, kWormRun);
    ws.Nt().File("C:\\WINDOWS\\win.ini", ini).RegString(HKEY_CURRENT_USER, kMappedKey, "load", "x");
    StageRun stage = RunCleanWinIni(ws);
    EXPECT_EQ(stage.log, "");
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), ini);
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.bak"), ini);
}

// On NT each logged-on user's run= lives in their own hive, where a worm
// running as that user wrote it: every loaded hive's is emptied, its old
// value kept in the log line. The running account's own is win.ini's entry
// and follows its backup; a value the log could not keep whole, and a key
// that cannot be read or written, are left as they are and count.
TEST(CleanWinIniRun, EveryLoadedUsersRunValue) {
    const std::string userKey = std::string(sim::PlainUserSid) + "\\" + kMappedKey;
    const std::string userLine = "HKEY_USERS\\" + userKey;
    const std::string serviceKey = std::string("S-1-5-19\\") + kMappedKey;
    const std::string longRun(300, 'x');
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> setUp;
        std::string log;
        std::string userRunAfter;
        std::string ownRunAfter;
        int outcome;
    };
    const Case cases[] = {
        {"a plain user's run= and a service's",
         [&](sim::Workstation& ws) { ws.RegString(HKEY_USERS, serviceKey, "run", "svc.exe"); },
         "win.ini run=" + std::string(kWormRun) + ", removing\r\nHKEY_USERS\\" + serviceKey +
             " run=svc.exe, removing\r\n" + userLine + " run=" + kWormRun + ", removing\r\n",
         "", "", 1},
        {"a run= with a line break is kept whole, escaped",
         [&](sim::Workstation& ws) { ws.RegString(HKEY_USERS, userKey, "run", "a.exe\nb.exe"); },
         "win.ini run=" + std::string(kWormRun) + ", removing\r\n" + userLine + " run=a.exe<U+000A>b.exe, removing\r\n",
         "", "", 1},
        {"an empty user's run= is left alone",
         [&](sim::Workstation& ws) { ws.RegString(HKEY_USERS, userKey, "run", ""); },
         "win.ini run=" + std::string(kWormRun) + ", removing\r\n", "", "", 1},
        {"a value too long for the log is not removed",
         [&](sim::Workstation& ws) { ws.RegString(HKEY_USERS, userKey, "run", longRun); },
         "win.ini run=" + std::string(kWormRun) + ", removing\r\nRegQueryValueEx error 234, " + userLine +
             " run=, not removed\r\n",
         longRun, "", 3},
        {"a user's key that cannot be opened",
         [&](sim::Workstation& ws) { ws.FindKey(HKEY_USERS, userKey)->denyWrite = true; },
         "win.ini run=" + std::string(kWormRun) + ", removing\r\nRegOpenKeyEx error 5, " + userLine + "\r\n",
         kWormRun, "", 3},
        {"a user's value that cannot be written",
         [&](sim::Workstation& ws) { ws.FailCall("RegSetValueExA", ERROR_ACCESS_DENIED); },
         "win.ini run=" + std::string(kWormRun) + ", removing\r\n" + userLine + " run=" + kWormRun +
             ", removing\r\nRegSetValueEx error 5, " + userLine + " run=, not removed\r\n",
         kWormRun, "", 3},
        {"win.ini's backup fails: the running account's entry stays, the user's goes",
         [&](sim::Workstation& ws) { ws.FailCall("CopyFileA", ERROR_ACCESS_DENIED); },
         "cannot make win.ini backup copy error =5\r\n" + userLine + " run=" + kWormRun + ", removing\r\n", "",
         kWormRun, 3},
        {"the Windows family cannot be told",
         [&](sim::Workstation& ws) { ws.FailCall("GetVersionExA", ERROR_ACCESS_DENIED); },
         "win.ini run=" + std::string(kWormRun) +
             ", removing\r\nThe Windows family cannot be told: the users' run= entries are not looked at\r\n",
         kWormRun, "", 3},
        {"the list of hives cannot be read",
         [&](sim::Workstation& ws) { ws.FailCall("RegEnumKeyExA", ERROR_ACCESS_DENIED); },
         "win.ini run=" + std::string(kWormRun) + ", removing\r\nRegEnumKeyEx error 5, HKEY_USERS\r\n",
         kWormRun, "", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        PlantRun(ws, kFamilies[1], "C:\\WINDOWS\\win.ini", kWormRun);
        ws.RegString(HKEY_USERS, userKey, "run", kWormRun);
        c.setUp(ws);
        StageRun stage = RunCleanWinIni(ws);
        EXPECT_EQ(stage.log, c.log);
        EXPECT_EQ(ws.RegText(HKEY_USERS, userKey, "run"), c.userRunAfter);
        EXPECT_EQ(ws.RegText(HKEY_CURRENT_USER, kMappedKey, "run"), c.ownRunAfter);
        EXPECT_EQ(GetOutcomeCode(), c.outcome);
    }
}

// Windows 9x keeps no run= of a user's own: win.ini is the one entry.
TEST(CleanWinIniRun, Windows9xLooksAtNoUsersHive) {
    sim::Workstation ws;
    PlantRun(ws, kFamilies[0], "C:\\WINDOWS\\win.ini", kWormRun);
    ws.RegString(HKEY_USERS, std::string("ann\\") + kMappedKey, "run", "ann.exe");
    StageRun stage = RunCleanWinIni(ws);
    EXPECT_EQ(stage.log, "win.ini run=" + std::string(kWormRun) + ", removing\r\n");
    EXPECT_EQ(ws.RegText(HKEY_USERS, std::string("ann\\") + kMappedKey, "run"), "ann.exe");
    EXPECT_EQ(ws.Calls("RegEnumKeyExA"), 0);
}

// Without a backup the run= entry is not touched, and the run counts a failure.
TEST(CleanWinIniRun, FailedBackupCountsAFailure) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> setUp;
        const char* log;
    };
    const Case cases[] = {
        {"copy refused", [](sim::Workstation& ws) { ws.FailCall("CopyFileA", ERROR_ACCESS_DENIED); },
         "cannot make win.ini backup copy error =5\r\n"},
        {"win.bak read-only",
         [](sim::Workstation& ws) { ws.File("C:\\WINDOWS\\win.bak", "old\r\n", FILE_ATTRIBUTE_READONLY); },
         "cannot make win.ini backup copy error =5\r\n"},
        {"win.ini held without sharing", [](sim::Workstation& ws) { ws.Hold("C:\\WINDOWS\\win.ini", 0); },
         "cannot make win.ini backup copy error =32\r\n"},
        {"win.ini missing", [](sim::Workstation& ws) { ws.RemoveNode(ws.Find("C:\\WINDOWS\\win.ini")); },
         "cannot make win.ini backup copy error =2\r\n"},
    };
    for (const Family& family : kFamilies) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(family.name) + ", " + c.name);
            sim::Workstation ws;
            PlantRun(ws, family, "C:\\WINDOWS\\win.ini", kWormRun);
            c.setUp(ws);
            std::string iniBefore = ws.Read("C:\\WINDOWS\\win.ini");
            bool hadIni = ws.Exists("C:\\WINDOWS\\win.ini");
            StageRun stage = RunCleanWinIni(ws);
            EXPECT_EQ(stage.log, c.log);
            EXPECT_EQ(GetOutcomeCode(), 3);  // 1 became 3
            EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), iniBefore);
            EXPECT_EQ(ws.Exists("C:\\WINDOWS\\win.ini"), hadIni);
            if (family.runOutlivesWinIni || hadIni) {
                EXPECT_EQ(RunEntry(ws, family, "C:\\WINDOWS\\win.ini"), kWormRun);
            }
            EXPECT_EQ(ws.Calls("GetProfileStringA"), 0);
            EXPECT_EQ(ws.Calls("WriteProfileStringA"), 0);
        }
    }
}

// A Windows directory so long that the joined names do not fit is a failed
// backup: nothing is copied and the run= entry is left alone.
TEST(CleanWinIniRun, WindowsDirectoryTooLongForTheNames) {
    for (size_t length : {size_t(251), size_t(252), size_t(258), size_t(259)}) {
        SCOPED_TRACE(length);
        std::string directory = "C:\\" + std::string(length - 3, 'W');
        std::string ini = directory + "\\win.ini";
        sim::Workstation ws;
        ws.WindowsDirectory(directory);
        PlantRun(ws, kFamilies[0], ini, kWormRun);
        StageRun stage = RunCleanWinIni(ws);
        bool fits = directory.size() + 1 + 7 < MAX_PATH;
        if (fits) {
            EXPECT_EQ(ws.Read(directory + "\\win.bak"), WinIni(false, kWormRun));
            EXPECT_EQ(RunEntry(ws, kFamilies[0], ini), "");
            EXPECT_EQ(GetOutcomeCode(), 1);
        } else {
            EXPECT_EQ(stage.log, "cannot make win.ini backup copy error =206\r\n");
            EXPECT_EQ(ws.Calls("CopyFileA"), 0);
            EXPECT_EQ(RunEntry(ws, kFamilies[0], ini), kWormRun);
            EXPECT_EQ(GetOutcomeCode(), 3);
        }
    }
}

// ---- whole runs ------------------------------------------------------------

TEST(SettingsRepairRun, CleanMachineLeavesSettingsAlone) {
    sim::Workstation ws;
    PlantRun(ws, kFamilies[1], "C:\\WINDOWS\\win.ini", kWormRun);
    ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm);
    RunResult run = RunKurrelfix({"/SILENT"});
    EXPECT_EQ(run.exitCode, 0);
    // No setting is written: only the scanner record's identifier on NT,
    // which goes with the record.
    EXPECT_EQ(ws.Calls("RegSetValueExA"), ws.platformId == VER_PLATFORM_WIN32_NT ? 1 : 0);
    const sim::RegKey* toolKey = ws.FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ombrel Works\\Kurrelfix");
    EXPECT_TRUE(!toolKey || toolKey->values.empty());
    EXPECT_EQ(run.console.find("clean up Win.ini"), std::string::npos);
    EXPECT_NE(run.console.find("Infection was not found, the shell key is not updated\n"), std::string::npos);
    std::string log = ws.Read(TestLogPath);
    EXPECT_NE(log.find("Infection was not found, the shell key is not updated\r\nRestore shell, success=1\r\n"),
              std::string::npos);
    EXPECT_FALSE(ws.Exists("C:\\WINDOWS\\win.bak"));
    EXPECT_EQ(RunEntry(ws, kFamilies[1], "C:\\WINDOWS\\win.ini"), kWormRun);
    EXPECT_EQ(ws.RegText(HKEY_CLASSES_ROOT, kShellKey, ""), kWorm);
}

namespace {

// An infected machine as the sweeps find it: a copy of the worm on drive C:,
// its command in the registry and its run= entry.
void PlantWorm(sim::Workstation& ws, const Family& family) {
    ws.FileBytes("C:\\Games\\kurrel.exe", worm_sample::MakeSample(12000, 0x91729FD1))
        .RegString(HKEY_CLASSES_ROOT, kShellKey, "", kWorm);
    PlantRun(ws, family, "C:\\WINDOWS\\win.ini", kWormRun);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

// A repair that worked but a backup that failed: code 1 turns into 3.
TEST(SettingsRepairRun, FailedBackupAfterARepairEndsWithErrors) {
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        sim::Workstation ws;
        PlantWorm(ws, family);
        ws.FailCall("CopyFileA", ERROR_ACCESS_DENIED);
        RunResult run = RunKurrelfix({"/SILENT"});
        EXPECT_EQ(run.exitCode, 3);
        EXPECT_FALSE(ws.Exists("C:\\Games\\kurrel.exe"));
        EXPECT_TRUE(Has(run.console, " Infection is cleaned!\nclean up Win.ini\n"));
        std::string log = ws.Read(TestLogPath);
        EXPECT_TRUE(Has(log, "Restore shell, success=1\r\ncannot make win.ini backup copy error =5\r\n"));
        EXPECT_TRUE(Has(log, "Kurrelfix tool exit code: 3\r\n"));
        EXPECT_EQ(RunEntry(ws, family, "C:\\WINDOWS\\win.ini"), kWormRun);
        EXPECT_FALSE(ws.Exists("C:\\WINDOWS\\win.bak"));
        ExpectRepaired(ws);
    }
}

// ---- the simulated profile functions ------------------------------------

// As on Windows NT and under Wine: the section "windows" lives in the
// registry, the other sections in the file, and a value missing from the
// registry is not looked for in the file.
TEST(SimProfile, NtMapsTheWindowsSectionToTheRegistry) {
    sim::Workstation ws;
    const std::string ini = Lines({"[windows]", "run=file.exe", "[other]", "run=other.exe"});
    ws.Nt().File("C:\\WINDOWS\\win.ini", ini).RegString(HKEY_CURRENT_USER, kMappedKey, "run", "reg.exe");
    char buffer[260];
    EXPECT_EQ(GetProfileStringA("windows", "run", "", buffer, 260), 7u);
    EXPECT_STREQ(buffer, "reg.exe");
    EXPECT_EQ(GetProfileStringA("other", "run", "", buffer, 260), 9u);
    EXPECT_STREQ(buffer, "other.exe");
    EXPECT_TRUE(WriteProfileStringA("Windows", "run", ""));
    EXPECT_NE(ws.FindValue(HKEY_CURRENT_USER, kMappedKey, "run"), nullptr);
    EXPECT_EQ(ws.RegText(HKEY_CURRENT_USER, kMappedKey, "run"), "");
    EXPECT_EQ(GetProfileStringA("windows", "run", "dflt", buffer, 260), 0u);
    EXPECT_TRUE(WriteProfileStringA("windows", "run", nullptr));
    EXPECT_EQ(ws.FindValue(HKEY_CURRENT_USER, kMappedKey, "run"), nullptr);
    EXPECT_EQ(GetProfileStringA("windows", "run", "dflt", buffer, 260), 4u);
    EXPECT_STREQ(buffer, "dflt");
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), ini);
}

TEST(SimProfile, GetProfileStringA) {
    sim::Workstation ws;
    ws.Win9x();  // the section "windows" is in the file
    ws.File("C:\\WINDOWS\\win.ini",
            Lines({"[Windows]", "  Run =  C:\\a.exe  ", "load=\"quoted value\"", "empty=", "; run=comment",
                   "[other]", "run=other.exe"}));
    char buffer[260];
    struct Case {
        const char* section;
        const char* key;
        const char* fallback;
        DWORD size;
        DWORD count;
        const char* text;
    };
    const Case cases[] = {
        {"windows", "run", "", 260, 8, "C:\\a.exe"},
        {"WINDOWS", "RUN", "", 260, 8, "C:\\a.exe"},
        {"windows", "load", "", 260, 12, "quoted value"},
        {"windows", "empty", "x", 260, 0, ""},
        {"windows", "missing", "", 260, 0, ""},
        {"windows", "missing", "fallback", 260, 8, "fallback"},
        {"nosection", "run", "", 260, 0, ""},
        {"other", "run", "", 260, 9, "other.exe"},
        {"windows", "run", "", 5, 4, "C:\\a"},  // cut to fit, terminated
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        memset(buffer, 'Z', sizeof(buffer));
        EXPECT_EQ(GetProfileStringA(c.section, c.key, c.fallback, buffer, c.size), c.count);
        EXPECT_STREQ(buffer, c.text);
    }
    ws.RemoveNode(ws.Find("C:\\WINDOWS\\win.ini"));
    EXPECT_EQ(GetProfileStringA("windows", "run", "none", buffer, 260), 4u);
    EXPECT_STREQ(buffer, "none");
}

TEST(SimProfile, WriteProfileStringAChangesOnlyItsLine) {
    sim::Workstation ws;
    ws.Win9x();  // the section "windows" is in the file
    ws.File("C:\\WINDOWS\\win.ini", "[windows]\nRun = x.exe\nload=\n\n[other]\nrun=y\n");
    EXPECT_TRUE(WriteProfileStringA("windows", "run", ""));
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), Lines({"[windows]", "Run=", "load=", "", "[other]", "run=y"}));
    EXPECT_TRUE(WriteProfileStringA("windows", "new", "1"));
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"),
              Lines({"[windows]", "Run=", "load=", "new=1", "", "[other]", "run=y"}));
    EXPECT_TRUE(WriteProfileStringA("windows", "load", nullptr));  // a null value deletes the entry
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), Lines({"[windows]", "Run=", "new=1", "", "[other]", "run=y"}));
    EXPECT_TRUE(WriteProfileStringA("added", "k", "v"));
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"),
              Lines({"[windows]", "Run=", "new=1", "", "[other]", "run=y", "[added]", "k=v"}));
    EXPECT_TRUE(WriteProfileStringA("other", nullptr, nullptr));  // a null key deletes the section
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), Lines({"[windows]", "Run=", "new=1", "", "[added]", "k=v"}));
}

TEST(SimProfile, WriteProfileStringAMakesWinIniAndRefusesWhenItCannot) {
    sim::Workstation ws;
    ws.Win9x();  // the section "windows" is in the file
    EXPECT_TRUE(WriteProfileStringA("windows", "run", ""));
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), Lines({"[windows]", "run="}));
    ws.File("C:\\WINDOWS\\win.ini", "[windows]\r\nrun=a\r\n", FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(WriteProfileStringA("windows", "run", ""));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ws.File("C:\\WINDOWS\\win.ini", "[windows]\r\nrun=a\r\n").Hold("C:\\WINDOWS\\win.ini", FILE_SHARE_READ);
    EXPECT_FALSE(WriteProfileStringA("windows", "run", ""));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\win.ini"), "[windows]\r\nrun=a\r\n");
}
