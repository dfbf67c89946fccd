#include <gtest/gtest.h>

#include "tests/fresh_process.h"

TEST(Smoke, SilentCleanRunWritesLog) {
    sim::Workstation ws;
    RunResult run = RunKurrelfix({"/SILENT"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\Kurrelfix.log"),
              "Kurrelfix v1.00.5\r\n[VTSU - Disinfect_Kurrel]\r\n"
              "No infected processes were found\r\n"
              "Infection was not found, the shell key is not updated\r\nRestore shell, success=1\r\n"
              "Kurrelfix tool exit code: 0\r\n");
    EXPECT_EQ(run.console,
              "Kurrelfix v1.00.5\nfind and kill all Kurrel tasks in memory ... \n"
              "no Kurrel tasks in memory \n"
              "scan all hard disks and delete all Kurrel files, it will take a while ...\n"
              "Infection was not found, the shell key is not updated\n"
              "Kurrelfix tool exit code: 0\n");
}
