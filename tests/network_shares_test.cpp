// Network shares through a run, on both families: which shares exist while
// the tool sweeps and after it, field for field; the console and log lines of
// the removal and the re-creation; the shares journal on disk, and a run
// killed between removal and re-creation losing none of them.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "cleanup/existing_share.h"
#include "cleanup/network_shares.h"
#include "sim/file_rules.h"
#include "support/crc32.h"
#include "tests/test_support.h"
#include "tests/workstations.h"
#include "trace/trace_log.h"

namespace {

const char* const kJournal = "C:\\WINDOWS\\Kurrelfix-shares.jnl";
const char* const kSetAside = "C:\\WINDOWS\\Kurrelfix-shares.bad";

// Self-relative descriptors: Everyone read and Administrators full, owned by
// Administrators (100 bytes); Everyone full, without owner or group (48 bytes).
const char* const kPublicSd =
    "0100048048000000580000000000000014000000020034000200000000001400a900120001010000000000010000"
    "000000001800ff011f000102000000000005200000002002000001020000000000052000000020020000010100000"
    "000000512000000";
const char* const kToolsSd =
    "010004800000000000000000000000001400000002001c000100000000001400ff011f00010100000000000100000000";

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

sim::Share MakeShare(const std::string& name, DWORD type, const std::string& remark, const std::string& path) {
    sim::Share share;
    share.name = name;
    share.type = type;
    share.remark = remark;
    share.path = path;
    return share;
}

// IPC$, the hidden admin shares, and two user shares with remarks, paths,
// limits, passwords and (NT) descriptors.
std::vector<sim::Share> NtShares() {
    sim::Share publicShare = MakeShare("Public", 0, "Public files", "C:\\Public");
    publicShare.maxUses = 10;
    publicShare.currentUses = 2;
    publicShare.securityDescriptor = Hex(kPublicSd);
    sim::Share tools = MakeShare("Tools", 0, "Repair tools & logs", "C:\\Tools");
    tools.maxUses = 3;
    tools.password = "s3cret";
    tools.securityDescriptor = Hex(kToolsSd);
    return {MakeShare("IPC$", 0x80000003, "Remote IPC", ""),
            MakeShare("ADMIN$", 0x80000000, "Remote Admin", "C:\\WINDOWS"),
            MakeShare("C$", 0x80000000, "Default share", "C:\\"), publicShare, tools};
}

std::vector<sim::Share> Win9xShares() {
    sim::Share c = MakeShare("C$", 0, "", "C:\\");
    c.flags = 514;
    c.password = "ADMIN";
    sim::Share publicShare = MakeShare("PUBLIC", 0, "Public files", "C:\\PUBLIC");
    publicShare.flags = 257;
    publicShare.readPassword = "READ";
    sim::Share tools = MakeShare("TOOLS", 0, "Repair tools & logs", "C:\\TOOLS");
    tools.flags = 259;
    tools.password = "FULLPASS";
    tools.readPassword = "READPASS";
    return {MakeShare("IPC$", 3, "Remote IPC", ""), c, publicShare, tools};
}

struct Family {
    const char* name;
    bool nt;
    std::vector<sim::Share> (*shares)();
    const char* ignored;     // the share line's word for a share that stays
    const char* deleted;     // ... for one deleted
    const char* notDeleted;  // ... for one whose deletion failed
    const char* library;     // the module of the family's share functions
    const char* noLibrary;   // the line when it cannot be loaded (no line end)
    const char* noEnum;      // the line when its NetShareEnum is missing
    const char* enumFailed;  // the line when NetShareEnum answers 53
    const char* firstSweepCall;  // the process sweep's first call of its own
    const char* refused;     // the user share whose deletion a test refuses
    std::vector<std::string> journalReaders;  // the SIDs the journal's DACL allows; none: no DACL
    const char* toolsJournalLine;  // the journal's line of the Tools share
};

const Family kFamilies[] = {
    {"NT", true, NtShares, "ingored", "Deleted", "Not deleted, error", "NETAPI32.DLL",
     "cannot load netapi32.dll library 126", "there is no funcNetShareEnum 127",
     "cannot enumerated shares 0", "EnumProcesses", "Public", {"S-1-5-32-544", "S-1-5-18"},
     "share502 x0054006F006F006C0073 0 "
     "x00520065007000610069007200200074006F006F006C0073002000260020006C006F00670073 0 3 0 "
     "x0043003A005C0054006F006F006C0073 x007300330063007200650074 0 "
     "x010004800000000000000000000000001400000002001C000100000000001400FF011F00010100000000000100000000"},
    {"Win9x", false, Win9xShares, "ignored", "deleted", "not deleted, error", "SVRAPI.DLL",
     "cannot load svrapi.dll library 126", "there is no funWin95NetShareEnum 127",
     "A system error has occurred\n53", "CreateToolhelp32Snapshot", "PUBLIC", {},
     "share50 x544F4F4C53 0 259 x52657061697220746F6F6C732026206C6F6773 x433A5C544F4F4C53 "
     "x46554C4C50415353 x5245414450415353"},
};

std::vector<std::string> Described(const std::vector<sim::Share>& shares) {
    std::vector<std::string> lines;
    for (const sim::Share& share : shares) lines.push_back(sim::Describe(share));
    return lines;
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

// A workstation of the family with its shares, nothing else to clean.
void Describe(sim::Workstation& ws, const Family& family) {
    if (family.nt) {
        ws.Nt();
    } else {
        ws.Win9x();
    }
    ws.RegString(HKEY_CLASSES_ROOT, "exefile\\shell\\open\\command", "", "\"%1\" %*");
    for (const sim::Share& share : family.shares()) ws.AddShare(share);
}

// What the run's share lines say, in order: the console from "Removing
// shares" on, less the lines of the other stages.
std::vector<std::string> ShareConsole(const std::string& console) {
    std::vector<std::string> lines;
    for (const std::string& line : Lines(console, "\n")) {
        if (line.rfind("share ", 0) == 0 || line.rfind("Share ", 0) == 0 || line == "Removing shares" ||
            line == "Restore shares" || line.rfind("Journal share ", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> ExpectedCycle(const Family& family, const std::vector<std::string>& names) {
    std::vector<std::string> lines = {"Removing shares", std::string("share IPC$ ") + family.ignored};
    for (const std::string& name : names) lines.push_back("share " + name + " " + family.deleted);
    lines.push_back("Restore shares");
    for (const std::string& name : names) lines.push_back("Share " + name + " created 0");
    return lines;
}

std::vector<std::string> UserShares(const Family& family) {
    std::vector<std::string> names;
    for (const sim::Share& share : family.shares()) {
        if (share.name != "IPC$") names.push_back(share.name);
    }
    return names;
}

// A process ended from outside (killed, the power gone): thrown from a call
// of the simulated machine, caught by the test.
struct ProcessKilled {};

// Runs the tool and ends its process at the first call of `call`; what the
// machine holds then is passed to `look` first.
void RunKilledAt(sim::Workstation& ws, const std::string& call, const std::function<void()>& look) {
    ws.OnCall(call, 1, [look] {
        look();
        throw ProcessKilled{};
    });
    bool killed = false;
    try {
        RunKurrelfix({"/SILENT"});
    } catch (const ProcessKilled&) {
        killed = true;
    }
    EXPECT_TRUE(killed) << "the run never reached " << call;
}

// A journal as the tool writes it: the header, the lines, and the end line
// with their count and CRC-32.
// `text` as it stands, with the end line made right for it.
std::string WithEndLine(const std::string& text, int count) {
    char end[48];
    snprintf(end, sizeof(end), "end %d %08lX\r\n", count,
             (unsigned long)Crc32(text.data(), static_cast<DWORD>(text.size())));
    return text + end;
}

std::string JournalText(const std::string& header, const std::vector<std::string>& lines,
                        int count = -1) {
    std::string text = header + "\r\n";
    for (const std::string& line : lines) text += line + "\r\n";
    return WithEndLine(text, count < 0 ? static_cast<int>(lines.size()) : count);
}

const std::string kJournalLines = std::string("Share journal ") + kJournal;

class Shares : public ::testing::TestWithParam<Family> {};

TEST_P(Shares, OffTheNetworkWhileTheToolSweepsAndBackAfterwardsFieldForField) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family);
    std::vector<std::string> before = Described(ws.shares);
    std::vector<std::string> duringSweep;
    bool journalDuringSweep = false;
    std::vector<std::string> journalReaders;
    ws.OnCall(family.firstSweepCall, 1, [&] {
        duringSweep = ws.ShareNames();
        journalDuringSweep = ws.Exists(kJournal);
        if (sim::FileNode* journal = ws.Find(kJournal)) {
            for (const sim::Ace& ace : journal->security.dacl) journalReaders.push_back(ace.sid);
            EXPECT_EQ(journal->security.set, family.nt);
            EXPECT_EQ(journal->security.daclProtected, family.nt) << "the folder's entries kept out";
            EXPECT_EQ(journal->security.owner, family.nt ? sim::AdministratorsSid : "");
        }
    });

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(duringSweep, std::vector<std::string>{"IPC$"});
    EXPECT_TRUE(journalDuringSweep);
    EXPECT_EQ(journalReaders, family.journalReaders);
    EXPECT_EQ(Described(ws.shares), before) << "every share back, in its order, with every field";
    EXPECT_EQ(ShareConsole(run.console), ExpectedCycle(family, UserShares(family)));
    std::vector<std::string> log = Lines(ws.Read(TestLogPath), "\r\n");
    ExpectInOrder(log, {"Removing shares", "Not removing share IPC$",
                        std::string("share IPC$ ") + family.ignored,
                        "Removing share C$", std::string("share C$ ") + family.deleted,
                        "Removed all network shares, success=1",
                        "Infection was not found, the shell key is not updated",
                        "Restore shares", "Share C$ created 0", "Restore shares, success=1",
                        "Kurrelfix tool exit code: 0"});
    EXPECT_TRUE(ws.netBuffers.empty());
    EXPECT_FALSE(ws.Exists(kJournal)) << "the journal goes once every share is back";
}

TEST_P(Shares, KilledAfterTheRemovalThenAFreshRunBringsEveryShareBack) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family);
    std::vector<std::string> before = Described(ws.shares);
    std::vector<std::string> atKill;
    RunKilledAt(ws, family.firstSweepCall, [&] { atKill = ws.ShareNames(); });

    EXPECT_EQ(atKill, std::vector<std::string>{"IPC$"});
    EXPECT_EQ(ws.ShareNames(), std::vector<std::string>{"IPC$"}) << "nothing brought them back";
    std::vector<std::string> journal = Lines(ToolRecordBody(ws, kJournal), "\r\n");
    ASSERT_EQ(journal.size(), UserShares(family).size() + 2);
    EXPECT_EQ(journal.front(), std::string("Kurrelfix share journal 1 ") + (family.nt ? "NT" : "9x"));
    EXPECT_EQ(journal[journal.size() - 2], family.toolsJournalLine) << "every field, passwords and descriptor";
    std::string text = ToolRecordBody(ws, kJournal);
    size_t endAt = text.rfind("end ");
    char end[48];
    snprintf(end, sizeof(end), "end %d %08lX", static_cast<int>(UserShares(family).size()),
             (unsigned long)Crc32(text.data(), static_cast<DWORD>(endAt)));
    EXPECT_EQ(journal.back(), end);

    RunResult next = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(next.exitCode, 0);
    EXPECT_EQ(Described(ws.shares), before) << "every share back, in its order, with every field";
    std::vector<std::string> expected = {
        "Removing shares", kJournalLines + " found: re-creating " +
                               std::to_string(UserShares(family).size()) + " shares"};
    for (const std::string& name : UserShares(family)) expected.push_back("Journal share " + name + " created 0");
    expected.push_back(kJournalLines + " done, every share is back");
    std::vector<std::string> cycle = ExpectedCycle(family, UserShares(family));
    expected.insert(expected.end(), cycle.begin() + 1, cycle.end());
    EXPECT_EQ(ShareConsole(next.console), expected);
    ExpectInOrder(Lines(ws.Read(TestLogPath), "\r\n"),
                  {kJournalLines + " done, every share is back", "Removed all network shares, success=1",
                   "Restore shares", kJournalLines + " deleted", "Restore shares, success=1"});
    EXPECT_FALSE(ws.Exists(kJournal));
    EXPECT_TRUE(ws.netBuffers.empty());
}

TEST_P(Shares, ARefusedDeletionIsReportedAndTheShareReAddedWithANonzeroStatus) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family);
    ws.RefuseShareDelete(family.refused, 5);
    std::vector<std::string> before = Sorted(Described(ws.shares));
    std::vector<std::string> duringSweep;
    ws.OnCall(family.firstSweepCall, 1, [&] { duringSweep = ws.ShareNames(); });

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(duringSweep, (std::vector<std::string>{"IPC$", family.refused}));
    std::vector<std::string> console = ShareConsole(run.console);
    ExpectInOrder(console, {std::string("share ") + family.refused + " " + family.notDeleted,
                            "Restore shares", std::string("Share ") + family.refused + " created 2118"});
    EXPECT_EQ(CountOf(console, "Share "), static_cast<int>(UserShares(family).size()));
    EXPECT_EQ(Sorted(Described(ws.shares)), before);
    EXPECT_FALSE(ws.Exists(kJournal)) << "a share that stayed is not missing";
    EXPECT_TRUE(ws.netBuffers.empty());
}

