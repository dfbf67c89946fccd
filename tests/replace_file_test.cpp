// ReplaceFile: each result of the delete and the rename form, with every
// line it writes and its level, and what the next boot does with what was
// left for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/workstation.h"
#include "support/replace_file.h"
#include "tests/test_support.h"
#include "trace/trace_log.h"

namespace {

const char Src[] = "C:\\Data\\worm.exe";
const char Dst[] = "C:\\Data\\clean.exe";
const char InstallKey[] = "Software\\Ombrel Works\\Common\\Paths";
const char InstallDir[] = "C:\\Program Files\\Ombrel Works\\Common";

const std::string R = "[VTSU - ReplaceFile]: ";
const std::string A = "[VTSU - AddFileToAutomaticRenameList]: ";

LogLine I(const std::string& text) { return {TraceInfo, text}; }
LogLine E(const std::string& text) { return {TraceError, text}; }
LogLine Exists(const std::string& path) { return I("[VTSU - FileExist]: File " + path + " exists.\n"); }
LogLine Missing(const std::string& path) { return I("[VTSU - FileExist]: File " + path + " does not exist.\n"); }

// The lines of AddFileToAutomaticRenameList for each way it goes.
std::vector<LogLine> ByAdmin() {
    return {I(A + "System is NT.\n"), I(A + "User is admin.\n"), I(A + "Operation is executed during reboot.\n")};
}
std::vector<LogLine> AdminRefused() {
    return {I(A + "System is NT.\n"), I(A + "User is admin.\n"),
            E(A + "Operation cannot be executed during reboot.\n")};
}
std::vector<LogLine> NoSl() {
    return {I(A + "System is NT.\n"), I(A + "User is not admin.\n"),
            E(A + "No admin rights, no SL -> No renaming at reboot.\n")};
}
std::vector<LogLine> BySentrel() {
    return {I(A + "System is NT.\n"), I(A + "User is not admin.\n"),
            I(A + "Sentrel is loaded and can be used for renaming.\n"), I(A + "Sentrel will do the renaming.\n")};
}
std::vector<LogLine> ByWininit() {
    return {I(A + "System is not NT.\n"), I(A + "Operation will be executed during reboot.\n")};
}

std::vector<LogLine> Join(std::initializer_list<std::vector<LogLine>> parts) {
    std::vector<LogLine> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

void Free(sim::Workstation& ws) { ws.File(Src, "worm"); }
void InUse(sim::Workstation& ws) { ws.File(Src, "worm").Hold(Src, FILE_SHARE_READ); }
void User(sim::Workstation& ws) { ws.Admin(false); }
void Sentrel(sim::Workstation& ws, DWORD state) {
    ws.Admin(false).Service("Veltrane Sentrel", state);
    ws.RegString(HKEY_LOCAL_MACHINE, InstallKey, "Common", InstallDir);
    ws.Dir(InstallDir);
}

// What the files are after the call, and after the next boot.
struct Files {
    std::string src;  // "" when gone
    std::string dst;
};

Files Look(sim::Workstation& ws) { return {ws.Read(Src), ws.Read(Dst)}; }

struct Case {
    const char* name;
    std::function<void(sim::Workstation&)> build;
    std::function<void(sim::Workstation&)> faults;  // applied once the log is open
    const char* newName;
    ReplaceResult result;
    std::vector<LogLine> lines;
    Files afterCall;
    Files afterBoot;
};

void Check(const Case& c) {
    for (int maxLevel : {TraceInfo, TraceError}) {
        sim::Workstation ws;
        ws.Dir("C:\\Data");
        c.build(ws);
        ReplaceResult result = -1;
        std::string log = RunLogged(ws, maxLevel, [&] {
            if (c.faults) c.faults(ws);
            result = ReplaceFile("", Src, c.newName);
        });
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(log, LogText(c.lines, maxLevel)) << c.name << " at level " << maxLevel;
        EXPECT_EQ(ws.OpenHandles(), 0) << c.name;
        Files now = Look(ws);
        EXPECT_EQ(now.src, c.afterCall.src) << c.name;
        EXPECT_EQ(now.dst, c.afterCall.dst) << c.name;
        ws.Reboot();
        Files booted = Look(ws);
        EXPECT_EQ(booted.src, c.afterBoot.src) << c.name << " after the boot";
        EXPECT_EQ(booted.dst, c.afterBoot.dst) << c.name << " after the boot";
    }
}

}  // namespace

TEST(ReplaceFile, DeleteForm) {
    const std::string s = Src;
    const std::vector<LogLine> found = {I(R + "Delete operation (" + s + ").\n"), Exists(s),
                                        I(R + "Src file exists (" + s + ").\n")};
    const std::vector<LogLine> refused = {E(R + "Failed to delete the file (" + s + ").\n")};
    const std::vector<LogLine> notFound = {I(R + "Delete operation (" + s + ").\n"), Missing(s),
                                           E(R + "Src file does not exist (" + s + ").\n")};
    const LogLine willGo = I(R + "File will be deleted during reboot (" + s + ").\n");
    const LogLine cannotGo = E(R + "File cannot be deleted during reboot (" + s + ").\n");
    const Case cases[] = {
        {"missing", [](sim::Workstation&) {}, nullptr, nullptr, 0, notFound, {"", ""}, {"", ""}},
        {"a directory", [](sim::Workstation& ws) { ws.Dir(Src); }, nullptr, nullptr, 0, notFound, {"", ""}, {"", ""}},
        // Held against reading: it cannot be told from a missing file.
        {"held without read sharing", [](sim::Workstation& ws) { ws.File(Src, "worm").Hold(Src, 0); }, nullptr,
         nullptr, 0, notFound, {"worm", ""}, {"worm", ""}},
        {"free", Free, nullptr, nullptr, 1, Join({found, {I(R + "File was deleted (" + s + ").\n")}}), {"", ""},
         {"", ""}},
        {"not found when deleted", Free,
         [](sim::Workstation& ws) { ws.FailCall("DeleteFileA", ERROR_FILE_NOT_FOUND); }, nullptr, 0,
         Join({found, refused, {E(R + "File not found or it is a directory (" + s + ").\n")}}), {"worm", ""},
         {"worm", ""}},
        {"in use, administrator", InUse, nullptr, nullptr, 2, Join({found, refused, ByAdmin(), {willGo}}),
         {"worm", ""}, {"", ""}},
        // Wine's boot does not delete a read-only file either.
        {"read-only, administrator", [](sim::Workstation& ws) { ws.File(Src, "worm", FILE_ATTRIBUTE_READONLY); },
         nullptr, nullptr, 2, Join({found, refused, ByAdmin(), {willGo}}), {"worm", ""}, {"worm", ""}},
        {"in use, boot list refused", InUse,
         [](sim::Workstation& ws) { ws.FailCall("MoveFileExA", ERROR_ACCESS_DENIED); }, nullptr, 4,
         Join({found, refused, AdminRefused(), {cannotGo}}), {"worm", ""}, {"worm", ""}},
        {"in use, user with the service running",
         [](sim::Workstation& ws) {
             InUse(ws);
             Sentrel(ws, SERVICE_RUNNING);
         },
         nullptr, nullptr, 4, Join({found, refused, NoSl(), {cannotGo}}), {"worm", ""}, {"worm", ""}},
        {"in use, Windows 9x",
         [](sim::Workstation& ws) {
             InUse(ws);
             ws.Win9x();
         },
         nullptr, nullptr, 2, Join({found, refused, ByWininit(), {willGo}}), {"worm", ""}, {"", ""}},
    };
    for (const Case& c : cases) Check(c);
}

TEST(ReplaceFile, UsersDeletionNeverAsksTheService) {
    sim::Workstation ws;
    InUse(ws);
    Sentrel(ws, SERVICE_RUNNING);
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(ReplaceFile("", Src, nullptr), 4); });
    EXPECT_EQ(ws.Calls("OpenSCManagerA"), 0);
}

