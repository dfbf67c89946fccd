// The fixed-disk sweep on the simulated workstation: which drives and folders
// it walks, in what order, how it stops, and what DeleteIfInfected does with
// each outcome of a deletion.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "cleanup/disk_sweep.h"
#include "cleanup/signature_matcher.h"
#include "samples/worm_sample.h"
#include "sim/code_page.h"
#include "tests/fresh_process.h"
#include "tests/test_support.h"
#include "trace/trace_log.h"

namespace {

struct Seen {
    std::string path;
    int isDirectory;
    std::string name;  // cFileName of the find data handed over
    std::string wide = "";  // the wide path handed over (as UTF-8), or ""
    bool operator==(const Seen& other) const {
        return path == other.path && isDirectory == other.isDirectory;
    }
};

std::vector<Seen> g_seen;
// The callback's answer for a path; 0 for every other one.
std::string g_stopPath;
int g_stopValue = 0;

int Record(const char* path, const WIN32_FIND_DATAA* findData, int isDirectory, const WCHAR* widePath) {
    std::string wide;
    if (widePath) {
        size_t length = 0;
        while (widePath[length]) ++length;
        wide = sim::Utf8(std::u16string(reinterpret_cast<const char16_t*>(widePath), length));
    }
    g_seen.push_back(Seen{path, isDirectory, findData->cFileName, wide});
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
    EXPECT_EQ(ws.Calls("FindFirstFileW"), 3);
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
    EXPECT_EQ(ws.Calls("FindFirstFileW"), 1);
    EXPECT_EQ(ws.Calls("FindNextFileW"), 2);
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

    EXPECT_EQ(ws.Calls("FindFirstFileW"), 5);  // E:\, a, b, c, x
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
    EXPECT_EQ(ws.Calls("FindClose"), ws.Calls("FindFirstFileW"));

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
    const char* name;
    bool nt;
    // Allocations before the one that fails. Windows 9x: the root's level
    // buffer, then one level buffer per folder. NT: the walk's buffers, once
    // for the run.
    int callsToSkip;
    std::vector<std::string> seen;
};

class DiskSweepAllocation : public DiskSweep,
                            public ::testing::WithParamInterface<AllocationCase> {};

TEST_P(DiskSweepAllocation, FailedBufferEndsTheWholeSweepWithOne) {
    sim::Workstation ws;
    if (!GetParam().nt) ws.Win9x();
    ws.AddDrive('E', DRIVE_FIXED)
        .File("E:\\e.txt", "e")
        .File("C:\\Tools\\Sub\\s.txt", "s")
        .File("C:\\Tools\\t.txt", "t");
    ws.FailCall("AllocBuffer", ERROR_NOT_ENOUGH_MEMORY, GetParam().callsToSkip);

    std::string log = RunLogged(ws, TraceError, [&] { EXPECT_EQ(SweepFixedDisks(Record), 1); });

    EXPECT_EQ(Paths(), GetParam().seen);
    EXPECT_EQ(ws.Calls("FindClose"), ws.Calls("FindFirstFileA") + ws.Calls("FindFirstFileW"));
    // Never a silent end: the sweep's end says it could not go on.
    EXPECT_NE(log, "");
    EXPECT_EQ(g_removalOutcome.failureCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Levels, DiskSweepAllocation,
                         ::testing::Values(AllocationCase{"Win9xRoot", false, 0, {}},
                                           AllocationCase{"Win9xFolder", false, 1, {"C:\\Tools"}},
                                           AllocationCase{"Win9xDeeper", false, 2, {"C:\\Tools", "C:\\Tools\\Sub"}},
                                           AllocationCase{"NtPath", true, 0, {}},
                                           AllocationCase{"NtShownPath", true, 1, {}},
                                           AllocationCase{"NtLevels", true, 2, {}}),
                         [](const ::testing::TestParamInfo<AllocationCase>& info) {
                             return std::string(info.param.name);
                         });

// The ANSI calls take no path of MAX_PATH (260) characters or more. On
// Windows 9x, a file whose path is that long could never be opened, and a
// folder whose listing pattern is could never be listed: each is reported at
// level 1 and counts a failure, since either may hold the worm. The NT
// family walks by wide names as deep as the system allows: every entry is
// reached, and a copy of the worm in it is removed.
TEST_F(DiskSweep, PathsTooLongForTheAnsiCalls) {
    const std::string level(50, 'd');
    std::string deep = "E:";
    for (int depth = 0; depth < 4; ++depth) deep += "\\" + level;  // 206 characters
    const std::string listable = deep + "\\" + std::string(45, 'l');  // 252: "\\*.*" still fits
    const std::string fits = listable + "\\ok.exe";                       // 259
    const std::string fileTooLong = listable + "\\too long.exe";          // 265
    const std::string folderTooLong = listable + "\\deeper";              // 259, "\\*.*" does not fit
    const std::string inside = folderTooLong + "\\worm.exe";
    for (bool nt : {false, true}) {
        SCOPED_TRACE(nt ? "NT" : "Windows 9x");
        sim::Workstation ws;
        if (!nt) ws.Win9x();
        ws.AddDrive('E', DRIVE_FIXED);
        ws.File(fits, "1").File(fileTooLong, "2").FileBytes(inside, Worm());
        g_seen.clear();
        std::string log = RunLogged(ws, TraceError, [&] { EXPECT_EQ(WalkDirectory("E:\\", Record), 0); });

        std::vector<std::string> paths = Paths();
        auto seen = [&](const std::string& path) { return std::find(paths.begin(), paths.end(), path) != paths.end(); };
        EXPECT_TRUE(seen(fits));
        EXPECT_TRUE(seen(folderTooLong));
        EXPECT_EQ(seen(fileTooLong), nt);
        EXPECT_EQ(seen(inside), nt);
        std::vector<std::string> lines = Lines(log, "\r\n");
        std::sort(lines.begin(), lines.end());
        std::vector<std::string> expected;
        if (!nt) expected = {"Cannot check file " + fileTooLong + ", error=206",
                             "Cannot look into folder " + folderTooLong + "\\, error=206"};
        EXPECT_EQ(lines, expected) << log;
        EXPECT_EQ(g_removalOutcome.failureCount, nt ? 0 : 2);
        if (!nt) continue;
        // What the ANSI path reaches goes the ANSI way; what it does not, by
        // the "\\?\" path.
        for (const Seen& entry : g_seen) {
            bool ansiReaches = entry.path.size() < MAX_PATH;
            EXPECT_EQ(entry.wide, ansiReaches ? "" : "\\\\?\\" + entry.path) << entry.path;
        }
        StartFreshProcess();
        std::string swept = RunLogged(ws, TraceInfo, [] { SweepFixedDisks(DeleteIfInfected); });
        EXPECT_FALSE(ws.Exists(inside));
        EXPECT_NE(swept.find("Deleting file \"" + inside + "\", result=1\r\n"), std::string::npos) << swept;
        EXPECT_EQ(g_removalOutcome.failureCount, 0);
    }
}

// Names the ANSI code page cannot give as they are. The ANSI listing shows
// "?" for a letter the code page lacks, a name no ANSI call can open; best
// fit turns some into near letters (a fullwidth "ｋ" into "k"), another
// name; and the ANSI calls' path rules drop a trailing dot or blank and take
// a device's name ("nul.exe") for the device. On NT the wide walk reaches
// each as itself and the log names it readably, each letter without an
// exact form as the escape of its code point. Windows 9x reaches a name
// with "?" through its 8.3 name, and reports one that has none.
TEST_F(DiskSweep, NamesTheAnsiCallsCannotReach) {
    struct Case {
        const char* name;
        bool nt;
        std::string named;     // the file, or the folder it sits in, in UTF-8
        bool folder;
        bool withShortName;
        bool deleted;
        std::string shown;     // the worm's path as the log names it, when deleted
        int failures;
        std::string line;      // in the log at level 1 on Windows 9x, or none
    };
    const std::string cyrillic = "\xd0\xba\xd1\x83\xd1\x80\xd0\xb5\xd0\xbb\xd1\x8c";  // six letters
    const std::string escaped = "<U+043A><U+0443><U+0440><U+0435><U+043B><U+044C>";
    const std::string fullwidth = "\xef\xbd\x8burrel.exe";  // U+FF4B, "ｋurrel.exe"
    const Case cases[] = {
        {"NT: letters the code page lacks, with an 8.3 name", true, cyrillic + ".exe", false, true, true,
         "C:\\Docs\\" + escaped + ".exe", 0, ""},
        {"NT: a folder so named", true, cyrillic, true, true, true, "C:\\Docs\\" + escaped + "\\setup.exe", 0, ""},
        {"NT: without an 8.3 name", true, cyrillic + ".exe", false, false, true, "C:\\Docs\\" + escaped + ".exe", 0, ""},
        {"NT: a folder without an 8.3 name", true, cyrillic, true, false, true,
         "C:\\Docs\\" + escaped + "\\setup.exe", 0, ""},
        {"NT: a letter best fit would turn into another", true, fullwidth, false, false, true,
         "C:\\Docs\\<U+FF4B>urrel.exe", 0, ""},
        {"NT: a trailing dot", true, "x.exe.", false, true, true, "C:\\Docs\\x.exe.", 0, ""},
        {"NT: a trailing blank", true, "x.exe ", false, true, true, "C:\\Docs\\x.exe ", 0, ""},
        {"NT: a device's name", true, "nul.exe", false, true, true, "C:\\Docs\\nul.exe", 0, ""},
        {"NT: a device's name with blanks", true, "com1 .txt", false, true, true, "C:\\Docs\\com1 .txt", 0, ""},
        {"NT: a folder with a trailing dot", true, "dir.", true, true, true, "C:\\Docs\\dir.\\setup.exe", 0, ""},
        {"9x: reached by its 8.3 name", false, cyrillic + ".exe", false, true, true, "", 0, ""},
        {"9x: a folder, walked by its 8.3 name", false, cyrillic, true, true, true, "", 0, ""},
        {"9x: a file without an 8.3 name", false, cyrillic + ".exe", false, false, false, "", 1,
         "Cannot check file C:\\Docs\\??????.exe, error=123"},
        {"9x: a folder without an 8.3 name", false, cyrillic, true, false, false, "", 1,
         "Cannot look into folder C:\\Docs\\??????, error=123"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        if (!c.nt) ws.Win9x();
        std::string named = "C:\\Docs\\" + c.named;
        std::string worm = c.folder ? named + "\\setup.exe" : named;
        ws.FileBytes(worm, Worm());
        if (!c.withShortName) ws.NoShortName(named);
        StartFreshProcess();
        std::string log = RunLogged(ws, TraceInfo, [] { SweepFixedDisks(DeleteIfInfected); });
        EXPECT_EQ(ws.Exists(worm), !c.deleted);
        EXPECT_EQ(g_removalOutcome.failureCount, c.failures);
        std::vector<std::string> lines = SweepLines(log);
        if (c.nt) {
            EXPECT_EQ(lines, (std::vector<std::string>{"Found infection \"" + c.shown + "\"",
                                                       "Deleting file \"" + c.shown + "\", result=1"}));
        } else if (!c.line.empty()) {
            EXPECT_EQ(lines, std::vector<std::string>{c.line});
        }
    }
}

// Junctions and links. A junction or symbolic link is not entered: it may
// lead to another volume, a removable disk or another machine's share, and
// what it leads to on the fixed disks is walked where it is. Only a volume
// mount point of a fixed disk without a drive letter is walked through.
// A link the listing does not mark (Wine's) is known only by where it
// leads: every real folder is entered once, by the first road the walk
// comes to, so such a link back up the tree closes no loop.
TEST_F(DiskSweep, FolderLinksAreEnteredOnlyOnce) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> links;
        std::vector<std::string> seen;
        std::string log;  // every line, levels 1 and 4
        int failures;
    };
    const std::string kLog = "C:\\WINDOWS\\Kurrelfix.log";  // the run's own log
    const std::string again = " leads to one walked already, not entered again\r\n";
    const std::string link = " is a link, not entered: what it leads to is walked where it is\r\n";
    const std::vector<std::string> plain = {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt",
                                            "C:\\Tools", "C:\\WINDOWS", kLog};
    const Case cases[] = {
        {"a junction back to the root",
         [](sim::Workstation& ws) { ws.FolderLink("C:\\A\\Up", "C:\\"); },
         {"C:\\A", "C:\\A\\a.txt", "C:\\A\\Up", "C:\\B", "C:\\B\\b.txt", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Folder C:\\A\\Up" + link, 0},
        {"a link marked as a reparse point without a tag, as Wine lists its links, is not entered",
         [](sim::Workstation& ws) {
             ws.FolderLink("C:\\A\\Up", "C:\\");
             ws.drives['C'].root->children["A"]->children["Up"]->reparseTag = 0;
         },
         {"C:\\A", "C:\\A\\a.txt", "C:\\A\\Up", "C:\\B", "C:\\B\\b.txt", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Folder C:\\A\\Up" + link, 0},
        {"a link back to the root that the listing does not mark as one",
         [](sim::Workstation& ws) { ws.FolderLink("C:\\A\\Up", "C:\\", false); },
         {"C:\\A", "C:\\A\\a.txt", "C:\\A\\Up", "C:\\B", "C:\\B\\b.txt", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Folder C:\\A\\Up\\" + again, 0},
        {"two unmarked links back up the tree",
         [](sim::Workstation& ws) {
             ws.FolderLink("C:\\A\\Up", "C:\\", false).FolderLink("C:\\B\\ToA", "C:\\A", false);
         },
         {"C:\\A", "C:\\A\\a.txt", "C:\\A\\Up", "C:\\B", "C:\\B\\b.txt", "C:\\B\\ToA", "C:\\Tools",
          "C:\\WINDOWS", kLog},
         "Folder C:\\A\\Up\\" + again + "Folder C:\\B\\ToA\\" + again, 0},
        {"an unmarked link to a later folder: walked through the link, not again by its own path",
         [](sim::Workstation& ws) { ws.FolderLink("C:\\A\\ToB", "C:\\B", false); },
         {"C:\\A", "C:\\A\\a.txt", "C:\\A\\ToB", "C:\\A\\ToB\\b.txt", "C:\\B", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Folder C:\\B\\" + again, 0},
        {"a junction to a later folder: that folder is walked by its own path",
         [](sim::Workstation& ws) { ws.FolderLink("C:\\A\\ToB", "C:\\B"); },
         {"C:\\A", "C:\\A\\a.txt", "C:\\A\\ToB", "C:\\B", "C:\\B\\b.txt", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Folder C:\\A\\ToB" + link, 0},
        {"a junction to another fixed drive: each drive is walked whole on its own",
         [](sim::Workstation& ws) {
             ws.AddDrive('E', DRIVE_FIXED).File("E:\\Stuff\\e.txt", "e").FolderLink("C:\\B\\ToE", "E:\\Stuff");
         },
         {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt", "C:\\B\\ToE", "C:\\Tools", "C:\\WINDOWS", kLog,
          "E:\\Stuff", "E:\\Stuff\\e.txt"},
         "Folder C:\\B\\ToE" + link, 0},
        {"a junction to a removable disk is not entered",
         [](sim::Workstation& ws) {
             ws.AddDrive('F', DRIVE_REMOVABLE).File("F:\\Stick\\f.txt", "f").FolderLink("C:\\B\\ToF", "F:\\Stick");
         },
         {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt", "C:\\B\\ToF", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Folder C:\\B\\ToF" + link, 0},
        {"a symbolic link to another machine's share is never followed",
         [](sim::Workstation& ws) { ws.Link("C:\\B\\Server", sim::LinkKind::RemoteLink, "\\\\server\\share"); },
         {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt", "C:\\B\\Server", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Folder C:\\B\\Server" + link, 0},
        {"a symbolic link to a local folder is not entered",
         [](sim::Workstation& ws) { ws.Link("C:\\B\\ToA", sim::LinkKind::SymbolicLink, "C:\\A"); },
         {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt", "C:\\B\\ToA", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Folder C:\\B\\ToA" + link, 0},
        {"the mount point of a fixed volume without a letter is walked through",
         [](sim::Workstation& ws) {
             ws.LetterlessVolume('1', DRIVE_FIXED).File("1:\\Data\\m.txt", "m");
             ws.Link("C:\\B\\Mnt", sim::LinkKind::MountPoint, "1:\\");
         },
         {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt", "C:\\B\\Mnt", "C:\\B\\Mnt\\Data",
          "C:\\B\\Mnt\\Data\\m.txt", "C:\\Tools", "C:\\WINDOWS", kLog},
         "", 0},
        {"the mount point of a volume with a letter of its own: walked by that letter",
         [](sim::Workstation& ws) {
             ws.AddDrive('E', DRIVE_FIXED).File("E:\\e.txt", "e").Link("C:\\B\\Mnt", sim::LinkKind::MountPoint, "E:\\");
         },
         {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt", "C:\\B\\Mnt", "C:\\Tools", "C:\\WINDOWS", kLog,
          "E:\\e.txt"},
         "Folder C:\\B\\Mnt" + link, 0},
        {"the mount point of a removable volume without a letter is not entered",
         [](sim::Workstation& ws) {
             ws.LetterlessVolume('2', DRIVE_REMOVABLE).File("2:\\r.txt", "r");
             ws.Link("C:\\B\\Mnt", sim::LinkKind::MountPoint, "2:\\");
         },
         {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt", "C:\\B\\Mnt", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Folder C:\\B\\Mnt" + link, 0},
        {"a drive cloned from C: (its serial number and file indexes) is walked whole",
         [](sim::Workstation& ws) {
             ws.AddDrive('E', DRIVE_FIXED).File("E:\\Data\\e.txt", "e");
             ws.VolumeSerial('C', 0x1234ABCD).VolumeSerial('E', 0x1234ABCD);
         },
         {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt", "C:\\Tools", "C:\\WINDOWS", kLog,
          "E:\\Data", "E:\\Data\\e.txt"},
         "", 0},
        {"a junction refused to us (as Documents and Settings) is not entered, and its folder is walked",
         [](sim::Workstation& ws) { ws.FolderLink("C:\\A\\Docs", "C:\\B", true, true); },
         {"C:\\A", "C:\\A\\a.txt", "C:\\A\\Docs", "C:\\B", "C:\\B\\b.txt", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Folder C:\\A\\Docs" + link, 0},
        {"a mount point whose volume cannot be named is not entered, and counts",
         [](sim::Workstation& ws) {
             ws.LetterlessVolume('1', DRIVE_FIXED).File("1:\\m.txt", "m").Link("C:\\B\\Mnt", sim::LinkKind::MountPoint, "1:\\");
             ws.FailCall("GetFileInformationByHandle", ERROR_INVALID_FUNCTION, 0, 100);
         },
         {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt", "C:\\B\\Mnt", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Cannot look into folder C:\\B\\Mnt\\, error=1\r\n", 1},
        {"a mount point refused to us is passed over, as a refused folder is",
         // CreateFileA: C:\ (0), C:\A\ (1), C:\B\ (2), C:\B\Mnt\ (3)
         [](sim::Workstation& ws) {
             ws.LetterlessVolume('1', DRIVE_FIXED).File("1:\\m.txt", "m").Link("C:\\B\\Mnt", sim::LinkKind::MountPoint, "1:\\");
             ws.FailCall("CreateFileW", ERROR_ACCESS_DENIED, 3);
         },
         {"C:\\A", "C:\\A\\a.txt", "C:\\B", "C:\\B\\b.txt", "C:\\B\\Mnt", "C:\\Tools", "C:\\WINDOWS", kLog},
         "Cannot look into folder C:\\B\\Mnt\\, error=5\r\n", 0},
        {"plain folders whose identity cannot be read are walked as ever",
         [](sim::Workstation& ws) { ws.FailCall("GetFileInformationByHandle", ERROR_INVALID_FUNCTION, 0, 100); },
         plain, "", 0},
        {"Windows 9x opens no folder, and walks as ever", [](sim::Workstation& ws) { ws.Win9x(); }, plain, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_seen.clear();
        sim::Workstation ws;
        ws.File("C:\\A\\a.txt", "a").File("C:\\B\\b.txt", "b");
        std::string log = RunLogged(ws, TraceInfo, [&] {
            c.links(ws);
            EXPECT_EQ(SweepFixedDisks(Record), 0);
        });
        EXPECT_EQ(Paths(), c.seen);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(g_removalOutcome.failureCount, c.failures);
        EXPECT_EQ(ws.OpenHandles(), 0);
        // No path the sweep resolved went on at another machine.
        EXPECT_EQ(ws.remoteReached, std::vector<std::string>());
    }
}

// A worm copy that two roads lead to is found and deleted once; a tree of
// many folders with a loop in it ends, and sees each of its files once.
TEST_F(DiskSweep, LinksNeitherHideTheWormNorShowItTwice) {
    sim::Workstation ws;
    // A link the listing does not mark, as Wine's, and a junction back up.
    ws.FileBytes("C:\\Users\\Ann\\kurrel.exe", Worm())
        .FolderLink("C:\\Documents and Settings", "C:\\Users", false)
        .FolderLink("C:\\Users\\Ann\\Loop", "C:\\");
    const int kFolders = 1500;  // more than the walked-folder table first holds
    for (int i = 0; i < kFolders; ++i) ws.File("C:\\Many\\F" + std::to_string(i) + "\\f.txt", "f");

    std::string log = RunLogged(ws, TraceInfo, [] { SweepFixedDisks(DeleteIfInfected); });

    EXPECT_FALSE(ws.Exists("C:\\Users\\Ann\\kurrel.exe"));
    std::vector<std::string> lines = Lines(log, "\r\n");
    EXPECT_EQ(CountOf(lines, "Found infection"), 1) << log;
    EXPECT_EQ(CountOf(lines, "Found infection \"C:\\Documents and Settings\\Ann\\kurrel.exe\""), 1) << log;
    // The real folder, after the table of walked folders has grown twice.
    EXPECT_EQ(CountOf(lines, "Folder C:\\Users\\ leads to one walked already, not entered again"), 1) << log;
    EXPECT_EQ(CountOf(lines, "Folder C:\\Documents and Settings\\Ann\\Loop is a link, not entered"), 1) << log;
    EXPECT_EQ(g_removalOutcome.infectionState, InfectionPresent);
    EXPECT_EQ(g_removalOutcome.failureCount, 0);

    g_seen.clear();
    EXPECT_EQ(SweepFixedDisks(Record), 0);
    int files = 0;
    for (const Seen& seen : g_seen) files += seen.isDirectory ? 0 : 1;
    EXPECT_EQ(files, kFolders + 1);  // and the run's own log
    EXPECT_EQ(ws.OpenHandles(), 0);
}

// What the sweep cannot look at is a failure; a folder refused for lack of
// access is normal (Windows keeps such folders) and only said at level 4.
TEST_F(DiskSweep, PlacesTheSweepCannotLookAt) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> trouble;
        std::string line;  // in the log
        int level;
        int failures;
    };
    const Case cases[] = {
        {"no drive list", [](sim::Workstation& ws) { ws.FailCall("GetLogicalDriveStringsA", ERROR_NOT_ENOUGH_MEMORY); },
         "Cannot read the list of drives, error=8", TraceError, 1},
        {"a root that cannot be listed", [](sim::Workstation& ws) { ws.FailCall("FindFirstFileW", ERROR_ACCESS_DENIED); },
         "Cannot look into folder C:\\, error=5", TraceError, 1},
        {"the walk's buffers", [](sim::Workstation& ws) { ws.FailCall("AllocBuffer", ERROR_NOT_ENOUGH_MEMORY, 1); },
         "Cannot walk the drives, error=8", TraceError, 1},
        {"a folder level without its buffer (Windows 9x)",
         [](sim::Workstation& ws) { ws.Win9x().FailCall("AllocBuffer", ERROR_NOT_ENOUGH_MEMORY, 1); },
         "Cannot look into folder C:\\Data\\, error=8", TraceError, 1},
        // After the walk's three buffers.
        {"no room to remember the folders walked", [](sim::Workstation& ws) { ws.FailCall("AllocBuffer", ERROR_NOT_ENOUGH_MEMORY, 3); },
         "Cannot look into folder C:\\, error=8", TraceError, 1},
        {"a listing cut short", [](sim::Workstation& ws) { ws.FailCall("FindNextFileW", ERROR_NOT_READY, 2); },
         "Listing of folder C:\\Data\\ ended early, error=21", TraceError, 1},
        {"a listing cut short (Windows 9x)", [](sim::Workstation& ws) { ws.Win9x().FailCall("FindNextFileA", ERROR_NOT_READY, 2); },
         "Listing of folder C:\\Data\\ ended early, error=21", TraceError, 1},
        {"a folder refused for lack of access", [](sim::Workstation& ws) { ws.Unlistable("C:\\Data\\Private"); },
         "Cannot look into folder C:\\Data\\Private\\, error=5", TraceInfo, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.File("C:\\Data\\letter.txt", "Dear...").Dir("C:\\Data\\Private");
        std::string log = RunLogged(ws, 255, [&] {
            c.trouble(ws);
            SweepFixedDisks(DeleteIfInfected);
        });
        EXPECT_NE(log.find(c.line + "\r\n"), std::string::npos) << log;
        EXPECT_EQ(g_removalOutcome.failureCount, c.failures);
    }
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
    std::string lineAfter = "";  // one more line of the log after "Deleting file", or ""
    std::string lineBefore = "";  // one more line of the log before "Deleting file", or ""
    // What a plain user does after the run, before the restart.
    std::function<void(sim::Workstation&)> beforeBoot = nullptr;
};

// A plain user's own folder: they may rename it, delete what is in it, and
// put a junction in its place.
sim::ObjectSecurity UsersOwn() {
    sim::ObjectSecurity security;
    security.set = true;
    security.owner = sim::PlainUserSid;
    security.dacl = {{sim::PlainUserSid, 0x1F01FF, 0, 0}, {sim::AdministratorsSid, 0x1F01FF, 0, 0}};
    return security;
}

const char* const kWormFolder = "C:\\Program Files\\Worm Dir";
// A file of the same name that is not the worm, which the user could not
// delete themselves: what a junction in place of the worm's folder leads to.
const char* const kVictimFolder = "C:\\WINDOWS\\System32";
const char* const kVictim = "C:\\WINDOWS\\System32\\kurrel.exe";
void PlantVictim(sim::Workstation& ws) {
    ws.File(kVictim, "MZ a program of the system, not the worm", FILE_ATTRIBUTE_READONLY);
}

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
        returned = DeleteIfInfected(kWorm, &found, 0, nullptr);
        console = capture.Text();
    }
    EndProcess();

    EXPECT_EQ(returned, 0);
    EXPECT_EQ(console, c.console);
    EXPECT_EQ(g_removalOutcome.infectionState, InfectionPresent);
    EXPECT_EQ(g_removalOutcome.failureCount, c.failures);
    std::vector<std::string> lines = {std::string("Found infection \"") + kWorm + "\""};
    if (!c.lineBefore.empty()) lines.push_back(c.lineBefore);
    lines.push_back(std::string("Deleting file \"") + kWorm + "\", result=" + std::to_string(c.result));
    if (!c.lineAfter.empty()) lines.push_back(c.lineAfter);
    EXPECT_EQ(SweepLines(ws.Read(TestLogPath)), lines);
    bool victim = ws.Exists(kVictim);
    if (c.beforeBoot) c.beforeBoot(ws);
    EXPECT_EQ(!ws.Exists(kWorm), c.fileGoneNow);
    ws.Reboot();
    EXPECT_EQ(!ws.Exists(kWorm), c.fileGoneAfterReboot);
    // Nothing that did not match is deleted or changed, now or at the boot.
    if (victim) {
        EXPECT_TRUE(ws.Exists(kVictim));
        EXPECT_EQ(ws.Find(kVictim)->attributes & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
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
        // The worm in a plain user's folder, held open: left for the boot,
        // the user would replace the folder with a junction to the system
        // folder after the run, and the boot would delete the file of that
        // name there. It is not left for the boot at all.
        DeleteCase{"HeldFileInAPlainUsersFolderIsNotLeftForTheBoot",
                   [](sim::Workstation& ws) {
                       PlantVictim(ws);
                       ws.Security(kWormFolder, UsersOwn()).Hold(kWorm, FILE_SHARE_READ);
                   },
                   4, 1, false, false, "", "",
                   std::string("File ") + kWorm + " is not left for the next boot: folder " + kWormFolder +
                       " owned by another account, error=0",
                   [](sim::Workstation& ws) { ws.SwapFolderForJunction(kWormFolder, kVictimFolder); }},
        DeleteCase{"HeldFileOnAVolumeWithoutAccessListsIsNotLeftForTheBoot",
                   [](sim::Workstation& ws) { ws.NoAcls('C').Hold(kWorm, FILE_SHARE_READ); }, 4, 1, false, false,
                   "", "", std::string("File ") + kWorm + " is not left for the next boot: folder C:\\ owned by another account, error=0"},
        DeleteCase{"HeldFileUnderALinkIsNotLeftForTheBoot",
                   [](sim::Workstation& ws) {
                       // The same file, reached through a junction an administrator made.
                       ws.SwapFolderForJunction("C:\\Program Files", "C:\\Program Files.away");
                       ws.Hold(kWorm, FILE_SHARE_READ);
                   },
                   4, 1, false, false, "", "",
                   std::string("File ") + kWorm + " is not left for the next boot: folder C:\\Program Files is a link, error=0"},
        DeleteCase{"HeldFileOnNt4WhichKnowsNoJunctionsIsLeftForTheBoot",
                   [](sim::Workstation& ws) {
                       ws.majorVersion = 4;
                       ws.Security(kWormFolder, UsersOwn()).Hold(kWorm, FILE_SHARE_READ);
                   },
                   2, 0, false, true, ""},
        // Between the match and the deletion the user swaps the worm's folder
        // for a junction to a read-only file of the same name: neither its
        // attribute nor the file is touched.
        DeleteCase{"FolderSwappedBetweenTheMatchAndTheDeletion",
                   [](sim::Workstation& ws) {
                       PlantVictim(ws);
                       ws.Security(kWormFolder, UsersOwn());
                       ws.OnCall("CloseHandle", 1, [&ws] { ws.SwapFolderForJunction(kWormFolder, kVictimFolder); });
                   },
                   4, 1, false, false, "", "",
                   std::string("File ") + kWorm +
                       " is not the file that matched (another file is at its path now): it is left alone"},
        DeleteCase{"FileChangedBetweenTheMatchAndTheDeletion",
                   [](sim::Workstation& ws) {
                       ws.OnCall("CloseHandle", 1, [&ws] { ws.Find(kWorm)->data[5000] ^= 1; });
                   },
                   4, 1, false, false, "", "",
                   std::string("File ") + kWorm + " no longer matches (its contents changed): it is left alone"},
        DeleteCase{"FileGoneBeforeItsDeletionPrintsANewline",
                   [](sim::Workstation& ws) {
                       // Something else removes it between the test and the delete: the
                       // matcher's open is the first, the deletion's the second.
                       ws.OnCall("CreateFileA", 2, [&ws] { ws.RemoveNode(ws.Find(kWorm)); });
                   },
                   0, 0, true, true, "\n"},
        DeleteCase{"FileTheDeletionCannotSeeButStillThereCountsAFailure",
                   [](sim::Workstation& ws) {
                       // The log is the first stream opened; the second is the deletion's
                       // look for the file, which a sharing violation makes report it missing.
                       ws.FailCall("CrtFopen", ERROR_SHARING_VIOLATION, 1);
                   },
                   0, 1, false, false, "\n",
                   std::string("Worm file \"") + kWorm +
                       "\" reported missing by the deletion but still there"}),
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

// On 64-bit Windows the sweep walks the disk as it is: System32 is the real
// folder, where the worm's copies written over the network land, and
// SysWOW64 is walked once by its own name. The redirection is back on after
// the sweep, whatever failed on the way.
TEST_F(DiskSweep, SeesTheRealSystemFolderOn64BitWindows) {
    const std::string kReal = "C:\\WINDOWS\\System32\\kurrel.exe";
    const std::string kWow = "C:\\WINDOWS\\SysWOW64\\kurrel.exe";
    const std::string kRoot = "C:\\kurrel.exe";
    auto found = [](const std::string& path, int result) {
        return std::vector<std::string>{"Found infection \"" + path + "\"",
                                        "Deleting file \"" + path + "\", result=" + std::to_string(result)};
    };
    auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::string walkedAgain = "Folder C:\\WINDOWS\\SysWOW64\\ leads to one walked already, not entered again";
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> machine;
        std::vector<std::string> log;  // the sweep's lines, levels 1 and 4
        std::vector<std::string> gone;  // after the run and the next boot
        std::vector<std::string> kept;
        std::string scheduled;  // what the boot was left to delete
        int failures;
        int asked;      // IsWow64Process calls
        int turnedOff;  // Wow64DisableWow64FsRedirection calls
        bool redirectedAfter;
    };
    const Case cases[] = {
        {"32-bit Windows: System32 is the one system folder",
         [&](sim::Workstation& ws) { ws.FileBytes(kReal, Worm()); },
         found(kReal, 1), {kReal}, {}, "", 0, 1, 0, true},
        {"64-bit Windows: a copy in the real System32",
         [&](sim::Workstation& ws) { ws.Wow64().FileBytes(kReal, Worm()).File(kWow, "MZ 32-bit"); },
         found(kReal, 1), {kReal}, {kWow}, "", 0, 1, 1, true},
        {"64-bit Windows: a copy in SysWOW64",
         [&](sim::Workstation& ws) { ws.Wow64().File(kReal, "MZ 64-bit").FileBytes(kWow, Worm()); },
         found(kWow, 1), {kWow}, {kReal}, "", 0, 1, 1, true},
        {"64-bit Windows: a copy in both",
         [&](sim::Workstation& ws) { ws.Wow64().FileBytes(kReal, Worm()).FileBytes(kWow, Worm()); },
         join(found(kReal, 1), found(kWow, 1)), {kReal, kWow}, {}, "", 0, 1, 1, true},
        {"64-bit Windows: a copy held open in the real System32 is left for the boot by its real name",
         [&](sim::Workstation& ws) {
             ws.Wow64().FileBytes(kReal, Worm()).File(kWow, "MZ 32-bit").Hold(kReal, FILE_SHARE_READ);
         },
         found(kReal, 2), {kReal}, {kWow}, kReal, 0, 1, 1, true},
        {"64-bit Windows: a redirection that cannot be turned off hides System32, and counts",
         [&](sim::Workstation& ws) {
             ws.Wow64().FileBytes(kReal, Worm()).File(kWow, "MZ 32-bit");
             ws.FailCall("Wow64DisableWow64FsRedirection", ERROR_ACCESS_DENIED);
         },
         {"Cannot see the real system folder, error=5", walkedAgain}, {}, {kReal, kWow}, "", 1, 1, 1, true},
        {"64-bit Windows: a KERNEL32 without the function is the same",
         [&](sim::Workstation& ws) {
             ws.Wow64().FileBytes(kReal, Worm()).File(kWow, "MZ 32-bit");
             ws.modules["KERNEL32.DLL"].functions.erase("Wow64DisableWow64FsRedirection");
         },
         {"Cannot see the real system folder, error=127", walkedAgain}, {}, {kReal, kWow}, "", 1, 1, 0, true},
        {"64-bit Windows: a redirection that cannot be turned back on counts",
         [&](sim::Workstation& ws) {
             ws.Wow64().FileBytes(kReal, Worm()).File(kWow, "MZ 32-bit");
             ws.FailCall("Wow64RevertWow64FsRedirection", ERROR_ACCESS_DENIED);
         },
         join(found(kReal, 1), {"Cannot turn the system folder's redirection back on, error=5"}), {kReal},
         {kWow}, "", 1, 1, 1, false},
        {"64-bit Windows that cannot be told from 32-bit: counts, and nothing is turned off",
         [&](sim::Workstation& ws) {
             ws.Wow64().FileBytes(kReal, Worm()).File(kWow, "MZ 32-bit");
             ws.FailCall("IsWow64Process", ERROR_ACCESS_DENIED);
         },
         {"Cannot tell whether Windows is 64-bit, error=5", walkedAgain}, {}, {kReal, kWow}, "", 1, 1, 0, true},
        {"64-bit Windows without a list of drives: nothing is turned off",
         [&](sim::Workstation& ws) {
             ws.Wow64().FileBytes(kReal, Worm());
             ws.FailCall("GetLogicalDriveStringsA", ERROR_ACCESS_DENIED);
         },
         {"Cannot read the list of drives, error=5"}, {}, {kReal}, "", 1, 0, 0, true},
        {"Windows 9x under an emulator that answers 64-bit is never asked",
         [&](sim::Workstation& ws) { ws.Win9x().Wow64().FileBytes(kRoot, Worm()); },
         found(kRoot, 1), {kRoot}, {}, "", 0, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        c.machine(ws);
        std::string log = RunLogged(ws, TraceInfo, [&] { EXPECT_EQ(SweepFixedDisks(DeleteIfInfected), 0); });
        EXPECT_EQ(SweepLines(log), c.log);
        EXPECT_EQ(g_removalOutcome.failureCount, c.failures);
        EXPECT_EQ(ws.Calls("IsWow64Process"), c.asked);
        EXPECT_EQ(ws.Calls("Wow64DisableWow64FsRedirection"), c.turnedOff);
        EXPECT_EQ(ws.fsRedirected, c.redirectedAfter);
        std::vector<std::string> scheduled;
        for (const sim::PendingMove& move : ws.pendingMoves) scheduled.push_back(move.from);
        EXPECT_EQ(scheduled, c.scheduled.empty() ? std::vector<std::string>{}
                                                 : std::vector<std::string>{c.scheduled});
        EXPECT_EQ(ws.OpenHandles(), 0);
        ws.Reboot();
        for (const std::string& path : c.gone) EXPECT_FALSE(ws.Exists(path)) << path;
        for (const std::string& path : c.kept) EXPECT_TRUE(ws.Exists(path)) << path;
    }
}

}  // namespace
