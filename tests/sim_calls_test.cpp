// The simulated workstation's fault injection guards against its own misuse:
// a name it cannot fail is refused, and a fault that never fired is reported.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sim/workstation.h"
#include "tests/test_support.h"

namespace {

std::vector<std::string> g_problems;
void Collect(const std::string& problem) { g_problems.push_back(problem); }
void ReportToTheTest(const std::string& problem) { ADD_FAILURE() << problem; }

TEST(SimFaults, FailCallRefusesWhatTheSimulationCannotFail) {
    struct Case {
        const char* name;
        bool accepted;
    };
    const Case cases[] = {
        {"CreateFileA", true},      {"CrtRead", true},           {"AllocBuffer", true},
        {"RegQueryValueExA", true}, {"CreatFileA", false},       {"createfilea", false},
        {"GetDriveTypeA", false},   {"GetTickCount", false},     {"MessageBoxA", false},
        {"Sleep", false},           {"fopen", false},            {"", false},
    };
    for (const Case& c : cases) {
        sim::Workstation ws;
        if (c.accepted) {
            EXPECT_NO_THROW(ws.FailCall(c.name, ERROR_ACCESS_DENIED)) << c.name;
            ws.faults.clear();  // not wanted to fire here
        } else {
            EXPECT_THROW(ws.FailCall(c.name, ERROR_ACCESS_DENIED), std::invalid_argument) << c.name;
        }
    }
}

TEST(SimFaults, AFaultThatNeverFiredIsReported) {
    struct Case {
        const char* name;
        int callsToSkip;
        int calls;  // made before the workstation goes
        bool reported;
    };
    const Case cases[] = {
        {"fired at the first call", 0, 1, false},
        {"fired at the third call", 2, 3, false},
        {"too few calls to reach it", 2, 2, true},
        {"never called", 0, 0, true},
    };
    for (const Case& c : cases) {
        g_problems.clear();
        sim::SetProblemHandler(Collect);
        {
            sim::Workstation ws;
            ws.FailCall("GetFileAttributesA", ERROR_ACCESS_DENIED, c.callsToSkip);
            for (int i = 0; i < c.calls; ++i) GetFileAttributesA("C:\\WINDOWS");
        }
        sim::SetProblemHandler(ReportToTheTest);
        EXPECT_EQ(g_problems.size(), c.reported ? 1u : 0u) << c.name;
        if (c.reported && !g_problems.empty()) {
            EXPECT_NE(g_problems[0].find("GetFileAttributesA"), std::string::npos) << g_problems[0];
        }
    }
}

// Reads through a stream of the C runtime seam can fail like any other call.
TEST(SimFaults, ReadThroughASeamStreamFails) {
    sim::Workstation ws;
    ws.File("C:\\data.txt", "first line\r\nsecond line\r\n");
    ws.FailCall("CrtRead", ERROR_READ_FAULT);
    FILE* file = CrtFopen("C:\\data.txt", "r");
    ASSERT_NE(file, nullptr);
    char line[64];
    EXPECT_EQ(fgets(line, sizeof(line), file), nullptr);
    EXPECT_NE(ferror(file), 0);
    fclose(file);
    EXPECT_EQ(ws.OpenHandles(), 0);
}

}  // namespace