TEST_P(Shares, AShareThatCannotBeReCreatedStaysInTheJournalForTheNextRun) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family);
    std::vector<std::string> before = Sorted(Described(ws.shares));
    std::string tools = UserShares(family).back();
    ws.RefuseShareAdd(tools, 5);

    RunResult first = RunKurrelfix({"/SILENT"});

    ExpectInOrder(ShareConsole(first.console),
                  {"Share " + tools + " created 5", kJournalLines + " kept: 1 shares did not come back"});
    // Not back is a failure of the run, named in the log.
    EXPECT_EQ(first.exitCode, 3);
    ExpectInOrder(Lines(ws.Read(TestLogPath), "\r\n"),
                  {"Share " + tools + " not back on the network, status 5: the share journal keeps it",
                   "Restore shares, success=0"});
    std::vector<std::string> after = ws.ShareNames();
    EXPECT_EQ(std::count(after.begin(), after.end(), tools), 0);
    EXPECT_TRUE(ws.Exists(kJournal));
    EXPECT_TRUE(ws.netBuffers.empty());

    ws.shareAddRefusals.clear();
    RunResult second = RunKurrelfix({"/SILENT"});

    std::vector<std::string> console = ShareConsole(second.console);
    ExpectInOrder(console, {kJournalLines + " found: re-creating " + std::to_string(UserShares(family).size()) +
                                " shares",
                            "Journal share " + UserShares(family).front() + " created 2118",
                            "Journal share " + tools + " created 0", kJournalLines + " done, every share is back",
                            "Restore shares", "Share " + tools + " created 0"});
    EXPECT_EQ(Sorted(Described(ws.shares)), before);
    EXPECT_FALSE(ws.Exists(kJournal));
}

