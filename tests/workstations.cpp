#include "tests/workstations.h"

#include "tests/test_support.h"

#include <stdio.h>

#include "cleanup/signature_matcher.h"
#include "protection/protection_control.h"
#include "samples/worm_sample.h"
#include "support/crc32.h"

namespace workstations {

const char* const kShellKey = "exefile\\shell\\open\\command";
const char* const kShellKey32 = "Wow6432Node\\exefile\\shell\\open\\command";
const char* const kNtWindowsKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const char* const kRightCommand = "\"%1\" %*";
const char* const kWormCommand = "C:\\WINDOWS\\SYSTEM\\kurrel.exe \"%1\" %*";
const char* const kWormRun = "C:\\WINDOWS\\SYSTEM\\kurrel.exe";

const char* const kExplorer = "C:\\WINDOWS\\explorer.exe";
const char* const kRunningWorm = "C:\\WINDOWS\\SYSTEM\\kurrel.exe";
const char* const kCopyInDocuments = "C:\\My Documents\\Holiday Pictures\\setup.exe";
const char* const kCopyInProgramFiles = "C:\\Program Files\\Common Files\\kurrel.scr";
const char* const kNearMiss = "C:\\My Documents\\near miss.exe";
const char* const kPlainUserShellKey =
    "S-1-5-21-1004336348-1177238915-682003330-1003_Classes\\exefile\\shell\\open\\command";
const char* const kPlainUserWindowsKey =
    "S-1-5-21-1004336348-1177238915-682003330-1003\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const char* const kRenamedWorm = "C:\\Documents and Settings\\ann\\helper.exe";

namespace {

const char* const kReadOnlyCopy = "C:\\WINDOWS\\Temp\\kurrel.pif";
const char* const kRealSystemCopy = "C:\\WINDOWS\\System32\\kurrelsv.exe";
const char* const kWowNamesake = "C:\\WINDOWS\\SysWOW64\\kurrelsv.exe";
const char* const kJournalPath = "C:\\WINDOWS\\Kurrelfix-shares.jnl";
const char* const kJournalHeader = "Kurrelfix share journal 1 NT";
// The share Documents at C:\My Documents, up to ten users, with its
// descriptor: the very share, as the run that died remembered it.
const char* const kJournalDocuments =
    "share502 x0044006F00630075006D0065006E00740073 0 - 0 10 0 "
    "x0043003A005C004D007900200044006F00630075006D0065006E00740073 - 0 "
    "x0100048000000000000000000000000000000000";

std::string WinIni(const std::string& run) {
    return "[windows]\r\nload=\r\nrun=" + run + "\r\nNullPort=None\r\n\r\n[Desktop]\r\nWallpaper=(None)\r\n";
}

// A machine of the sweeps: every extra that either family has, shares on
// the 9x machines and on the NT machines with the scanner.
WorkstationKind SweptKind(const char* name, bool nt, bool infected, bool scanner, bool wow64 = false,
                          bool leftJournal = false) {
    WorkstationKind kind{name, nt, infected, scanner};
    kind.junction = nt;
    kind.letter = true;
    kind.shares = scanner || !nt;
    kind.heldCopy = true;
    kind.readOnlyCopy = true;
    kind.wideNames = nt;
    kind.plainUser = nt;
    kind.wow64 = wow64;
    kind.leftJournal = leftJournal;
    return kind;
}

// The tool's records in the registry, and a driver whose answers are
// waited for.
WorkstationKind FatWithLateDriver() {
    WorkstationKind kind = SweptKind("infected NT with scanner on FAT, late driver", true, true, true);
    kind.fat = true;
    kind.lateReadBack = true;
    return kind;
}

void AddShares(sim::Workstation& ws, bool nt) {
    sim::Share ipc;
    ipc.name = "IPC$";
    ipc.type = 3;
    ipc.remark = "Remote IPC";
    sim::Share admin;
    admin.name = "C$";
    admin.remark = "Default share";
    admin.path = "C:\\";
    sim::Share documents;
    documents.name = "Documents";
    documents.remark = "Team documents";
    documents.path = "C:\\My Documents";
    if (nt) {
        admin.type = 0x80000000;
        documents.maxUses = 10;
        documents.securityDescriptor = {1, 0, 4, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    } else {
        documents.flags = 0x0102;  // full access, persistent
        documents.password = "full";
        documents.readPassword = "read";
    }
    ws.AddShare(ipc).AddShare(admin).AddShare(documents);
}

// As the tool writes it: owned by Administrators, for them and SYSTEM alone.
void LeaveJournal(sim::Workstation& ws) {
    std::string text = std::string(kJournalHeader) + "\r\n" + kJournalDocuments + "\r\n";
    char end[32];
    snprintf(end, sizeof(end), "end 1 %08lX\r\n", (unsigned long)Crc32(text.data(), static_cast<DWORD>(text.size())));
    sim::ObjectSecurity security;
    security.owner = sim::AdministratorsSid;
    security.dacl = {{sim::AdministratorsSid, GENERIC_ALL, 0, 0}, {sim::SystemSid, GENERIC_ALL, 0, 0}};
    security.daclProtected = true;
    LeaveToolRecord(ws, kJournalPath, text + end);
    ws.Security(kJournalPath, security);
}

// A Power User's share named C$ of their own folder, open to everyone.
WorkstationKind TakenMeanwhile() {
    WorkstationKind kind = SweptKind("infected NT with scanner, C$ taken meanwhile", true, true, true);
    kind.shareTakenMeanwhile = true;
    return kind;
}

}  // namespace

sim::Share TakenShare() {
    sim::Share share;
    share.name = "C$";
    share.type = 0x80000000;
    share.remark = "Default share";
    share.path = "C:\\Documents and Settings\\ann";
    return share;
}

const std::vector<WorkstationKind>& SweptWorkstations() {
    static const std::vector<WorkstationKind> kinds = {
        SweptKind("infected NT", true, true, false),
        SweptKind("infected NT with scanner", true, true, true),
        SweptKind("infected 9x", false, true, false),
        SweptKind("clean NT", true, false, false),
        SweptKind("clean NT with scanner", true, false, true, false, true),
        SweptKind("clean 9x", false, false, false),
        SweptKind("infected NT 64-bit", true, true, false, true),
        FatWithLateDriver(),
        TakenMeanwhile(),
    };
    return kinds;
}

sim::Process Running(DWORD pid, const std::string& path) {
    sim::Process process;
    process.pid = pid;
    process.exePath = path;
    return process;
}

std::vector<std::string> Describe(sim::Workstation& ws, const WorkstationKind& kind) {
    std::string run = kind.infected ? kWormRun : "";
    if (kind.nt) {
        ws.Nt().RegString(HKEY_CURRENT_USER, kNtWindowsKey, "run", run);
        if (kind.junction) ws.FolderLink("C:\\My Documents\\All of C", "C:\\");
    } else {
        ws.Win9x();
    }
    ws.File(kExplorer, "MZ explorer")
        .AddProcess(Running(0x5c, kExplorer))
        .File("C:\\WINDOWS\\win.ini", WinIni(run))
        .File("C:\\AUTOEXEC.BAT", "@echo off\r\n");
    if (kind.letter) ws.File("C:\\My Documents\\letter.txt", "Dear all,\r\n");
    ws.RegString(HKEY_CLASSES_ROOT, kShellKey, "", kind.infected ? kWormCommand : kRightCommand);
    if (kind.fat) ws.NoAcls('C');
    if (kind.scanner) ws.ScannerDevices({"VTSentrelDev"});
    if (kind.lateReadBack) {
        ws.scanner.pend.insert(SentrelReadBackRequest);
        ws.scanner.finishAfterMs[SentrelReadBackRequest] = 3000;
    }
    if (kind.shares) AddShares(ws, kind.nt);
    if (kind.leftJournal) LeaveJournal(ws);
    if (kind.shareTakenMeanwhile) {
        ws.OnCall("EnumProcesses", 1, [&ws] {
            for (const sim::Share& share : ws.shares)
                if (sim::NoCaseEqual(share.name, "C$")) return;
            ws.AddShare(TakenShare());
        });
    }
    if (!kind.infected) return {};

    std::vector<uint8_t> copy = worm_sample::MakeSample(20480, SignatureTable[6].crc, 3);
    std::vector<uint8_t> nearMiss = copy;
    nearMiss[6000] ^= 0x10;  // one bit away from a copy: it must stay
    // The running worm, its hidden executable held open by its own process.
    ws.FileBytes(kRunningWorm, worm_sample::MakeSample(16384, SignatureTable[1].crc, 2),
                 FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)
        .AddProcess(Running(0x1a4, kRunningWorm))
        .FileBytes(kCopyInDocuments, copy);
    if (kind.heldCopy) ws.Hold(kCopyInDocuments, FILE_SHARE_READ);
    ws.FileBytes(kCopyInProgramFiles, worm_sample::MakeSample(8192, SignatureTable[17].crc, 4),
                 FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (kind.readOnlyCopy)
        ws.FileBytes(kReadOnlyCopy, worm_sample::MakeSample(12000, SignatureTable[9].crc, 5),
                     FILE_ATTRIBUTE_READONLY);
    ws.FileBytes(kNearMiss, nearMiss);
    std::vector<std::string> wormFiles = {kRunningWorm, kCopyInDocuments, kCopyInProgramFiles};
    if (kind.readOnlyCopy) wormFiles.push_back(kReadOnlyCopy);
    if (kind.nt && kind.wideNames) {
        const std::string fullwidth = "C:\\My Documents\\\xef\xbd\x8burrel.exe";  // "ｋurrel.exe"
        const std::string deep = "C:\\Archive\\" + std::string(150, 'a') + "\\" + std::string(150, 'b') + "\\old.exe";
        const std::string dotted = "C:\\My Documents\\mail.exe.";
        ws.FileBytes(fullwidth, worm_sample::MakeSample(9000, SignatureTable[12].crc, 7))
            .FileBytes(deep, worm_sample::MakeSample(9000, SignatureTable[14].crc, 8))
            .FileBytes(dotted, worm_sample::MakeSample(9000, SignatureTable[15].crc, 9))
            .Hold(dotted, FILE_SHARE_READ)
            .NoShortName(fullwidth)
            .NoShortName(dotted);
        wormFiles.insert(wormFiles.end(), {fullwidth, deep, dotted});
    }
    if (kind.nt && kind.plainUser) {
        sim::Process renamed = Running(0x1b8, kRenamedWorm);
        renamed.loaderPath = kExplorer;
        ws.FileBytes(kRenamedWorm, worm_sample::MakeSample(9000, SignatureTable[4].crc, 10))
            .AddProcess(renamed)
            .RegString(HKEY_USERS, kPlainUserShellKey, "", kWormCommand)
            .RegString(HKEY_USERS, kPlainUserWindowsKey, "run", kWormRun);
        wormFiles.push_back(kRenamedWorm);
    }
    if (kind.wow64) {
        // Written over the network into the real system folder; the 32-bit
        // program of that name in SysWOW64 is no worm and must stay. The
        // worm's command stands in both views of the classes.
        ws.Wow64();
        ws.majorVersion = 6;  // Vista: two views of the classes, and IsWow64Process for certain
        ws.minorVersion = 0;
        ws.FileBytes(kRealSystemCopy, worm_sample::MakeSample(9000, SignatureTable[3].crc, 6))
            .File(kWowNamesake, "MZ 32-bit service")
            .RegString(HKEY_CLASSES_ROOT, kShellKey32, "", kWormCommand);
        wormFiles.push_back(kRealSystemCopy);
    }
    return wormFiles;
}

std::string RunEntry(sim::Workstation& ws, bool nt, const std::string& iniPath) {
    if (nt) {
        if (!ws.FindValue(HKEY_CURRENT_USER, kNtWindowsKey, "run")) return "(none)";
        return ws.RegText(HKEY_CURRENT_USER, kNtWindowsKey, "run");
    }
    std::string ini = ws.Read(iniPath);
    size_t at = ini.find("\r\nrun=");
    if (at == std::string::npos) return "(none)";
    size_t end = ini.find("\r\n", at + 2);
    return ini.substr(at + 6, end - at - 6);
}

}  // namespace workstations

namespace {

const char* const kToolKey = "SOFTWARE\\Ombrel Works\\Kurrelfix";
const char* const kIdPrefix = "Kurrelfix record id ";

std::string IdValueOf(const std::string& path) { return path.substr(path.find_last_of('\\') + 1) + " id"; }

}  // namespace

void LeaveToolRecord(sim::Workstation& ws, const std::string& path, const std::string& body) {
    if (ws.platformId != VER_PLATFORM_WIN32_NT) {
        ws.File(path, body);
        return;
    }
    // Any 32 digits will do, as long as the key keeps the same ones.
    const std::string digits = "0123456789ABCDEF0123456789ABCDEF";
    ws.RegString(HKEY_LOCAL_MACHINE, kToolKey, IdValueOf(path), digits);
    ws.File(path, kIdPrefix + digits + "\r\n" + body);
}

std::string ToolRecordBody(sim::Workstation& ws, const std::string& path) {
    std::string text = ws.Read(path);
    if (ws.platformId != VER_PLATFORM_WIN32_NT) return text;
    std::string kept = ws.RegText(HKEY_LOCAL_MACHINE, kToolKey, IdValueOf(path));
    std::string line = kIdPrefix + kept + "\r\n";
    if (kept.size() != 32 || text.compare(0, line.size(), line) != 0) return "<not kept> " + text;
    return text.substr(line.size());
}
