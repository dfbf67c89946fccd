// The trace log on its own: where messages go, which are dropped, how long
// they may be, and how SetLogFile picks and keeps its file.
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>

#include <string>

#include "tests/fresh_process.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

namespace {

void Log(const std::string& text) { TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", text.c_str()); }

TEST(TraceLog, WithoutLogFileMessagesGoToTheDebugger) {
    sim::Workstation ws;
    StartFreshProcess();
    Log("before\n");
    SetLogFile("C:\\Missing\\trace.log", "a+");  // its folder does not exist
    Log("after a failed open\n");
    EXPECT_EQ(ws.DebugOutput(), "before\nafter a failed open\n");
    EXPECT_FALSE(ws.Exists("C:\\Missing"));

    SetLogFile("C:\\WINDOWS\\trace.log", "a+");
    Log("into the file\n");
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\trace.log"), "into the file\r\n");
    EXPECT_EQ(ws.DebugOutput(), "before\nafter a failed open\n");
    EXPECT_EQ(ws.Calls("OutputDebugStringA"), 2);
    EndProcess();
}

TEST(TraceLog, EveryMessageIsOnDiskAtOnceAndTheFileClosesOnceAtExit) {
    sim::Workstation ws;
    StartFreshProcess();
    SetLogFile("C:\\WINDOWS\\trace.log", "a+");
    Log("one\n");
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\trace.log"), "one\r\n");
    Log("two\n");
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\trace.log"), "one\r\ntwo\r\n");
    EXPECT_TRUE(ws.IsOpen(ws.Find("C:\\WINDOWS\\trace.log")));
    EndProcess();
    EXPECT_FALSE(ws.IsOpen(ws.Find("C:\\WINDOWS\\trace.log")));
    EXPECT_EQ(ws.Calls("CrtClose"), 1);
    EXPECT_STREQ(g_trace.logPath, "C:\\WINDOWS\\trace.log");  // remembered after shutdown
}

// The second SetLogFile asks for "w": a file that is really reopened loses
// what the first stream wrote.
TEST(TraceLog, SecondSetLogFileKeepsOrReplacesTheStream) {
    const std::string first = "C:\\WINDOWS\\Kurrelfix.log";
    struct Case {
        const char* name;
        std::string second;
        int opens;
        std::string firstFile;
        std::string secondFile;  // checked when the second path differs
        std::string debugger;
    };
    const Case cases[] = {
        {"same path", first, 1, "one\r\ntwo\r\n", "", ""},
        {"other case", "C:\\windows\\kurrelfix.LOG", 2, "two\r\n", "", ""},
        {"other path", "C:\\WINDOWS\\Other.log", 2, "one\r\n", "two\r\n", ""},
        {"other path that cannot open", "C:\\Missing\\Other.log", 2, "one\r\n", "", "two\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        StartFreshProcess();
        SetLogFile(first.c_str(), "a+");
        Log("one\n");
        SetLogFile(c.second.c_str(), "w");
        Log("two\n");
        EXPECT_EQ(ws.Calls("CrtFopen"), c.opens);
        EXPECT_EQ(ws.Read(first), c.firstFile);
        if (!c.secondFile.empty()) {
            EXPECT_EQ(ws.Read(c.second), c.secondFile);
            EXPECT_FALSE(ws.IsOpen(ws.Find(first)));
        }
        EXPECT_EQ(ws.DebugOutput(), c.debugger);
        EndProcess();
    }
}

TEST(TraceLog, BareFileNameOpensBesideTheProgram) {
    struct Case {
        std::string path;
        std::string opened;
        std::string notAt;
    };
    const Case cases[] = {
        {"trace.log", "C:\\Tools\\trace.log", "C:\\Work\\trace.log"},
        {"logs\\trace.log", "C:\\Work\\logs\\trace.log", "C:\\Tools\\logs\\trace.log"},
        {"C:trace.log", "C:\\Work\\trace.log", "C:\\Tools\\trace.log"},
        {"C:\\WINDOWS\\trace.log", "C:\\WINDOWS\\trace.log", "C:\\Tools\\trace.log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        sim::Workstation ws;
        ws.CurrentDirectory("C:\\Work").Dir("C:\\Work\\logs").Dir("C:\\Tools\\logs");
        StartFreshProcess();
        SetLogFile(c.path.c_str(), "a+");
        Log("hello\n");
        EXPECT_EQ(ws.Read(c.opened), "hello\r\n");
        EXPECT_FALSE(ws.Exists(c.notAt));
        EXPECT_STREQ(g_trace.logPath, c.path.c_str());  // the caller's form
        EndProcess();
    }
}

TEST(TraceLog, PathLongerThan259CharactersOpensNothing) {
    for (size_t length : {259u, 260u, 300u}) {
        SCOPED_TRACE(length);
        sim::Workstation ws;
        // "C:\" + folder + "\t.log": the folder exists, so only the limit can refuse it.
        std::string folder = "C:\\" + std::string(length - 9, 'd');
        std::string path = folder + "\\t.log";
        ASSERT_EQ(path.size(), length);
        ws.Dir(folder);
        StartFreshProcess();
        SetLogFile(path.c_str(), "a+");
        Log("hello\n");
        bool fits = length <= 259;
        EXPECT_EQ(ws.Exists(path), fits);
        EXPECT_EQ(ws.DebugOutput(), fits ? "" : "hello\n");
        EXPECT_STREQ(g_trace.logPath, fits ? path.c_str() : "");
        EndProcess();
    }
}

TEST(TraceLog, TypeMaskAndLevelFilter) {
    struct Case {
        DWORD typeMask;
        int level;
        bool written;
    };
    const Case cases[] = {
        {TraceAllTypes, TraceInfo, true}, {0, TraceInfo, false},       {0x10, TraceError, true},
        {TraceAllTypes, 255, true},       {TraceAllTypes, 256, false}, {TraceAllTypes, INT_MAX, false},
        {TraceAllTypes, -1, true},        {TraceAllTypes, INT_MIN, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mask " + std::to_string(c.typeMask) + " level " + std::to_string(c.level));
        sim::Workstation ws;
        StartFreshProcess();
        TraceMsg(TraceModule, c.typeMask, c.level, "level %d\n", c.level);
        EXPECT_EQ(ws.DebugOutput(), c.written ? "level " + std::to_string(c.level) + "\n" : "");
        EndProcess();
    }
}

// A cut message still ends its line, so that the next message is a line of
// its own: the fleet's batch files read the log line by line.
TEST(TraceLog, MessageIsCutAfter1024Characters) {
    struct Case {
        size_t length;  // of the whole message
        bool lineEnd;   // it ends with "\n"
        std::string expected;
    };
    auto letters = [](size_t length) {
        std::string text;
        for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
        return text;
    };
    const Case cases[] = {
        {1023, false, letters(1023)},
        {1024, false, letters(1024)},
        {1024, true, letters(1023) + "\n"},
        {1025, false, letters(1023) + "\n"},
        {1025, true, letters(1023) + "\n"},
        {5000, true, letters(1023) + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + (c.lineEnd ? " with its line end" : ""));
        sim::Workstation ws;
        StartFreshProcess();
        std::string text = letters(c.lineEnd ? c.length - 1 : c.length) + (c.lineEnd ? "\n" : "");
        Log(text);
        EXPECT_EQ(ws.DebugOutput(), c.expected);
        EndProcess();
    }
}

// Text from outside the tool (here a process's name, which the process
// itself writes) is one line of the log whatever it holds: each control
// character is written as the escape of its code point.
TEST(TraceLog, OutsideTextIsEscapedIntoOneLine) {
    struct Case {
        const char* name;
        std::string text;
        std::string logged;
    };
    const std::string forged = "x\"==\"x\" ver&md \\PWND&rem \r\nKurrelfix tool exit code: 0";
    const Case cases[] = {
        {"a plain name is written as it is", "C:\\Program Files\\App (x86)\\a&b!%c^.exe",
         "C:\\Program Files\\App (x86)\\a&b!%c^.exe"},
        {"a line break and a forged exit code line", forged,
         "x\"==\"x\" ver&md \\PWND&rem <U+000D><U+000A>Kurrelfix tool exit code: 0"},
        {"tab, escape, delete and the first and last control", std::string("a\tb\x1b\x7f\x01\x1f"),
         "a<U+0009>b<U+001B><U+007F><U+0001><U+001F>"},
        {"a double-byte name keeps its trail bytes", "C:\\\x83\x5c\x83\x7e.exe", "C:\\\x83\x5c\x83\x7e.exe"},
        {"bytes of the upper half are no control characters", "\x80\x9f\xa0\xff", "\x80\x9f\xa0\xff"},
        {"empty", "", ""},
        // 200 line breaks escape to 1600 characters: the text is cut after the
        // last whole escape that fits, and the message still ends its line.
        {"too many to fit", std::string(200, '\n'), [] {
             std::string escaped;
             for (int i = 0; i < 128; ++i) escaped += "<U+000A>";
             return escaped;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        StartFreshProcess();
        SetLogFile("C:\\WINDOWS\\trace.log", "a+");
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "examinate process %s (PID=0x%x)\n",
                 Escaped(c.text.c_str()).text, 0x1a4u);
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "%s", "next\n");
        EndProcess();
        std::string expected = "examinate process " + c.logged + " (PID=0x1a4)\r\n";
        if (expected.size() > 1024 + 1) expected = expected.substr(0, 1023) + "\r\n";
        EXPECT_EQ(ws.Read("C:\\WINDOWS\\trace.log"), expected + "next\r\n");
    }
}

TEST(TraceLog, PrintAndLogWritesConsoleThenLog) {
    sim::Workstation ws;
    StartFreshProcess();
    SetLogFile("C:\\WINDOWS\\trace.log", "a+");
    std::string console;
    {
        ConsoleCapture capture;
        PrintAndLog("%s=%d\n", "found", 3);
        console = capture.Text();
    }
    EXPECT_EQ(console, "found=3\n");
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\trace.log"), "found=3\r\n");
    EndProcess();
}

}  // namespace