TEST(ReplaceFile, RenameForm) {
    const std::string s = Src, d = Dst;
    const std::vector<LogLine> start = {I(R + "Rename operation (" + s + " -> " + d + ").\n"), Exists(s),
                                        I(R + "Src file exists (" + s + ").\n")};
    const std::vector<LogLine> dstThere = {Exists(d), I(R + "Dest file exists (" + d + ").\n")};
    const std::vector<LogLine> dstGone = {I(R + "Dest file deleted (" + d + ").\n")};
    const std::vector<LogLine> dstRefused = {E(R + "Failed to delete the file (" + d + ").\n")};
    const LogLine dstWillGo = I(R + "File will be deleted during reboot (" + d + ").\n");
    const LogLine dstCannotGo = E(R + "File cannot be deleted during reboot (" + d + ").\n");
    const LogLine renamed = I(R + "Src file was successfully renamed (" + s + " -> " + d + ").\n");
    const LogLine renameRefused = E(R + "Failed to rename the source file (" + s + ").\n");
    const LogLine willRename = I(R + "Src file will be renamed during reboot(" + s + " -> " + d + ").\n");
    const LogLine cannotRename = E(R + "Src file cannot be renamed during reboot(" + s + " -> " + d + ").\n");
    auto dst = [](sim::Workstation& ws) { ws.File(Dst, "clean"); };
    auto dstInUse = [](sim::Workstation& ws) { ws.File(Dst, "clean").Hold(Dst, FILE_SHARE_READ); };
    const Case cases[] = {
        {"source missing", [](sim::Workstation&) {}, nullptr, Dst, 0,
         {I(R + "Rename operation (" + s + " -> " + d + ").\n"), Missing(s),
          E(R + "Src file does not exist (" + s + ").\n")},
         {"", ""}, {"", ""}},
        {"no destination", Free, nullptr, Dst, 1, Join({start, {Missing(d), renamed}}), {"", "worm"}, {"", "worm"}},
        {"free destination",
         [&](sim::Workstation& ws) {
             Free(ws);
             dst(ws);
         },
         nullptr, Dst, 1, Join({start, dstThere, dstGone, {renamed}}), {"", "worm"}, {"", "worm"}},
        {"destination in use, administrator",
         [&](sim::Workstation& ws) {
             Free(ws);
             dstInUse(ws);
         },
         nullptr, Dst, 2,
         Join({start, dstThere, dstRefused, ByAdmin(), {dstWillGo}, ByAdmin(),
               {I(R + "Src file will be deleted during reboot (" + s + ").\n")}}),
         {"worm", "clean"}, {"", "worm"}},
        {"destination in use, its deletion refused",
         [&](sim::Workstation& ws) {
             Free(ws);
             dstInUse(ws);
             Sentrel(ws, SERVICE_RUNNING);
         },
         nullptr, Dst, 4, Join({start, dstThere, dstRefused, NoSl(), {dstCannotGo}}), {"worm", "clean"},
         {"worm", "clean"}},
        {"destination in use, the rename refused",
         [&](sim::Workstation& ws) {
             Free(ws);
             dstInUse(ws);
         },
         [](sim::Workstation& ws) { ws.FailCall("MoveFileExA", ERROR_ACCESS_DENIED, 1); }, Dst, 3,
         Join({start, dstThere, dstRefused, ByAdmin(), {dstWillGo}, AdminRefused(),
               {E(R + "Src file cannot be deleted during reboot (" + s + ").\n")}}),
         {"worm", "clean"}, {"worm", ""}},
        {"destination not deletable for another reason",
         [&](sim::Workstation& ws) {
             Free(ws);
             dst(ws);
         },
         [](sim::Workstation& ws) { ws.FailCall("DeleteFileA", ERROR_FILE_NOT_FOUND); }, Dst, 4,
         Join({start, dstThere, dstRefused, {E(R + "Dest file is a directory (" + d + ").\n")}}),
         {"worm", "clean"}, {"worm", "clean"}},
        {"source in use, administrator", InUse, nullptr, Dst, 2,
         Join({start, {Missing(d), renameRefused}, ByAdmin(), {willRename}}), {"worm", ""}, {"", "worm"}},
        {"source in use, through the service",
         [](sim::Workstation& ws) {
             InUse(ws);
             Sentrel(ws, SERVICE_RUNNING);
         },
         nullptr, Dst, 2, Join({start, {Missing(d), renameRefused}, BySentrel(), {willRename}}), {"worm", ""},
         {"", "worm"}},
        {"source in use, nothing can schedule it",
         [](sim::Workstation& ws) {
             InUse(ws);
             User(ws);
         },
         nullptr, Dst, 4, Join({start, {Missing(d), renameRefused}, NoSl(), {cannotRename}}), {"worm", ""},
         {"worm", ""}},
        {"source in use, destination deleted first",
         [&](sim::Workstation& ws) {
             InUse(ws);
             dst(ws);
             User(ws);
         },
         nullptr, Dst, 3, Join({start, dstThere, dstGone, {renameRefused}, NoSl(), {cannotRename}}), {"worm", ""},
         {"worm", ""}},
    };
    for (const Case& c : cases) Check(c);
}

