// The fixed-disk sweep on the simulated workstation: which drives and folders
// it walks, in what order, how it stops, and what DeleteIfInfected does with
// each outcome of a deletion.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "cleanup/disk_sweep.h"
#include "cleanup/signature_matcher.h"
#include "e2e/worm_sample.h"
#include "tests/fresh_process.h"
#include "tests/test_support.h"
#include "trace/trace_log.h"

namespace {

struct Seen {
    std::string path;
    int isDirectory;
    std::string name;  // cFileName of the find data handed over
    bool operator==(const Seen& other) const {
        return path == other.path && isDirectory == other.isDirectory;
    }
};

std::vector<Seen> g_seen;
// The callback's answer for a path; 0 for every other one.
std::string g_stopPath;
int g_stopValue = 0;

int Record(const char* path, const WIN32_FIND_DATAA* findData, int isDirectory) {
    g_seen.push_back(Seen{path, isDirectory, findData->cFileName});
    return g_stopPath == path ? g_stopValue : 0;
}

class DiskSweep : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        g_stopPath.clear();
        g_stopValue = 0;
        StartFreshProcess();
    }
    void TearDown() override { EndProcess(); }

    std::vector<std::string> Paths() const {
        std::vector<std::string> paths;
        for (const Seen& seen : g_seen) paths.push_back(seen.path);
        return paths;
    }
};

std::vector<uint8_t> Worm() { return worm_sample::MakeSample(12000, SignatureTable[4].crc); }

TEST_F(DiskSweep, WalksTheOneFixedDiskAndNeverEntersOtherDrives) {
    sim::Workstation ws;
    ws.AddDrive('A', DRIVE_REMOVABLE)
        .AddDrive('D', DRIVE_CDROM)
        .AddDrive('N', DRIVE_REMOTE)
        .AddDrive('R', DRIVE_RAMDISK)
        .File("A:\\floppy.exe", "a")
        .File("D:\\setup\\cd.exe", "d")
        .File("N:\\share\\net.exe", "n")
        .File("R:\\ram.exe", "r")
        .File("C:\\autoexec.bat", "c")
        .File("C:\\WINDOWS\\win.ini", "[windows]\r\n");

    EXPECT_EQ(SweepFixedDisks(Record), 0);

    std::vector<Seen> expected = {{"C:\\autoexec.bat", 0, ""},
                                  {"C:\\Tools", 1, ""},
                                  {"C:\\WINDOWS", 1, ""},
                                  {"C:\\WINDOWS\\win.ini", 0, ""}};
    EXPECT_EQ(g_seen, expected);
    // One listing per folder of C: (root, Tools, WINDOWS) and none elsewhere.
    EXPECT_EQ(ws.Calls("FindFirstFileA"), 3);
    EXPECT_EQ(ws.Calls("FindClose"), 3);
    EXPECT_EQ(ws.Calls("GetDriveTypeA"), 5);
}

TEST_F(DiskSweep, WalksEveryFixedDiskInDriveOrder) {
    sim::Workstation ws;
    ws.AddDrive('E', DRIVE_FIXED).AddDrive('D', DRIVE_CDROM).File("E:\\data\\e.txt", "e");
    ws.File("C:\\c.txt", "c");

    EXPECT_EQ(SweepFixedDisks(Record), 0);

    EXPECT_EQ(Paths(), (std::vector<std::string>{"C:\\c.txt", "C:\\Tools", "C:\\WINDOWS",
                                                 "E:\\data", "E:\\data\\e.txt"}));
}

TEST_F(DiskSweep, FolderWithOnlyDotEntriesGivesNoCallback) {
    sim::Workstation ws;
    ws.Dir("C:\\Empty");

    EXPECT_EQ(WalkDirectory("C:\\Empty\\", Record), 0);

    EXPECT_TRUE(g_seen.empty());
    // "." and ".." were listed (the first search and one more), then the end.
    EXPECT_EQ(ws.Calls("FindFirstFileA"), 1);
    EXPECT_EQ(ws.Calls("FindNextFileA"), 2);
    EXPECT_EQ(ws.Calls("FindClose"), 1);
}

