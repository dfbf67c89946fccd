// The trace log on its own: where messages go, which are dropped, how long
// they may be, and how SetLogFile picks and keeps its file.
#include <gtest/gtest.h>
#include <limits.h>
#include <string.h>

#include <string>

#include "tests/fresh_process.h"
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

TEST(TraceLog, MessageIsCutAfter1024Characters) {
    for (size_t length : {1023u, 1024u, 1025u, 5000u}) {
        SCOPED_TRACE(length);
        sim::Workstation ws;
        StartFreshProcess();
        std::string text;
        for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + i % 26);
        Log(text);
        EXPECT_EQ(ws.DebugOutput(), text.substr(0, 1024));
        EndProcess();
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