TEST(ReplaceFile, ScheduledRenameDeletesTheDestinationFirst) {
    sim::Workstation ws;
    ws.File(Src, "worm").File(Dst, "clean").Hold(Dst, FILE_SHARE_READ);
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(ReplaceFile("", Src, Dst), 2); });
    ASSERT_EQ(ws.pendingMoves.size(), 2u);
    EXPECT_EQ(ws.pendingMoves[0].from, Dst);
    EXPECT_EQ(ws.pendingMoves[0].to, "");
    EXPECT_EQ(ws.pendingMoves[1].from, Src);
    EXPECT_EQ(ws.pendingMoves[1].to, Dst);
}

TEST(ReplaceFile, Win9xRenameGoesIntoWininit) {
    sim::Workstation ws;
    ws.Win9x().File(Src, "worm").Hold(Src, FILE_SHARE_READ);
    RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(ReplaceFile("C:\\Data\\", "worm.exe", "clean.exe"), 2); });
    // The target was made as a placeholder, so that it has a short name.
    EXPECT_EQ(ws.Read(Dst), "Delete me!");
    EXPECT_EQ(ws.Read("C:\\WINDOWS\\WININIT.INI"), "[rename]\r\nC:\\Data\\clean.exe=C:\\Data\\worm.exe");
    ws.Reboot();
    EXPECT_EQ(ws.Read(Dst), "worm");
    EXPECT_FALSE(ws.Exists(Src));
}

