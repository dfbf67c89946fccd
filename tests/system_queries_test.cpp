// The system queries: Windows family, administrator rights, privileges,
// services, registry values by text path, and whether a file exists.
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <string>

#include "support/system_queries.h"
#include "tests/test_support.h"

namespace {

// Handles of any kind still open: every query must close what it opened.

TEST(SystemQueries, WindowsFamilyFromThePlatformId) {
    struct Case {
        DWORD platformId;
        bool queryFails;
        OsFamily family;
        int nt;
    };
    const Case cases[] = {
        {VER_PLATFORM_WIN32_WINDOWS, false, OsWindows9x, 0},
        {VER_PLATFORM_WIN32_NT, false, OsWindowsNT, 1},
        {VER_PLATFORM_WIN32s, false, OsOther, 0},
        {3, false, OsOther, 0},
        {VER_PLATFORM_WIN32_NT, true, OsOther, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("platform " + std::to_string(c.platformId) + (c.queryFails ? ", query fails" : ""));
        sim::Workstation ws;
        ws.Platform(c.platformId);
        if (c.queryFails) ws.FailCall("GetVersionExA", ERROR_INVALID_PARAMETER, 0, 2);
        EXPECT_EQ(GetOsFamily(), c.family);
        EXPECT_EQ(IsWindowsNT(), c.nt);
        EXPECT_EQ(ws.Calls("GetVersionExA"), 2);  // asked afresh each time
    }
}

TEST(SystemQueries, IsAdminLooksForTheAdministratorsGroup) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> setUp;
        int admin;
        int tokenQueries;
        int sidsBuilt;
    };
    const Case cases[] = {
        {"administrator", [](sim::Workstation&) {}, 1, 1, 1},
        {"groups do not fit 1024 bytes", [](sim::Workstation& ws) { ws.tokenGroupCount = 200; }, 1, 2, 1},
        {"present but not enabled", [](sim::Workstation& ws) { ws.adminGroupEnabled = false; }, 1, 1, 1},
        {"ordinary user", [](sim::Workstation& ws) { ws.Admin(false); }, 0, 1, 1},
        {"large token, ordinary user",
         [](sim::Workstation& ws) {
             ws.Admin(false);
             ws.tokenGroupCount = 200;
         },
         0, 2, 1},
        {"token cannot be opened",
         [](sim::Workstation& ws) { ws.FailCall("OpenProcessToken", ERROR_ACCESS_DENIED); }, 0, 0, 0},
        {"no memory", [](sim::Workstation& ws) { ws.FailCall("AllocBuffer", 0); }, 0, 0, 0},
        {"no memory for the larger buffer",
         [](sim::Workstation& ws) {
             ws.tokenGroupCount = 200;
             ws.FailCall("AllocBuffer", 0, 1);
         },
         0, 1, 0},
        {"query fails",
         [](sim::Workstation& ws) { ws.FailCall("GetTokenInformation", ERROR_ACCESS_DENIED); }, 0, 1, 0},
        {"SID cannot be built",
         [](sim::Workstation& ws) { ws.FailCall("AllocateAndInitializeSid", ERROR_NOT_ENOUGH_MEMORY); },
         0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        c.setUp(ws);
        EXPECT_EQ(IsAdmin(), c.admin);
        EXPECT_EQ(ws.Calls("GetTokenInformation"), c.tokenQueries);
        EXPECT_EQ(ws.OpenHandles(), 0);
        // The SID is built only once the groups are read, and always freed.
        EXPECT_EQ(ws.Calls("FreeSid"), c.sidsBuilt);
    }
}

TEST(SystemQueries, SetPrivilegeChangesOnlyTheEnabledBit) {
    struct Case {
        const char* name;
        const char* privilege;
        DWORD before;  // attributes in the token beforehand
        int enable;
        int result;
        DWORD after;
        int failingAdjustment;  // 1 or 2: that AdjustTokenPrivileges call fails; 0: none
    };
    const Case cases[] = {
        {"enable", "SeDebugPrivilege", 0, 1, 1, SE_PRIVILEGE_ENABLED, 0},
        {"disable", "SeDebugPrivilege", SE_PRIVILEGE_ENABLED, 0, 1, 0, 0},
        {"enable again", "SeDebugPrivilege", SE_PRIVILEGE_ENABLED, 1, 1, SE_PRIVILEGE_ENABLED, 0},
        {"disable a disabled one", "SeDebugPrivilege", 0, 0, 1, 0, 0},
        {"not held by the token", "SeTcbPrivilege", 0, 1, 0, 0, 0},
        {"unknown name", "SeNoSuchPrivilege", 0, 1, 0, 0, 0},
        {"first adjustment refused", "SeDebugPrivilege", 0, 1, 0, 0, 1},
        // The first adjustment has already cleared the bit when the second is refused.
        {"second adjustment refused", "SeDebugPrivilege", SE_PRIVILEGE_ENABLED, 1, 0, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.privilegeAttributes[c.privilege] = c.before;
        if (c.failingAdjustment) {
            ws.FailCall("AdjustTokenPrivileges", ERROR_ACCESS_DENIED, c.failingAdjustment - 1);
        }
        HANDLE token = nullptr;
        ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
        EXPECT_EQ(SetPrivilege(token, c.privilege, c.enable), c.result);
        EXPECT_EQ(ws.privilegeAttributes[c.privilege], c.after);
        CloseHandle(token);
        EXPECT_EQ(ws.OpenHandles(), 0);
    }
}

TEST(SystemQueries, IsServiceRunningByState) {
    struct Case {
        DWORD state;
        int running;
    };
    const Case cases[] = {
        {SERVICE_STOPPED, 0},          {SERVICE_START_PENDING, 1}, {SERVICE_STOP_PENDING, 0},
        {SERVICE_RUNNING, 1},          {SERVICE_CONTINUE_PENDING, 1},
        {SERVICE_PAUSE_PENDING, 0},    {SERVICE_PAUSED, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("state " + std::to_string(c.state));
        sim::Workstation ws;
        ws.Service("Veltrane Sentrel", c.state);
        EXPECT_EQ(IsServiceRunning("Veltrane Sentrel"), c.running);
        EXPECT_EQ(ws.Calls("QueryServiceStatus"), 1);
        EXPECT_EQ(ws.OpenHandles(), 0);
    }
}

TEST(SystemQueries, IsServiceRunningWithoutTheService) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> setUp;
        int managerOpens;
    };
    const Case cases[] = {
        {"missing service", [](sim::Workstation&) {}, 1},
        {"Windows 9x", [](sim::Workstation& ws) { ws.Win9x().Service("Other", SERVICE_RUNNING); }, 0},
        {"manager refused",
         [](sim::Workstation& ws) { ws.FailCall("OpenSCManagerA", ERROR_ACCESS_DENIED); }, 1},
        {"query fails",
         [](sim::Workstation& ws) {
             ws.Service("Other", SERVICE_RUNNING).FailCall("QueryServiceStatus", ERROR_ACCESS_DENIED);
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        c.setUp(ws);
        EXPECT_EQ(IsServiceRunning("Other"), 0);
        EXPECT_EQ(ws.Calls("OpenSCManagerA"), c.managerOpens);
        EXPECT_EQ(ws.OpenHandles(), 0);
    }
}

TEST(SystemQueries, FileExistMeansOpenableForReading) {
    struct Case {
        const char* path;
        int exists;
    };
    const Case cases[] = {
        {"C:\\Tools\\present.txt", 1},  {"C:\\Tools\\shared.txt", 1}, {"C:\\Tools\\locked.txt", 0},
        {"C:\\Tools\\missing.txt", 0},  {"C:\\Tools", 0},             {"C:\\NoFolder\\x.txt", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        sim::Workstation ws;
        ws.File("C:\\Tools\\present.txt", "text")
            .File("C:\\Tools\\shared.txt", "text")
            .Hold("C:\\Tools\\shared.txt", FILE_SHARE_READ)
            .File("C:\\Tools\\locked.txt", "text")
            .Hold("C:\\Tools\\locked.txt", 0);
        StartFreshProcess();
        EXPECT_EQ(FileExist(c.path), c.exists);
        std::string expected = std::string("[VTSU - FileExist]: File ") + c.path +
                               (c.exists ? " exists.\n" : " does not exist.\n");
        EXPECT_EQ(ws.DebugOutput(), expected);
        EXPECT_EQ(ws.OpenHandles(), 0);
        EndProcess();
    }
}

TEST(SystemQueries, ReadRegistryPathGrammar) {
    const char* const sentrel = "Software\\Ombrel Works\\Veltrane\\Sentrel";
    const std::string device = "\\\\.\\SENTREL";
    struct Case {
        const char* path;
        int status;
        std::string data;  // the value's bytes when read (status 0)
        DWORD bufferSize;
        bool noMemory;
        int keyOpens;  // RegOpenKeyExA calls: none for a root key or a malformed path
    };
    const Case cases[] = {
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\DeviceName", 0,
         device + '\0', 260, false, 1},
        {"hkey_local_machine\\software\\ombrel works\\veltrane\\sentrel\\\\devicename", 0,
         device + '\0', 260, false, 1},
        {"HKLM\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\DeviceName", 4, "", 260, false, 0},
        {"HKEY_CURRENT_CONFIG\\Software\\\\DeviceName", 4, "", 260, false, 0},
        {"HKEY_LOCAL_MACHINE", 4, "", 260, false, 0},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\DeviceName", 4, "", 260, false, 0},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\", 4, "", 260, false, 0},
        {"HKEY_USERS\\\\RootValue", 0, std::string("at the root") + '\0', 260, false, 0},
        {"HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command\\\\", 0, std::string("\"%1\" %*") + '\0',
         260, false, 1},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\DeviceName|\\\\.\\OTHER", 0,
         device + '\0', 260, false, 1},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\DeviceName   ", 0,
         device + '\0', 260, false, 1},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\DeviceName|x   ", 0,
         device + '\0', 260, false, 1},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\DeviceName |x", 2, "", 260, false, 1},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\Flags", 0,
         std::string("\x07\0\0\0", 4), 260, false, 1},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\DeviceName", 3, "",
         static_cast<DWORD>(device.size()), false, 1},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Missing\\\\DeviceName", 1, "", 260, false, 1},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\Missing", 2, "", 260, false, 1},
        {"HKEY_LOCAL_MACHINE\\Software\\Ombrel Works\\Veltrane\\Sentrel\\\\DeviceName", 100, "", 260, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        sim::Workstation ws;
        ws.RegString(HKEY_LOCAL_MACHINE, sentrel, "DeviceName", device)
            .RegData(HKEY_LOCAL_MACHINE, sentrel, "Flags", REG_DWORD, {7, 0, 0, 0})
            .RegString(HKEY_USERS, "", "RootValue", "at the root")
            .RegString(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", "", "\"%1\" %*");
        if (c.noMemory) ws.FailCall("AllocBuffer", 0);
        char buffer[300];
        memset(buffer, 0, sizeof(buffer));
        EXPECT_EQ(ReadRegistryPath(buffer, c.bufferSize, c.path), c.status);
        if (c.status == 0) {
            EXPECT_EQ(std::string(buffer, c.data.size()), c.data);
        }
        EXPECT_EQ(ws.OpenHandles(), 0);
        EXPECT_EQ(ws.Calls("RegOpenKeyExA"), c.keyOpens);
        EXPECT_EQ(ws.Calls("RegCloseKey"), c.status == 1 ? 0 : c.keyOpens);  // a root is never closed
    }
}

}  // namespace