TEST_P(Shares, WithoutTheAddFunctionTheSharesWaitInTheJournal) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family);
    std::vector<std::string> before = Described(ws.shares);
    FARPROC addFunction = ws.modules[family.library].functions["NetShareAdd"];
    ws.modules[family.library].functions.erase("NetShareAdd");

    RunResult first = RunKurrelfix({"/SILENT"});

    // The line of "%s %ld" has no line end of its own.
    std::string missingAdd = "there is no funcNetShareAdd 127";
    std::string expectedLines;
    for (size_t i = 0; i < UserShares(family).size(); ++i) expectedLines += missingAdd;
    EXPECT_NE(first.console.find("Restore shares\n" + expectedLines + kJournalLines + " kept: " +
                                 std::to_string(UserShares(family).size()) + " shares did not come back\n"),
              std::string::npos)
        << first.console;
    EXPECT_EQ(ws.ShareNames(), std::vector<std::string>{"IPC$"});
    EXPECT_TRUE(ws.Exists(kJournal));

    ws.modules[family.library].functions["NetShareAdd"] = addFunction;
    RunResult second = RunKurrelfix({"/SILENT"});

    ExpectInOrder(ShareConsole(second.console),
                  {"Journal share " + UserShares(family).front() + " created 0",
                   kJournalLines + " done, every share is back"});
    EXPECT_EQ(Described(ws.shares), before);
    EXPECT_FALSE(ws.Exists(kJournal));
    EXPECT_TRUE(ws.netBuffers.empty());
}

TEST_P(Shares, LibrariesPlantedBesideTheProgramNeverRun) {
    const Family& family = GetParam();
    sim::Workstation ws;
    Describe(ws, family);
    std::vector<std::string> before = Described(ws.shares);
    // SRVCLI.DLL is what netapi32.dll itself loads by its bare name.
    const char* const planted[] = {"PSAPI.DLL", "VDMDBG.DLL", "NETAPI32.DLL", "SVRAPI.DLL", "SRVCLI.DLL"};
    for (const char* name : planted) ws.PlantModule(name);

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Described(ws.shares), before);
    EXPECT_EQ(ShareConsole(run.console), ExpectedCycle(family, UserShares(family)));
    for (const char* name : planted) EXPECT_EQ(ws.plantedModules[name].timesLoaded, 0) << name << " ran";
    EXPECT_GT(ws.modules[family.library].timesLoaded, 0) << "the system's own was used";
    // What a bare name would have done: the program's folder comes first.
    HMODULE bare = LoadLibraryA(family.library);
    EXPECT_EQ(ws.plantedModules[family.library].timesLoaded, 1);
    EXPECT_EQ(ws.plantedModules["SRVCLI.DLL"].timesLoaded, 0) << "imports are looked for beside it";
    if (bare) FreeLibrary(bare);
    const std::string system = ws.SystemDirectory() + "\\" + family.library;
    HMODULE plain = LoadLibraryA(system.c_str());
    EXPECT_EQ(ws.plantedModules["SRVCLI.DLL"].timesLoaded, family.nt ? 1 : 0)
        << "without the altered search order its imports come from the program's folder";
    if (plain) FreeLibrary(plain);
}