TEST_F(DiskSweep, FolderIsReportedBeforeItsContentsInListingOrder) {
    sim::Workstation ws;
    ws.AddDrive('E', DRIVE_FIXED)
        .File("E:\\a.txt", "a")
        .File("E:\\D\\F", "f")
        .File("E:\\D\\Sub\\deep.dll", "x")
        .Dir("E:\\.config")
        .File("E:\\z.txt", "z", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)
        .File("E:\\ro.txt", "r", FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(WalkDirectory("E:\\", Record), 0);

    // Folder paths come without their trailing backslash and with flag 1;
    // hidden, system and read-only entries are handled like any other.
    std::vector<Seen> expected = {{"E:\\.config", 1, ""},  {"E:\\a.txt", 0, ""},
                                  {"E:\\D", 1, ""},        {"E:\\D\\F", 0, ""},
                                  {"E:\\D\\Sub", 1, ""},   {"E:\\D\\Sub\\deep.dll", 0, ""},
                                  {"E:\\ro.txt", 0, ""},   {"E:\\z.txt", 0, ""}};
    EXPECT_EQ(g_seen, expected);
    // The find data is the entry's own.
    ASSERT_EQ(g_seen.size(), expected.size());
    EXPECT_EQ(g_seen[2].name, "D");
    EXPECT_EQ(g_seen[5].name, "deep.dll");
}

TEST_F(DiskSweep, WalkWithoutCallbackOnlyDescends) {
    sim::Workstation ws;
    ws.AddDrive('E', DRIVE_FIXED).File("E:\\a\\b\\c\\f.txt", "f").Dir("E:\\x");

    EXPECT_EQ(WalkDirectory("E:\\", nullptr), 0);

    EXPECT_EQ(ws.Calls("FindFirstFileA"), 5);  // E:\, a, b, c, x
    EXPECT_EQ(ws.Calls("FindClose"), 5);
}

struct StopCase {
    const char* name;
    const char* stopPath;
    std::vector<std::string> seen;
};

class DiskSweepStop : public DiskSweep, public ::testing::WithParamInterface<StopCase> {};

TEST_P(DiskSweepStop, StopValueEndsTheWalkTheSweepAndEveryLaterDrive) {
    sim::Workstation ws;
    ws.AddDrive('E', DRIVE_FIXED)
        .File("E:\\later.txt", "e")
        .File("C:\\Tools\\a.txt", "a")
        .File("C:\\Tools\\stop.txt", "s")
        .File("C:\\Tools\\Sub\\inner.txt", "i")
        .File("C:\\Tools\\z.txt", "z")
        .File("C:\\WINDOWS\\win.ini", "w");
    g_stopPath = GetParam().stopPath;
    g_stopValue = 7;

    EXPECT_EQ(SweepFixedDisks(Record), 7);

    EXPECT_EQ(Paths(), GetParam().seen);
    // Every listing that was opened was closed on the way out.
    EXPECT_EQ(ws.Calls("FindClose"), ws.Calls("FindFirstFileA"));

    g_seen.clear();
    EXPECT_EQ(WalkDirectory("C:\\", Record), 7);
    EXPECT_EQ(Paths(), GetParam().seen);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiskSweepStop,
    ::testing::Values(
        StopCase{"AtAFile", "C:\\Tools\\stop.txt",
                 {"C:\\Tools", "C:\\Tools\\a.txt", "C:\\Tools\\stop.txt"}},
        StopCase{"AtAFolder", "C:\\Tools\\Sub",
                 {"C:\\Tools", "C:\\Tools\\a.txt", "C:\\Tools\\stop.txt", "C:\\Tools\\Sub"}},
        StopCase{"DeepInside", "C:\\Tools\\Sub\\inner.txt",
                 {"C:\\Tools", "C:\\Tools\\a.txt", "C:\\Tools\\stop.txt", "C:\\Tools\\Sub",
                  "C:\\Tools\\Sub\\inner.txt"}}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST_F(DiskSweep, UnlistableFolderIsPassedOver) {
    sim::Workstation ws;
    ws.File("C:\\Secret\\hidden.exe", "h").Unlistable("C:\\Secret").File("C:\\Tools\\t.txt", "t");

    EXPECT_EQ(SweepFixedDisks(Record), 0);

    EXPECT_EQ(Paths(), (std::vector<std::string>{"C:\\Secret", "C:\\Tools", "C:\\Tools\\t.txt",
                                                 "C:\\WINDOWS"}));
}

struct AllocationCase {
    int callsToSkip;  // levels that get their buffer before one does not
    std::vector<std::string> seen;
};

class DiskSweepAllocation : public DiskSweep,
                            public ::testing::WithParamInterface<AllocationCase> {};

TEST_P(DiskSweepAllocation, FailedLevelBufferEndsTheWholeSweepWithOne) {
    sim::Workstation ws;
    ws.AddDrive('E', DRIVE_FIXED)
        .File("E:\\e.txt", "e")
        .File("C:\\Tools\\Sub\\s.txt", "s")
        .File("C:\\Tools\\t.txt", "t");
    ws.FailCall("AllocBuffer", ERROR_NOT_ENOUGH_MEMORY, GetParam().callsToSkip);

    EXPECT_EQ(SweepFixedDisks(Record), 1);

    EXPECT_EQ(Paths(), GetParam().seen);
    EXPECT_EQ(ws.Calls("FindClose"), ws.Calls("FindFirstFileA"));
}

INSTANTIATE_TEST_SUITE_P(Levels, DiskSweepAllocation,
                         ::testing::Values(AllocationCase{0, {}},
                                           AllocationCase{1, {"C:\\Tools"}},
                                           AllocationCase{2, {"C:\\Tools", "C:\\Tools\\Sub"}}));

// A tree deep enough to reach the end of the 64000-byte buffer: entries whose
// path fits are reported, the first ones that would not fit are passed over.
TEST_F(DiskSweep, NamesThatWouldNotFitTheBufferArePassedOver) {
    sim::Workstation ws;
    ws.AddDrive('E', DRIVE_FIXED);
    const std::string level(200, 'd');
    std::string path = "E:";
    std::string deepest;  // the deepest folder whose listing pattern still fits
    for (int depth = 1; depth <= 330; ++depth) {
        path += "\\" + level;
        if (path.size() + std::string("\\*.*").size() + 1 <= 64000) deepest = path;
    }
    ws.Dir(path);
    // In the deepest walked folder: names that just fit and names one longer.
    const size_t room = 64000 - (deepest.size() + 1) - 1;  // bytes left for a name
    const std::string fileFits = deepest + "\\" + std::string(room, 'f');
    const std::string fileTooLong = deepest + "\\" + std::string(room + 1, 'g');
    const std::string folderFits = deepest + "\\" + std::string(room - 4, 'h');
    const std::string folderTooLong = deepest + "\\" + std::string(room - 3, 'i');
    ws.File(fileFits, "1").File(fileTooLong, "2").Dir(folderFits).Dir(folderTooLong);

    EXPECT_EQ(WalkDirectory("E:\\", Record), 0);

    size_t longest = 0;
    bool sawFileFits = false, sawFolderFits = false, sawTooLong = false, sawBelowDeepest = false;
    for (const Seen& seen : g_seen) {
        longest = std::max(longest, seen.path.size());
        sawFileFits |= seen.path == fileFits;
        sawFolderFits |= seen.path == folderFits;
        sawTooLong |= seen.path == fileTooLong || seen.path == folderTooLong;
        sawBelowDeepest |= seen.path.size() > deepest.size() + 1 + level.size() &&
                           seen.path.compare(0, deepest.size() + 1 + level.size(),
                                             deepest + "\\" + level) == 0;
    }
    EXPECT_TRUE(sawFileFits);
    EXPECT_TRUE(sawFolderFits);
    EXPECT_FALSE(sawTooLong);
    EXPECT_FALSE(sawBelowDeepest);
    EXPECT_EQ(longest, 63999u);  // the terminator takes the last byte
}

// ---- DeleteIfInfected ----------------------------------------------------

const char* const kWorm = "C:\\Program Files\\Worm Dir\\kurrel.exe";

struct DeleteCase {
    const char* name;
    std::function<void(sim::Workstation&)> situation;
    int result;
    int failures;
    bool fileGoneNow;
    bool fileGoneAfterReboot;
    const char* console;
};

class DeleteIfInfectedCase : public DiskSweep, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteIfInfectedCase, AccountsForEachDeletionResult) {
    const DeleteCase& c = GetParam();
    sim::Workstation ws;
    ws.FileBytes(kWorm, Worm(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    c.situation(ws);
    SetLogFile(TestLogPath, "a+");
    WIN32_FIND_DATAA found;
    memset(&found, 0, sizeof(found));
    strcpy(found.cFileName, "kurrel.exe");

    int returned;
    std::string console;
    {
        ConsoleCapture capture;
        returned = DeleteIfInfected(kWorm, &found, 0);
        console = capture.Text();
    }
    EndProcess();

    EXPECT_EQ(returned, 0);
    EXPECT_EQ(console, c.console);
    EXPECT_EQ(g_removalOutcome.infectionState, InfectionPresent);
    EXPECT_EQ(g_removalOutcome.failureCount, c.failures);
    EXPECT_EQ(SweepLines(ws.Read(TestLogPath)),
              (std::vector<std::string>{
                  std::string("Found infection \"") + kWorm + "\"",
                  std::string("Deleting file \"") + kWorm + "\", result=" + std::to_string(c.result)}));
    EXPECT_EQ(!ws.Exists(kWorm), c.fileGoneNow);
    ws.Reboot();
    EXPECT_EQ(!ws.Exists(kWorm), c.fileGoneAfterReboot);
}

INSTANTIATE_TEST_SUITE_P(
    Results, DeleteIfInfectedCase,
    ::testing::Values(
        DeleteCase{"FreeFileIsDeleted", [](sim::Workstation&) {}, 1, 0, true, true, ""},
        DeleteCase{"HeldFileIsLeftForTheNextBoot",
                   [](sim::Workstation& ws) { ws.Hold(kWorm, FILE_SHARE_READ); }, 2, 0, false, true,
                   ""},
        DeleteCase{"HeldFileOn9xGoesToWininit",
                   [](sim::Workstation& ws) { ws.Win9x().Hold(kWorm, FILE_SHARE_READ); }, 2, 0,
                   false, true, ""},
        DeleteCase{"HeldFileThatCannotBeScheduledFails",
                   [](sim::Workstation& ws) {
                       ws.Hold(kWorm, FILE_SHARE_READ).FailCall("MoveFileExA", ERROR_ACCESS_DENIED);
                   },
                   4, 1, false, false, ""},
        DeleteCase{"HeldFileOfAnOrdinaryUserFails",
                   [](sim::Workstation& ws) { ws.Admin(false).Hold(kWorm, FILE_SHARE_READ); }, 4, 1,
                   false, false, ""},
        DeleteCase{"FileGoneBeforeItsDeletionPrintsANewline",
                   [](sim::Workstation& ws) {
                       // Something else removes it between the test and the delete.
                       ws.OnCall("DeleteFileA", 1, [&ws] { ws.RemoveNode(ws.Find(kWorm)); });
                   },
                   0, 0, true, true, "\n"}),
    [](const ::testing::TestParamInfo<DeleteCase>& info) { return std::string(info.param.name); });

TEST_F(DiskSweep, CleanFilesAndFoldersAreLeftAloneSilently) {
    sim::Workstation ws;
    std::vector<uint8_t> nearMiss = Worm();
    nearMiss[5000] ^= 1;
    ws.FileBytes("C:\\near.exe", nearMiss).File("C:\\small.exe", "MZ").Dir("C:\\Folder");
    SetLogFile(TestLogPath, "a+");

    std::string console;
    {
        ConsoleCapture capture;
        EXPECT_EQ(SweepFixedDisks(DeleteIfInfected), 0);
        console = capture.Text();
    }
    EndProcess();

    EXPECT_EQ(console, "");
    EXPECT_EQ(ws.Read(TestLogPath), "");
    EXPECT_TRUE(ws.Exists("C:\\near.exe"));
    EXPECT_EQ(g_removalOutcome.infectionState, InfectionNotFound);
}

TEST_F(DiskSweep, EveryInfectedFileIsDeletedAndTheWalkGoesOn) {
    sim::Workstation ws;
    ws.AddDrive('E', DRIVE_FIXED)
        .FileBytes("C:\\a\\one.exe", worm_sample::MakeSample(8192, SignatureTable[0].crc))
        .FileBytes("C:\\a\\b\\two.scr", worm_sample::MakeSample(20000, SignatureTable[18].crc, 7))
        .FileBytes("E:\\three.pif", Worm())
        .File("C:\\a\\keep.txt", "keep");
    SetLogFile(TestLogPath, "a+");

    EXPECT_EQ(SweepFixedDisks(DeleteIfInfected), 0);
    EndProcess();

    EXPECT_FALSE(ws.Exists("C:\\a\\one.exe"));
    EXPECT_FALSE(ws.Exists("C:\\a\\b\\two.scr"));
    EXPECT_FALSE(ws.Exists("E:\\three.pif"));
    EXPECT_TRUE(ws.Exists("C:\\a\\keep.txt"));
    EXPECT_EQ(SweepLines(ws.Read(TestLogPath)),
              (std::vector<std::string>{"Found infection \"C:\\a\\b\\two.scr\"",
                                        "Deleting file \"C:\\a\\b\\two.scr\", result=1",
                                        "Found infection \"C:\\a\\one.exe\"",
                                        "Deleting file \"C:\\a\\one.exe\", result=1",
                                        "Found infection \"E:\\three.pif\"",
                                        "Deleting file \"E:\\three.pif\", result=1"}));
    EXPECT_EQ(g_removalOutcome.infectionState, InfectionPresent);
    EXPECT_EQ(g_removalOutcome.failureCount, 0);
}

}  // namespace