TEST(ReplaceFile, DirectoryAndNameAreJoinedAsGiven) {
    struct Case {
        const char* directory;
        const char* name;
        const char* path;
        ReplaceResult result;
    } cases[] = {
        {"", "C:\\Data\\worm.exe", "C:\\Data\\worm.exe", 1},
        {"C:\\Data\\", "worm.exe", "C:\\Data\\worm.exe", 1},
        {"C:\\Data", "worm.exe", "C:\\Dataworm.exe", 0},
    };
    for (const Case& c : cases) {
        sim::Workstation ws;
        ws.File(Src, "worm");
        std::string log = RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(ReplaceFile(c.directory, c.name, nullptr), c.result); });
        EXPECT_EQ(log.substr(0, log.find('\n') + 1), R + "Delete operation (" + c.path + ").\r\n");
        EXPECT_EQ(ws.Exists(Src), c.result == 0);
    }
}

TEST(ReplaceFile, TooLongForItsBuffersIsRefused) {
    // 263 characters fit the 264-character buffers; 264 do not.
    std::string dir = "C:\\" + std::string(200, 'd') + "\\";
    std::string fits(263 - dir.size(), 'n');
    std::string tooLong(264 - dir.size(), 'n');
    struct Case {
        const char* name;
        std::string file;
        const char* newName;
        std::string newNameText;
        ReplaceResult result;
        std::string logStart;
    } cases[] = {
        // Composed whole, and then refused by the ANSI calls, which take no
        // path of MAX_PATH characters or more: nothing to do, nothing cut.
        {"delete, fits", fits, nullptr, "", 0, R + "Delete operation (" + dir + fits + ").\r\n"},
        {"delete, too long", tooLong, nullptr, "", 4, R + "Path is too long (" + dir + tooLong + ").\r\n"},
        {"rename, new name too long", "a.exe", "", tooLong, 4, R + "Path is too long (" + dir + tooLong + ").\r\n"},
        {"rename, name too long", tooLong, "", "b.exe", 4, R + "Path is too long (" + dir + tooLong + ").\r\n"},
    };
    for (const Case& c : cases) {
        sim::Workstation ws;
        ws.Dir(dir).File(dir + c.file, "worm");
        const char* newName = c.newName ? c.newNameText.c_str() : nullptr;
        std::string log =
            RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(ReplaceFile(dir.c_str(), c.file.c_str(), newName), c.result) << c.name; });
        EXPECT_EQ(log.substr(0, log.find('\n') + 1), c.logStart) << c.name;
        if (c.result == 4) {
            EXPECT_EQ(log, c.logStart) << c.name;  // the one line, and nothing done
        }
        EXPECT_EQ(ws.Read(dir + c.file), "worm") << c.name;
    }
}

// A refused deletion goes to the boot only when the runtime reports EACCES,
// which it does for exactly these Win32 errors.
TEST(ReplaceFile, RefusalsOfTheAccessKind) {
    const DWORD access[] = {5, 16, 19, 20, 25, 31, 32, 33, 34, 35, 36, 65, 82, 83, 108, 132, 158, 167};
    const DWORD other[] = {1, 2, 3, 4, 6, 15, 17, 18, 37, 50, 80, 87, 131, 183, 206};
    for (bool accessKind : {true, false}) {
        for (DWORD error : accessKind ? std::vector<DWORD>(std::begin(access), std::end(access))
                                      : std::vector<DWORD>(std::begin(other), std::end(other))) {
            sim::Workstation ws;
            ws.File(Src, "worm");
            ReplaceResult result = -1;
            RunLogged(ws, TraceInfo, [&] {
                ws.FailCall("DeleteFileA", error);
                result = ReplaceFile("", Src, nullptr);
            });
            EXPECT_EQ(result, accessKind ? 2 : 0) << error;
            EXPECT_EQ(ws.pendingMoves.size(), accessKind ? 1u : 0u) << error;
        }
    }
}