INSTANTIATE_TEST_SUITE_P(Families, Shares, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- a share of the remembered name, already there at re-creation ----------

// On NT a share of that name is back only when it is the remembered one: its
// deletion failed. Anyone else who may make shares can have made one of that
// name while the tool swept; it is not taken for ours, then or by the next run.
struct NameTaken {
    const char* name;
    bool nt;
    const char* share;            // the remembered share whose add answers 2118
    bool deletionRefused;         // it is the very share: its deletion failed
    void (*change)(sim::Share&);  // someone else's share of that name: the remembered one so changed
    const char* readFault;        // "status": NetShareGetInfo answers 5; "missing": no such function
    const char* why;              // the level-1 line's reason; nullptr: it counts as back
};

const NameTaken kNamesTaken[] = {
    {"TheVeryShareWhoseDeletionFailed", true, "C$", true, nullptr, nullptr, nullptr},
    {"AnotherPath", true, "C$", false, [](sim::Share& s) { s.path = "C:\\Documents and Settings\\ann"; },
     nullptr, "another path"},
    // Neither the remark nor the user limit lets anyone in anywhere.
    {"TheSamePathInOtherCaseWithItsOwnRemark", true, "C$", false,
     [](sim::Share& s) {
         s.path = "c:\\";
         s.remark = "mine";
         s.maxUses = 1;
     },
     nullptr, nullptr},
    {"AnotherType", true, "C$", false, [](sim::Share& s) { s.type = 0; }, nullptr, "another type"},
    {"OtherPermissions", true, "C$", false, [](sim::Share& s) { s.permissions = 1; }, nullptr,
     "other permissions"},
    {"ADescriptorWhereTheRememberedHadNone", true, "C$", false,
     [](sim::Share& s) { s.securityDescriptor = Hex(kPublicSd); }, nullptr, "another security descriptor"},
    {"NoDescriptorWhereTheRememberedHadOne", true, "Tools", false,
     [](sim::Share& s) { s.securityDescriptor.clear(); }, nullptr, "another security descriptor"},
    {"AnotherDescriptor", true, "Tools", false, [](sim::Share& s) { s.securityDescriptor = Hex(kPublicSd); },
     nullptr, "another security descriptor"},
    // A share that cannot be looked at is not taken for ours either; the next
    // run, which can, finds the very share.
    {"TheVeryShareUnreadable", true, "C$", true, nullptr, "status", "it cannot be read, status 5"},
    {"TheVeryShareWithoutGetInfo", true, "C$", true, nullptr, "missing",
     "it cannot be read, there is no NetShareGetInfo 127"},
    // Windows 9x has no boundary: whoever made it could as well have changed ours.
    {"Win9xAnotherPath", false, "C$", false, [](sim::Share& s) { s.path = "C:\\WINDOWS"; }, nullptr, nullptr},
};

// The family's workstation with the row's share of that name made in the
// moment before the tool puts its shares back. The shares as they stand
// then, as Described.
// NetShareGetInfo itself, when the row takes it away, goes to `getInfo`.
std::vector<std::string> TakeTheName(sim::Workstation& ws, const NameTaken& row, FARPROC* getInfo = nullptr) {
    const Family& family = kFamilies[row.nt ? 0 : 1];
    Describe(ws, family);
    if (row.deletionRefused) ws.RefuseShareDelete(row.share, 5);
    if (row.readFault && std::string(row.readFault) == "status") ws.FailCall("NetShareGetInfo", 5);
    if (row.readFault && std::string(row.readFault) == "missing") {
        if (getInfo) *getInfo = ws.modules["NETAPI32.DLL"].functions["NetShareGetInfo"];
        ws.modules["NETAPI32.DLL"].functions.erase("NetShareGetInfo");
    }
    std::vector<sim::Share> expected = family.shares();
    for (sim::Share& share : expected) {
        if (share.name != row.share || !row.change) continue;
        row.change(share);
        sim::Share theirs = share;
        ws.OnCall("NetShareAdd", 1, [&ws, theirs] { ws.AddShare(theirs); });
    }
    return Sorted(Described(expected));
}

std::string NotOursLine(const NameTaken& row) {
    return std::string("Share ") + row.share +
           " not back on the network: the share of that name is not the one removed (" + row.why +
           "), the share journal keeps it";
}

class ShareNameTaken : public ::testing::TestWithParam<NameTaken> {};

TEST_P(ShareNameTaken, CountsAsBackOnlyWhenItIsTheRememberedShare) {
    const NameTaken& row = GetParam();
    sim::Workstation ws;
    FARPROC getInfo = nullptr;
    std::vector<std::string> standing = TakeTheName(ws, row, &getInfo);

    RunResult first = RunKurrelfix({"/SILENT"});

    std::vector<std::string> console = ShareConsole(first.console);
    EXPECT_EQ(CountOf(console, std::string("Share ") + row.share + " created 2118"), 1);
    EXPECT_EQ(Sorted(Described(ws.shares)), standing) << "theirs is left as they made it";
    EXPECT_TRUE(ws.netBuffers.empty());
    std::string log = ws.Read(TestLogPath);
    if (!row.why) {
        EXPECT_EQ(first.exitCode, 0);
        EXPECT_EQ(CountOf(Lines(log, "\r\n"), "Share " + std::string(row.share) + " not back"), 0);
        EXPECT_FALSE(ws.Exists(kJournal)) << "every share is back";
        return;
    }
    // Not back: a failure of the run, and the journal keeps the remembered share.
    EXPECT_EQ(first.exitCode, 3);
    ExpectInOrder(Lines(log, "\r\n"), {NotOursLine(row), "Restore shares, success=0"});
    ExpectInOrder(console, {kJournalLines + " kept: 1 shares did not come back"});
    EXPECT_TRUE(ws.Exists(kJournal));

    // The next run replays the journal and meets the same share of that name.
    if (getInfo) ws.modules["NETAPI32.DLL"].functions["NetShareGetInfo"] = getInfo;
    std::vector<std::string> duringSweep;
    ws.OnCall("EnumProcesses", ws.Calls("EnumProcesses") + 1, [&] { duringSweep = Sorted(ws.ShareNames()); });
    size_t logBefore = ws.Read(TestLogPath).size();
    RunResult second = RunKurrelfix({"/SILENT"});

    std::string secondLog = ws.Read(TestLogPath).substr(logBefore);
    console = ShareConsole(second.console);
    EXPECT_EQ(CountOf(console, std::string("Journal share ") + row.share + " created 2118"), 1);
    EXPECT_TRUE(ws.netBuffers.empty());
    if (row.readFault) {
        // Now it can be read: the very share, back.
        EXPECT_EQ(second.exitCode, 0);
        ExpectInOrder(console, {kJournalLines + " done, every share is back"});
        EXPECT_FALSE(ws.Exists(kJournal));
        EXPECT_EQ(Sorted(Described(ws.shares)), standing);
        return;
    }
    EXPECT_EQ(second.exitCode, 3) << "still not back";
    ExpectInOrder(console, {kJournalLines + " kept: 1 shares did not come back; no share is removed"});
    EXPECT_NE(secondLog.find(NotOursLine(row) + "\r\n"), std::string::npos) << secondLog;
    EXPECT_EQ(duringSweep, Sorted(ws.ShareNames())) << "no share removed while the journal waits";
    EXPECT_EQ(Sorted(Described(ws.shares)), standing);
    EXPECT_TRUE(ws.Exists(kJournal));

    // Both lines are level-1 lines: the replay's, and the re-creation's.
    std::string replayErrors = RunLogged(ws, TraceError, [] { RemoveShares(nullptr); });
    EXPECT_NE(replayErrors.find(NotOursLine(row) + "\r\n"), std::string::npos) << replayErrors;
    sim::Workstation again;
    TakeTheName(again, row);
    std::string errors = RunLogged(again, TraceError, [] {
        ConsoleCapture capture;
        RemoveShares(nullptr);
        RestoreShares(nullptr);
    });
    EXPECT_NE(errors.find(NotOursLine(row) + "\r\n"), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(Rows, ShareNameTaken, ::testing::ValuesIn(kNamesTaken),
                         [](const auto& info) { return std::string(info.param.name); });

// What "the same share" means, field by field.
std::vector<WCHAR> Wide(const std::string& text) {
    std::vector<WCHAR> wide;
    for (char c : text) wide.push_back(static_cast<unsigned char>(c));
    wide.push_back(0);
    return wide;
}

struct RecordPair {
    const char* name;
    const char* rememberedPath;  // nullptr: none
    const char* foundPath;
    DWORD foundType;             // the remembered one's is 0
    DWORD foundPermissions;      // ... and 0
    const char* rememberedSd;    // hex; "": none
    const char* foundSd;
    const char* difference;      // nullptr: the same share
};

const RecordPair kRecordPairs[] = {
    {"AllTheSame", "C:\\Data", "C:\\Data", 0, 0, kToolsSd, kToolsSd, nullptr},
    {"PathInOtherCase", "C:\\Data", "c:\\DATA", 0, 0, "", "", nullptr},
    {"NoPathAndAnEmptyOne", nullptr, "", 0, 0, "", "", nullptr},
    // Only A to Z are folded: any other letter in other case is another path.
    {"PathInOtherCaseBeyondAToZ", "C:\\\xC4rger", "C:\\\xE4rger", 0, 0, "", "", "another path"},
    {"PathWithATrailingBackslash", "C:\\Data", "C:\\Data\\", 0, 0, "", "", "another path"},
    {"PathLonger", "C:\\Data", "C:\\Data2", 0, 0, "", "", "another path"},
    {"PathShorter", "C:\\Data", "C:\\Dat", 0, 0, "", "", "another path"},
    {"TypeSpecial", "C:\\Data", "C:\\Data", 0x80000000, 0, "", "", "another type"},
    {"Permissions", "C:\\Data", "C:\\Data", 0, 0x7F, "", "", "other permissions"},
    {"DescriptorOnlyFound", "C:\\Data", "C:\\Data", 0, 0, "", kToolsSd, "another security descriptor"},
    {"DescriptorOnlyRemembered", "C:\\Data", "C:\\Data", 0, 0, kToolsSd, "", "another security descriptor"},
    {"DescriptorOfOtherLength", "C:\\Data", "C:\\Data", 0, 0, kToolsSd, kPublicSd, "another security descriptor"},
};

class SameShare : public ::testing::TestWithParam<RecordPair> {};

TEST_P(SameShare, IsThePathTypePermissionsAndDescriptor) {
    const RecordPair& row = GetParam();
    sim::Workstation ws;  // whose system reads the descriptors' lengths
    std::vector<WCHAR> name = Wide("Data");
    std::vector<WCHAR> rememberedPath = Wide(row.rememberedPath ? row.rememberedPath : "");
    std::vector<WCHAR> foundPath = Wide(row.foundPath);
    std::vector<uint8_t> rememberedSd = Hex(row.rememberedSd);
    std::vector<uint8_t> foundSd = Hex(row.foundSd);
    SHARE_INFO_502 remembered = {};
    remembered.shi502_netname = name.data();
    remembered.shi502_path = row.rememberedPath ? rememberedPath.data() : nullptr;
    remembered.shi502_security_descriptor = rememberedSd.empty() ? nullptr : rememberedSd.data();
    SHARE_INFO_502 found = remembered;
    found.shi502_path = foundPath.data();
    found.shi502_type = row.foundType;
    found.shi502_permissions = row.foundPermissions;
    found.shi502_security_descriptor = foundSd.empty() ? nullptr : foundSd.data();
    const char* difference = ShareRecordDifference(&remembered, &found);
    EXPECT_STREQ(difference, row.difference);
}

TEST(SameShare, IsADescriptorEqualByteForByte) {
    sim::Workstation ws;
    std::vector<WCHAR> path = Wide("C:\\Tools");
    std::vector<uint8_t> remembered = Hex(kToolsSd);
    std::vector<uint8_t> found = remembered;
    SHARE_INFO_502 ours = {};
    ours.shi502_path = path.data();
    ours.shi502_security_descriptor = remembered.data();
    SHARE_INFO_502 theirs = ours;
    theirs.shi502_security_descriptor = found.data();
    EXPECT_EQ(ShareRecordDifference(&ours, &theirs), nullptr) << "equal bytes, apart";
    // One byte of Everyone's access mask (the ACE's last twelve bytes are its SID).
    found[found.size() - 16] = 0xA9;
    EXPECT_STREQ(ShareRecordDifference(&ours, &theirs), "another security descriptor");
}

INSTANTIATE_TEST_SUITE_P(Rows, SameShare, ::testing::ValuesIn(kRecordPairs),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// ---- a journal that cannot be trusted ---------------------------------------

const char* const kNtHeader = "Kurrelfix share journal 1 NT";
const char* const k9xHeader = "Kurrelfix share journal 1 9x";
// The share Data at C:\Data, as each family's journal holds it.
const char* const kNtDataLine =
    "share502 x0044006100740061 0 x 0 4294967295 0 x0043003A005C0044006100740061 - 0 -";
const char* const k9xDataLine = "share50 x44415441 0 257 x x433A5C44415441 x x";  // DATA, C:\DATA

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// The NT line of Data with its field number `field` (0 is "share502") replaced.
std::string DataLineWith(size_t field, const std::string& value) {
    std::vector<std::string> fields = Lines(kNtDataLine, " ");
    fields.at(field) = value;
    std::string line;
    for (const std::string& f : fields) line += (line.empty() ? "" : " ") + f;
    return line;
}

struct DamagedJournal {
    const char* name;
    bool nt;
    std::string text;
    const char* reason;
};

std::string Cut(const std::string& text, size_t bytes) { return text.substr(0, text.size() - bytes); }

std::string FlipOneDigit(std::string text) {
    text[text.find("x0044") + 4] = '5';
    return text;
}

const DamagedJournal kDamagedJournals[] = {
    {"CutShort", true, Cut(JournalText(kNtHeader, {kNtDataLine}), 7), "cut short"},
    {"CutInAShareLine", false, Cut(JournalText(k9xHeader, {k9xDataLine}), 30), "cut short"},
    {"ChangedByte", true, FlipOneDigit(JournalText(kNtHeader, {kNtDataLine})), "checksum does not match"},
    {"OtherFamily", true, JournalText(k9xHeader, {k9xDataLine}), "written on the other Windows family"},
    {"CountWrong", false, JournalText(k9xHeader, {k9xDataLine}, 2), "count does not match"},
    {"NotAJournal", true, JournalText("Kurrelfix.log", {}), "not a share journal"},
    {"ShareLineUnreadable", true, JournalText(kNtHeader, {"share502 x0044 0"}), "a share line cannot be read"},
    {"LineWithoutItsCrLf", false,
     WithEndLine(std::string(k9xHeader) + "\r\n" + k9xDataLine + "\r\nshax \r1\n", 1), "a share line cannot be read"},
    {"DescriptorCut", true, JournalText(kNtHeader, {std::string(kNtDataLine).substr(0, strlen(kNtDataLine) - 1) + "x0100"}),
     "a share line cannot be read"},
    {"NameTooLongFor9x", false,
     JournalText(k9xHeader, {"share50 x4141414141414141414141414141 0 0 x x x x"}), "a share line cannot be read"},
    // Every field within what NetShareAdd takes, every descriptor offset within its bytes.
    {"PathTooLong", true, JournalText(kNtHeader, {DataLineWith(7, "x" + Repeat("0041", 261))}),
     "a share line cannot be read"},
    {"UnknownShareType", true, JournalText(kNtHeader, {DataLineWith(2, "7")}), "a share line cannot be read"},
    {"UnknownPermissions", true, JournalText(kNtHeader, {DataLineWith(4, "65536")}), "a share line cannot be read"},
    {"UnknownFlags9x", false, JournalText(k9xHeader, {"share50 x44415441 0 4096 x x433A5C44415441 x x"}),
     "a share line cannot be read"},
    // Header: revision 1, control, then the owner, group, SACL and DACL offsets.
    {"DescriptorNotSelfRelative", true,
     JournalText(kNtHeader, {DataLineWith(10, "x0100" "0400" "00000000" "00000000" "00000000" "00000000")}),
     "a share line cannot be read"},
    {"DescriptorOwnerOutside", true,
     JournalText(kNtHeader, {DataLineWith(10, "x0100" "0480" "F0000000" "00000000" "00000000" "00000000")}),
     "a share line cannot be read"},
    {"DescriptorAclOutside", true,
     JournalText(kNtHeader, {DataLineWith(10, "x0100" "0480" "00000000" "00000000" "00000000" "14000000"
                                              "02000001" "00000000")}),
     "a share line cannot be read"},
};

class DamagedShareJournal : public ::testing::TestWithParam<DamagedJournal> {};

TEST_P(DamagedShareJournal, IsSetAsideAndReportedNeverHalfApplied) {
    const DamagedJournal& row = GetParam();
    sim::Workstation ws;
    if (row.nt) {
        ws.Nt();
    } else {
        ws.Win9x();
    }
    ws.AddShare(MakeShare("IPC$", row.nt ? 0x80000003 : 3, "Remote IPC", ""));
    LeaveToolRecord(ws, kJournal, row.text);
    const std::string planted = ws.Read(kJournal);
    ws.File(kSetAside, "an older damaged journal");

    RunResult run = RunKurrelfix({"/SILENT"});

    std::string reported = kJournalLines + " is damaged (" + row.reason + "), set aside as " + kSetAside + "1";
    std::vector<std::string> console = ShareConsole(run.console);
    ExpectInOrder(console, {"Removing shares", reported,
                            std::string("share IPC$ ") + (row.nt ? "ingored" : "ignored"), "Restore shares"});
    EXPECT_EQ(CountOf(console, "Journal share"), 0);
    ExpectInOrder(Lines(ws.Read(TestLogPath), "\r\n"), {reported, "Removed all network shares, success=1"});
    EXPECT_EQ(ws.ShareNames(), std::vector<std::string>{"IPC$"}) << "nothing of it re-created";
    EXPECT_EQ(ws.Read(std::string(kSetAside) + "1"), planted) << "kept as it was";
    EXPECT_EQ(ws.Read(kSetAside), "an older damaged journal");
    EXPECT_FALSE(ws.Exists(kJournal));
}

TEST(ShareJournal, WhileItsSharesCannotComeBackItIsKeptAndNoShareIsRemoved) {
    sim::Workstation ws;
    ws.Nt();
    ws.AddShare(MakeShare("Other", 0, "", "C:\\Other"));
    std::string text = JournalText(kNtHeader, {kNtDataLine});
    LeaveToolRecord(ws, kJournal, text);
    ws.RefuseShareAdd("Data", 5);
    std::vector<std::string> duringSweep;
    ws.OnCall("EnumProcesses", 1, [&] { duringSweep = ws.ShareNames(); });

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(ShareConsole(run.console),
              (std::vector<std::string>{"Removing shares", kJournalLines + " found: re-creating 1 shares",
                                        "Journal share Data created 5",
                                        kJournalLines + " kept: 1 shares did not come back; no share is removed",
                                        "Restore shares"}));
    EXPECT_EQ(duringSweep, std::vector<std::string>{"Other"}) << "no share removed while the journal is needed";
    EXPECT_EQ(ToolRecordBody(ws, kJournal), text) << "neither replaced nor changed";
    ExpectInOrder(Lines(ws.Read(TestLogPath), "\r\n"), {"Removed all network shares, success=0"});
}

INSTANTIATE_TEST_SUITE_P(Journals, DamagedShareJournal, ::testing::ValuesIn(kDamagedJournals),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- who could have written it ----------------------------------------------

sim::ObjectSecurity Owned(const char* owner, std::vector<sim::Ace> extra = {}, bool hasDacl = true) {
    sim::ObjectSecurity security;
    security.owner = owner;
    security.hasDacl = hasDacl;
    security.dacl = {{sim::AdministratorsSid, GENERIC_ALL, 0, 0}, {sim::SystemSid, GENERIC_ALL, 0, 0}};
    security.dacl.insert(security.dacl.end(), extra.begin(), extra.end());
    return security;
}

// How the journal came to be there.
enum class Left {
    ByTheRunThatKeptIt,  // its identifier is the one the tool's key keeps
    WithASecondName,     // as that, and someone made a hard link to it
    AfterItsRunEnded,    // a copy put back: the key keeps no identifier for it
    WithoutIdentifier,   // written by hand, or by a tool before identifiers
};

struct JournalOwner {
    const char* name;
    sim::ObjectSecurity security;
    bool fat;            // the Windows folder's volume keeps no access lists
    const char* reason;  // why it is not trusted; nullptr: it is, and is replayed
    Left left = Left::ByTheRunThatKeptIt;
};

void LeaveJournalAs(sim::Workstation& ws, const std::string& text, const JournalOwner& row) {
    if (row.left == Left::WithoutIdentifier) {
        ws.File(kJournal, text);
    } else {
        LeaveToolRecord(ws, kJournal, text);
    }
    ws.Security(kJournal, row.security);
    if (row.left == Left::WithASecondName) ws.Dir("C:\\Users\\ann").HardLink("C:\\Users\\ann\\kept.jnl", kJournal);
    if (row.left == Left::AfterItsRunEnded)
        ws.FindKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ombrel Works\\Kurrelfix")->values.clear();
}

const JournalOwner kJournalOwners[] = {
    {"AsTheToolWritesIt", Owned(sim::AdministratorsSid), false, nullptr},
    {"OwnedBySystem", Owned(sim::SystemSid), false, nullptr},
    // Under Wine a file is owned by the one user, an administrator: only that
    // account can have made itself the owner.
    {"OwnedByTheAccountRunningTheTool", Owned(sim::ToolUserSid, {{sim::ToolUserSid, GENERIC_ALL, 0, 0}}),
     false, nullptr},
    {"OthersMayOnlyRead", Owned(sim::AdministratorsSid, {{sim::UsersSid, 0x1200A9, 0, 0}}), false, nullptr},
    {"EveryoneDenied", Owned(sim::AdministratorsSid, {{sim::EveryoneSid, GENERIC_ALL, 1, 0}}), false, nullptr},
    {"OnlyForFilesBelow", Owned(sim::AdministratorsSid, {{sim::EveryoneSid, GENERIC_ALL, 0, 0x08}}), false, nullptr},
    {"OwnedByAPlainUser", Owned(sim::PlainUserSid), false, "owned by another account"},
    {"WritableByEveryone", Owned(sim::AdministratorsSid, {{sim::EveryoneSid, 0x0002, 0, 0}}), false,
     "others may change it"},
    {"AppendableByUsers", Owned(sim::AdministratorsSid, {{sim::UsersSid, 0x0004, 0, 0}}), false,
     "others may change it"},
    {"ModifiableByUsers", Owned(sim::AdministratorsSid, {{sim::UsersSid, 0x1301BF, 0, 0}}), false,
     "others may change it"},
    {"AccessListChangeableByAUser", Owned(sim::AdministratorsSid, {{sim::PlainUserSid, WRITE_DAC, 0, 0}}),
     false, "others may change it"},
    {"NoAccessList", Owned(sim::AdministratorsSid, {}, false), false, "anyone may change it"},
    {"OnFat", Owned(sim::AdministratorsSid), true, "owned by another account"},
    {"KeptByAHardLink", Owned(sim::AdministratorsSid), false, "it has more than one name (a hard link)",
     Left::WithASecondName},
    {"PutBackAfterItsRunEnded", Owned(sim::AdministratorsSid), false,
     "its identifier is not the one this machine keeps for it: not written by the run that kept it",
     Left::AfterItsRunEnded},
    {"WithoutAnIdentifier", Owned(sim::AdministratorsSid), false, "it carries no identifier",
     Left::WithoutIdentifier},
};

class JournalTrust : public ::testing::TestWithParam<JournalOwner> {};

TEST_P(JournalTrust, IsReplayedOnlyWhenOnlyAdministratorsCouldHaveWrittenIt) {
    const JournalOwner& row = GetParam();
    sim::Workstation ws;
    ws.Nt();
    if (row.fat) ws.NoAcls('C');
    ws.AddShare(MakeShare("Other", 0, "", "C:\\Other"));
    std::string text = JournalText(kNtHeader, {kNtDataLine});
    LeaveJournalAs(ws, text, row);
    const std::string planted = ws.Read(kJournal);
    std::vector<std::string> duringSweep;
    ws.OnCall("EnumProcesses", 1, [&] { duringSweep = ws.ShareNames(); });

    RunResult run = RunKurrelfix({"/SILENT"});

    std::vector<std::string> console = ShareConsole(run.console);
    if (!row.reason) {
        EXPECT_EQ(CountOf(console, "Journal share Data created 0"), 1);
        EXPECT_EQ(duringSweep, std::vector<std::string>{}) << "replayed, then every share removed";
        EXPECT_EQ(ws.ShareNames(), (std::vector<std::string>{"Other", "Data"}));
        EXPECT_FALSE(ws.Exists(kJournal));
        return;
    }
    const std::string aside = "C:\\WINDOWS\\Kurrelfix-shares.untrusted";
    std::string reported = kJournalLines + " is not trusted (" + row.reason + "), set aside as " + aside +
                           "; its shares are not re-created: Data; no share is removed";
    ExpectInOrder(console, {"Removing shares", reported, "Restore shares"});
    EXPECT_EQ(CountOf(console, "Journal share"), 0);
    ExpectInOrder(Lines(ws.Read(TestLogPath), "\r\n"), {reported, "Removed all network shares, success=0"});
    EXPECT_EQ(duringSweep, std::vector<std::string>{"Other"}) << "no share removed this run";
    EXPECT_EQ(ws.ShareNames(), std::vector<std::string>{"Other"}) << "nothing of it created";
    EXPECT_EQ(ws.Read(aside), planted) << "kept for the administrator as it was";
    EXPECT_FALSE(ws.Exists(kJournal));

    sim::Workstation again;
    again.Nt();
    if (row.fat) again.NoAcls('C');
    LeaveJournalAs(again, text, row);
    std::string errors = RunLogged(again, TraceError, [] { RemoveShares(nullptr); });
    EXPECT_NE(errors.find(reported), std::string::npos) << "said at level 1:\n" << errors;
}

INSTANTIATE_TEST_SUITE_P(Owners, JournalTrust, ::testing::ValuesIn(kJournalOwners),
                         [](const auto& info) { return std::string(info.param.name); });

// A plain user who links the journal to a folder of theirs while the run
// holds it keeps a copy of it when the run deletes it, with the tool's own
// owner and access list. Put back after an administrator took a share off on
// purpose, it must not bring that share back.
TEST(ShareJournal, ACopyKeptByAHardLinkAndPutBackIsNotReplayed) {
    const char* const kept = "C:\\Users\\ann\\kept.jnl";
    sim::Workstation ws;
    ws.Nt().Dir("C:\\Users\\ann");
    ws.AddShare(MakeShare("Data", 0, "", "C:\\Data"));
    ws.OnCall("EnumProcesses", 1, [&] { ws.HardLink(kept, kJournal); });
    RunResult first = RunKurrelfix({"/SILENT"});
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_FALSE(ws.Exists(kJournal));
    ASSERT_TRUE(ws.Exists(kept)) << "the user's name keeps the file";
    ws.shares.clear();  // the administrator takes Data off the network
    ASSERT_EQ(sim::MoveNow(ws, kept, kJournal, false), 0u);  // and the user puts the copy back

    RunResult next = RunKurrelfix({"/SILENT"});

    const std::string aside = "C:\\WINDOWS\\Kurrelfix-shares.untrusted";
    std::string reported = kJournalLines +
                           " is not trusted (its identifier is not the one this machine keeps for it: not written by "
                           "the run that kept it), set aside as " +
                           aside + "; its shares are not re-created: Data; no share is removed";
    ExpectInOrder(ShareConsole(next.console), {"Removing shares", reported, "Restore shares"});
    ExpectInOrder(Lines(ws.Read(TestLogPath), "\r\n"), {reported});
    EXPECT_EQ(CountOf(ShareConsole(next.console), "Journal share"), 0);
    EXPECT_EQ(ws.ShareNames(), std::vector<std::string>{}) << "Data stays off, as the administrator left it";
    EXPECT_TRUE(ws.Exists(aside));
    EXPECT_FALSE(ws.Exists(kJournal));
}

const char* const kJournalKey = "SOFTWARE\\Ombrel Works\\Kurrelfix";

// Where the Windows folder keeps no access lists, the NT journal is a value of
// a key that the tool makes for Administrators and SYSTEM alone.
TEST(ShareJournal, OnAVolumeWithoutAccessListsTheJournalIsKeptInTheRegistry) {
    sim::Workstation ws;
    ws.Nt().NoAcls('C');
    ws.AddShare(MakeShare("IPC$", 0x80000003, "Remote IPC", ""));
    ws.AddShare(MakeShare("Data", 0, "", "C:\\Data"));
    RunKilledAt(ws, "EnumProcesses", [] {});
    EXPECT_FALSE(ws.Exists(kJournal));
    const sim::RegValue* value = ws.FindValue(HKEY_LOCAL_MACHINE, kJournalKey, "Share journal");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(std::string(value->data.begin(), value->data.end()).substr(0, strlen(kNtHeader)), kNtHeader);
    const sim::ObjectSecurity& security = ws.FindKey(HKEY_LOCAL_MACHINE, kJournalKey)->security;
    EXPECT_EQ(security.owner, sim::AdministratorsSid);
    ASSERT_EQ(security.dacl.size(), 2u);
    EXPECT_TRUE(security.daclProtected);

    RunResult next = RunKurrelfix({"/SILENT"});

    const std::string keyLines = std::string("Share journal HKEY_LOCAL_MACHINE\\") + kJournalKey + "\\Share journal";
    ExpectInOrder(ShareConsole(next.console),
                  {keyLines + " found: re-creating 1 shares", "Journal share Data created 0",
                   keyLines + " done, every share is back", "share Data Deleted", "Share Data created 0"});
    EXPECT_EQ(ws.ShareNames(), (std::vector<std::string>{"IPC$", "Data"}));
    EXPECT_EQ(ws.FindValue(HKEY_LOCAL_MACHINE, kJournalKey, "Share journal"), nullptr);
}

TEST(ShareJournal, AKeyMadeBeforehandBySomeoneElseIsNeitherWrittenNorTrusted) {
    sim::Workstation ws;
    ws.Nt().NoAcls('C');
    ws.AddShare(MakeShare("Data", 0, "", "C:\\Data"));
    ws.KeySecurity(HKEY_LOCAL_MACHINE, kJournalKey, Owned(sim::PlainUserSid));

    RunResult run = RunKurrelfix({"/SILENT"});

    ExpectInOrder(ShareConsole(run.console),
                  {std::string("Share journal HKEY_LOCAL_MACHINE\\") + kJournalKey +
                   "\\Share journal cannot be written, the key is not trusted (owned by another account): "
                   "no share is removed"});
    EXPECT_EQ(CountOf(ShareConsole(run.console), "share Data Deleted"), 0);
    EXPECT_EQ(ws.ShareNames(), std::vector<std::string>{"Data"});
    EXPECT_EQ(ws.FindValue(HKEY_LOCAL_MACHINE, kJournalKey, "Share journal"), nullptr);
}

TEST(ShareJournal, ASoundHandWrittenJournalIsReplayedOnBothFamilies) {
    // The journal's format, read back: the share Data with empty texts, no
    // password and no descriptor.
    for (bool nt : {true, false}) {
        sim::Workstation ws;
        if (nt) {
            ws.Nt();
        } else {
            ws.Win9x();
        }
        LeaveToolRecord(ws, kJournal, JournalText(nt ? kNtHeader : k9xHeader, {nt ? kNtDataLine : k9xDataLine}));
        RunResult run = RunKurrelfix({"/SILENT"});
        std::string name = nt ? "Data" : "DATA";
        ExpectInOrder(ShareConsole(run.console),
                      {"Journal share " + name + " created 0", "share " + name + (nt ? " Deleted" : " deleted")});
        ASSERT_EQ(ws.shares.size(), 1u);
        sim::Share data = MakeShare(name, 0, "", nt ? "C:\\Data" : "C:\\DATA");
        if (!nt) data.flags = 257;
        EXPECT_EQ(sim::Describe(ws.shares[0]), sim::Describe(data)) << (nt ? "NT" : "9x");
    }
}

}  // namespace

namespace {

// ---- what stops the removal, and the Part's edge cases ---------------------

struct NoRemoval {
    const char* name;
    bool nt;
    const char* module;    // whose library or function is taken away
    const char* function;  // "": the whole library; nullptr: neither
    DWORD enumStatus;      // NetShareEnum answers this when not 0
    const char* fault;     // a call made to fail with 112 (the disk is full), or nullptr
    std::string line;      // what the console holds right after "Removing shares"
    int success;           // "Removed all network shares, success=%d"
    int callsBefore = 1;   // the fault's calls before the journal's: the scanner record's
};

const NoRemoval kNoRemovals[] = {
    {"NtLibraryMissing", true, "NETAPI32.DLL", "", 0, nullptr, "cannot load netapi32.dll library 126", 0},
    {"NtEnumMissing", true, "NETAPI32.DLL", "NetShareEnum", 0, nullptr, "there is no funcNetShareEnum 127", 0},
    {"NtBufferFreeMissing", true, "NETAPI32.DLL", "NetApiBufferFree", 0, nullptr,
     "there is no NetApiBufferFree 127", 0},
    {"NtDelMissing", true, "NETAPI32.DLL", "NetShareDel", 0, nullptr, "there is no NetShareDel 127", 0},
    // The last error is what an earlier call left: looking for the journal.
    {"NtEnumFails", true, nullptr, nullptr, 53, nullptr, "cannot enumerated shares 2", 1},
    // On NT the record's identifier line is a write of its own.
    {"NtJournalNotWritten", true, nullptr, nullptr, 0, "WriteFile",
     std::string("Share journal ") + kJournal + " cannot be written, error 112: no share is removed\n", 0, 2},
    {"NtJournalNotFlushed", true, nullptr, nullptr, 0, "FlushFileBuffers",
     std::string("Share journal ") + kJournal + " cannot be written, error 112: no share is removed\n", 0},
    {"Win9xLibraryMissing", false, "SVRAPI.DLL", "", 0, nullptr, "cannot load svrapi.dll library 126", 0},
    {"Win9xEnumMissing", false, "SVRAPI.DLL", "NetShareEnum", 0, nullptr,
     "there is no funWin95NetShareEnum 127", 0},
    {"Win9xDelMissing", false, "SVRAPI.DLL", "NetShareDel", 0, nullptr, "there is no NetShareDel 127", 0},
    {"Win9xEnumFails", false, nullptr, nullptr, 53, nullptr, "A system error has occurred\n 53", 1},
    {"Win9xJournalNotFlushed", false, nullptr, nullptr, 0, "FlushFileBuffers",
     std::string("Share journal ") + kJournal + " cannot be written, error 112: no share is removed\n", 0},
};

class SharesStay : public ::testing::TestWithParam<NoRemoval> {};

TEST_P(SharesStay, WhenTheLibraryOrTheJournalFailsEveryShareStaysAndTheRunGoesOn) {
    const NoRemoval& row = GetParam();
    sim::Workstation ws;
    Describe(ws, kFamilies[row.nt ? 0 : 1]);
    if (row.module && row.function[0]) ws.modules[row.module].functions.erase(row.function);
    if (row.module && !row.function[0]) ws.modules[row.module].loadable = false;
    ws.shareEnumStatus = row.enumStatus;
    // The scanner record is written first.
    if (row.fault) ws.FailCall(row.fault, 112, row.callsBefore);
    std::vector<std::string> before = Described(ws.shares);
    std::vector<std::string> duringSweep;
    ws.OnCall(kFamilies[row.nt ? 0 : 1].firstSweepCall, 1, [&] { duringSweep = Described(ws.shares); });

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(run.exitCode, 0);
    // "%s %ld" ends without a line end: the next console line follows at once.
    EXPECT_NE(run.console.find("Removing shares\n" + row.line + "find and kill all Kurrel tasks"),
              std::string::npos)
        << run.console;
    EXPECT_EQ(duringSweep, before);
    EXPECT_EQ(Described(ws.shares), before);
    EXPECT_EQ(CountOf(Lines(run.console, "\n"), "share C$"), 0);
    EXPECT_EQ(CountOf(Lines(run.console, "\n"), "Share C$"), 0);
    // The same bytes in the log, where the stage's own line follows at once.
    std::string inLog;
    for (char c : row.line) inLog += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string log = ws.Read(TestLogPath);
    EXPECT_NE(log.find("Removing shares\r\n" + inLog + "Removed all network shares, success=" +
                       std::to_string(row.success) + "\r\n"),
              std::string::npos)
        << log;
    ExpectInOrder(Lines(log, "\r\n"), {"Restore shares", "Restore shares, success=1"});
    EXPECT_FALSE(ws.Exists(kJournal));
    EXPECT_TRUE(ws.netBuffers.empty());
}

INSTANTIATE_TEST_SUITE_P(Failures, SharesStay, ::testing::ValuesIn(kNoRemovals),
                         [](const auto& info) { return std::string(info.param.name); });

struct KeptName {
    const char* name;
    bool nt;
    const char* share;
    const char* line;
};

const KeptName kKeptNames[] = {
    {"NtUpper", true, "IPC$", "share IPC$ ingored"},
    {"NtLower", true, "ipc$", "share ipc$ ingored"},
    {"NtMixed", true, "Ipc$", "share Ipc$ ingored"},
    {"Win9xLower", false, "ipc$", "share ipc$ ignored"},
    {"Win9xMixed", false, "iPc$", "share iPc$ ignored"},
};

class IpcShare : public ::testing::TestWithParam<KeptName> {};

TEST_P(IpcShare, StaysInAnyLetterCaseAndIsNotRemembered) {
    const KeptName& row = GetParam();
    sim::Workstation ws;
    Describe(ws, kFamilies[row.nt ? 0 : 1]);
    ws.shares = {MakeShare(row.share, row.nt ? 0x80000003 : 3, "Remote IPC", "")};
    std::vector<std::string> duringSweep;
    bool journalDuringSweep = true;
    ws.OnCall(kFamilies[row.nt ? 0 : 1].firstSweepCall, 1, [&] {
        duringSweep = ws.ShareNames();
        journalDuringSweep = ws.Exists(kJournal);
    });

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(duringSweep, std::vector<std::string>{row.share});
    EXPECT_FALSE(journalDuringSweep) << "nothing to remove, nothing to journal";
    EXPECT_EQ(ShareConsole(run.console), (std::vector<std::string>{"Removing shares", row.line, "Restore shares"}));
    ExpectInOrder(Lines(ws.Read(TestLogPath), "\r\n"),
                  {std::string("Not removing share ") + row.share, "Removed all network shares, success=1",
                   "Restore shares", "Restore shares, success=1"});
    EXPECT_EQ(ws.Calls("NetShareDel"), 0);
    EXPECT_EQ(ws.Calls("NetShareAdd"), 0);
    EXPECT_TRUE(ws.netBuffers.empty());
}

INSTANTIATE_TEST_SUITE_P(Names, IpcShare, ::testing::ValuesIn(kKeptNames),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NtShares, PagedEnumerationRemovesEveryShareAndFreesEveryPage) {
    // Deleting between pages would make the resume handle skip shares: every
    // page is read before the first deletion.
    sim::Workstation ws;
    Describe(ws, kFamilies[0]);
    ws.sharePageSize = 2;
    std::vector<std::string> before = Described(ws.shares);
    std::vector<std::string> duringSweep;
    ws.OnCall("EnumProcesses", 1, [&] { duringSweep = ws.ShareNames(); });

    RunResult run = RunKurrelfix({"/SILENT"});

    EXPECT_EQ(duringSweep, std::vector<std::string>{"IPC$"});
    EXPECT_EQ(ws.Calls("NetShareEnum"), 3);
    EXPECT_EQ(ws.Calls("NetApiBufferFree"), 3);
    EXPECT_TRUE(ws.netBuffers.empty());
    EXPECT_EQ(ShareConsole(run.console), ExpectedCycle(kFamilies[0], UserShares(kFamilies[0])));
    EXPECT_EQ(Described(ws.shares), before);
}

TEST(Win9xShares, AListLargerThanTheBufferRemovesAndReCreatesOnlyWhatFitted) {
    sim::Workstation ws;
    ws.Win9x();
    ws.AddShare(MakeShare("IPC$", 3, "Remote IPC", ""));
    for (int i = 10; i < 90; ++i) {
        std::string number = std::to_string(i);
        ws.AddShare(MakeShare("SHARE" + number, 0, "Share number " + number, "C:\\SHARE" + number));
    }
    // Each record, then its remark (16 bytes) and path (11 bytes) at the back.
    const size_t fitting = ShareBuffer9xSize / (sizeof(share_info_50) + 27);
    std::vector<std::string> before = Sorted(Described(ws.shares));
    std::vector<std::string> duringSweep;
    ws.OnCall("CreateToolhelp32Snapshot", 1, [&] { duringSweep = ws.ShareNames(); });

    RunResult run = RunKurrelfix({"/SILENT"});

    std::vector<std::string> console = ShareConsole(run.console);
    EXPECT_EQ(CountOf(console, "share SHARE"), static_cast<int>(fitting - 1));
    EXPECT_EQ(CountOf(console, "Share SHARE"), static_cast<int>(fitting - 1));
    ASSERT_EQ(duringSweep.size(), 81 - (fitting - 1));
    EXPECT_EQ(duringSweep[1], "SHARE" + std::to_string(10 + fitting - 1)) << "the first that did not fit stays";
    EXPECT_EQ(Sorted(Described(ws.shares)), before);
}

TEST(ShareStream, WithoutOneOnlyTheLogSaysRemovingAndRestore) {
    sim::Workstation ws;
    Describe(ws, kFamilies[0]);
    std::string console;
    std::string log = RunLogged(ws, 4, [&] {
        ConsoleCapture capture;
        EXPECT_EQ(RemoveShares(nullptr), 1);
        EXPECT_EQ(RestoreShares(nullptr), 1);
        console = capture.Text();
    });
    std::vector<std::string> lines = ShareConsole(console);
    EXPECT_EQ(CountOf(lines, "Removing shares"), 0);
    EXPECT_EQ(CountOf(lines, "Restore shares"), 0);
    EXPECT_EQ(CountOf(lines, "share ADMIN$ Deleted"), 1);
    ExpectInOrder(Lines(log, "\r\n"), {"Removing shares", "share ADMIN$ Deleted", "Restore shares",
                                       "Share ADMIN$ created 0"});
}

struct NoMemory {
    const char* name;
    bool nt;
    int allocationsBefore;  // AllocBuffer calls of the removal before the one that fails
    const char* share;      // the share whose node cannot be allocated
    const char* line;
};

const NoMemory kNoMemory[] = {
    // The journal's list of records and its text, then one node per removed share.
    {"Nt", true, 3, "C$", "share C$ ingored"},
    // The 4,200-byte buffer first.
    {"Win9x", false, 4, "PUBLIC", "share PUBLIC ignored"},
};

class ShareNodeMemory : public ::testing::TestWithParam<NoMemory> {};

TEST_P(ShareNodeMemory, AShareThatCannotBeRememberedIsNotDeleted) {
    const NoMemory& row = GetParam();
    sim::Workstation ws;
    Describe(ws, kFamilies[row.nt ? 0 : 1]);
    std::vector<std::string> before = Sorted(Described(ws.shares));
    std::vector<std::string> afterRemoval;
    std::string console;
    std::string log = RunLogged(ws, 4, [&] {
        ConsoleCapture capture;
        ws.FailCall("AllocBuffer", ERROR_NOT_ENOUGH_MEMORY, row.allocationsBefore);
        RemoveShares(stdout);
        afterRemoval = ws.ShareNames();
        RestoreShares(stdout);
        console = capture.Text();
    });
    EXPECT_EQ(afterRemoval, (std::vector<std::string>{"IPC$", row.share}));
    EXPECT_EQ(CountOf(ShareConsole(console), row.line), 1);
    EXPECT_EQ(CountOf(ShareConsole(console), std::string("Share ") + row.share), 0);
    ExpectInOrder(Lines(log, "\r\n"),
                  {std::string("Removing share ") + row.share,
                   std::string("NO MEMORY to remember share ") + row.share + ", it is not removed", row.line});
    EXPECT_EQ(Sorted(Described(ws.shares)), before);
    EXPECT_FALSE(ws.Exists(kJournal));
    EXPECT_TRUE(ws.netBuffers.empty());
}

INSTANTIATE_TEST_SUITE_P(Families, ShareNodeMemory, ::testing::ValuesIn(kNoMemory),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
