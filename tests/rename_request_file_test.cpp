// The rename request file "VTSL.REN": what we write, and what the scanner's
// service accepts or rejects when it reads the file at boot.
#include <gtest/gtest.h>

#include "tests/test_support.h"

#include <string.h>

#include <string>
#include <vector>

#include "cleanup/signature_matcher.h"
#include "sim/workstation.h"
#include "support/rename_request_file.h"

namespace {

const char InstallKey[] = "Software\\Ombrel Works\\Common\\Paths";
const char InstallDir[] = "C:\\Program Files\\Ombrel Works\\Common";
const char RequestPath[] = "C:\\Program Files\\Ombrel Works\\Common\\VTSL.REN";

void InstallAt(sim::Workstation& ws, const std::string& dir) {
    ws.RegString(HKEY_LOCAL_MACHINE, InstallKey, "Common", dir);
}


std::string Scrambled(std::string bytes) {
    ScrambleRenameBody(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<DWORD>(bytes.size()));
    return bytes;
}

// A file as the tool finishes it: header with the body's checksum, then the
// scrambled body.
std::string RequestFile(const std::string& plainBody) {
    RenameRequestHeader header = {1000, 0, Crc32(plainBody.data(), static_cast<DWORD>(plainBody.size())),
                                  586};
    unsigned char bytes[RenameRequestHeaderSize];
    StoreRenameRequestHeader(header, bytes);
    return std::string(reinterpret_cast<char*>(bytes), sizeof(bytes)) + Scrambled(plainBody);
}

std::string Pair(const std::string& existing, const std::string& newPath) {
    return existing + std::string(1, '\0') + newPath + std::string(1, '\0');
}

const std::string Nul(1, '\0');

struct ReadResult {
    bool opened;
    RenameFileStatus status;
    std::string body;  // up to and including the list's two NULs
    bool bodyHandedOut;
};

ReadResult ReadRequestFile() {
    ReadResult result{false, -1, std::string(), false};
    char* body = reinterpret_cast<char*>(1);
    FILE* stream = OpenRenameRequestFile(0, &body, &result.status);
    result.opened = stream != nullptr;
    result.bodyHandedOut = body != nullptr;
    if (stream) {
        for (const char* p = body; *p; p += strlen(p) + 1) result.body += std::string(p) + Nul;
        result.body += Nul;
        FreeBuffer(body);
        fclose(stream);
    }
    return result;
}

std::string WriteRequest(const std::vector<std::pair<std::string, std::string>>& pairs,
                         RenameFileStatus* status) {
    FILE* stream = OpenRenameRequestFile(1, nullptr, status);
    if (!stream) return std::string();
    for (auto& pair : pairs) AddRenameRequest(stream, pair.first.c_str(), pair.second.c_str(), status);
    CloseRenameRequestFile(stream, status);
    return sim::Current().Read(RequestPath);
}

}  // namespace

TEST(RenameRequestFile, ScramblingTwiceGivesTheBytesBack) {
    for (DWORD length : {0u, 1u, 15u, 16u, 17u, 271u, 272u, 273u, 8176u}) {
        std::vector<unsigned char> plain(length);
        for (DWORD i = 0; i < length; ++i) plain[i] = static_cast<unsigned char>(i * 7 + 3);
        std::vector<unsigned char> buffer = plain;
        ScrambleRenameBody(buffer.data(), length);
        if (length > 0) {
            EXPECT_NE(buffer, plain) << length;
        }
        ScrambleRenameBody(buffer.data(), length);
        EXPECT_EQ(buffer, plain) << length;
    }
}

TEST(RenameRequestFile, NoBodyByteIsStoredInTheClear) {
    for (unsigned char a : RenameKeyA) {
        for (unsigned char b : RenameKeyB) EXPECT_NE(a, b);
    }
    // 16 and 17 have no common factor, so the 272 indices of one period meet
    // every pair of key bytes; none of them may leave a byte as it was.
    for (int value : {0x00, 0x41, 0xFF}) {
        std::vector<unsigned char> buffer(272 * 2, static_cast<unsigned char>(value));
        ScrambleRenameBody(buffer.data(), static_cast<DWORD>(buffer.size()));
        for (size_t i = 0; i < buffer.size(); ++i) EXPECT_NE(buffer[i], value) << i;
    }
}

TEST(RenameRequestFile, HeaderIsLittleEndianAtItsOffsets) {
    RenameRequestHeader header = {0x11223344, 0x00000009, 0xA1B2C3D4, 0x0000FFFF};
    unsigned char bytes[RenameRequestHeaderSize];
    StoreRenameRequestHeader(header, bytes);
    const unsigned char expected[] = {0x44, 0x33, 0x22, 0x11, 0x09, 0x00, 0x00, 0x00,
                                      0xD4, 0xC3, 0xB2, 0xA1, 0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(0, memcmp(bytes, expected, sizeof(expected)));
    RenameRequestHeader back = LoadRenameRequestHeader(bytes);
    EXPECT_EQ(back.tickCount, 0x11223344u);
    EXPECT_EQ(back.oemId, 9u);
    EXPECT_EQ(back.bodyCrc, 0xA1B2C3D4u);
    EXPECT_EQ(back.processorType, 0xFFFFu);
}

TEST(RenameRequestFile, FinishedFileHoldsHeaderChecksumAndScrambledPairs) {
    sim::Workstation ws;
    InstallAt(ws, InstallDir);
    ws.Dir(InstallDir);
    ws.clockMs = 0x01020304;
    ws.oemId = 0x00000006;
    ws.processorType = 0x12340000 | 8664;  // only the low 16 bits are kept
    int handlesBefore = ws.OpenHandles();
    RenameFileStatus status = -1;
    std::string file = WriteRequest({{"C:\\Temp\\a.exe", "C:\\Temp\\b.exe"}}, &status);
    EXPECT_EQ(status, RenameFileOk);
    std::string plain = Pair("C:\\Temp\\a.exe", "C:\\Temp\\b.exe") + Nul;
    DWORD crc = Crc32(plain.data(), static_cast<DWORD>(plain.size()));
    std::string header = {'\x04', '\x03', '\x02', '\x01', '\x06', '\0', '\0', '\0',
                          static_cast<char>(crc & 0xFF), static_cast<char>((crc >> 8) & 0xFF),
                          static_cast<char>((crc >> 16) & 0xFF), static_cast<char>(crc >> 24),
                          static_cast<char>(8664 & 0xFF), static_cast<char>(8664 >> 8), '\0', '\0'};
    EXPECT_EQ(file, header + Scrambled(plain));
    EXPECT_EQ(ws.OpenHandles(), handlesBefore);

    ReadResult read = ReadRequestFile();
    EXPECT_TRUE(read.opened);
    EXPECT_EQ(read.status, RenameFileOk);
    EXPECT_EQ(read.body, plain);
    EXPECT_EQ(ws.OpenHandles(), handlesBefore);
}

TEST(RenameRequestFile, ReaderIsLeftAtTheEndOfTheFile) {
    sim::Workstation ws;
    InstallAt(ws, InstallDir);
    ws.File(RequestPath, RequestFile(Pair("C:\\x", "C:\\y") + Nul));
    char* body = nullptr;
    RenameFileStatus status = -1;
    FILE* stream = OpenRenameRequestFile(0, &body, &status);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ftell(stream), static_cast<long>(ws.Read(RequestPath).size()));
    FreeBuffer(body);
    fclose(stream);
}

TEST(RenameRequestFile, EachWritingOpenStartsTheFileAnew) {
    sim::Workstation ws;
    InstallAt(ws, InstallDir);
    ws.Dir(InstallDir);
    RenameFileStatus status = -1;
    WriteRequest({{"C:\\first.old", "C:\\first.new"}}, &status);
    WriteRequest({{"C:\\second.old", "C:\\second.new"}}, &status);
    ReadResult read = ReadRequestFile();
    EXPECT_EQ(read.status, RenameFileOk);
    EXPECT_EQ(read.body, Pair("C:\\second.old", "C:\\second.new") + Nul);
}

TEST(RenameRequestFile, ReaderRejections) {
    std::string valid = Pair("C:\\a", "C:\\b") + Nul;
    std::string changed = RequestFile(valid);
    changed[16 + 3] ^= 0x20;
    std::string wrongCrc = RequestFile(valid);
    wrongCrc[8] ^= 0x01;
    // Padding after the list is not examined, so a file of exactly 8192
    // bytes with a short list is good.
    std::string padded = valid + std::string(8192 - 16 - valid.size(), 'x');
    std::string tooLong = valid + std::string(8193 - 16 - valid.size(), 'x');
    struct Case {
        const char* name;
        std::string file;
        RenameFileStatus status;
    } cases[] = {
        {"empty file", "", RenameFileTooShort},
        {"header only", RequestFile("").substr(0, 16), RenameFileTooShort},
        {"valid", RequestFile(valid), RenameFileOk},
        {"8192 bytes", RequestFile(padded), RenameFileOk},
        {"8193 bytes", RequestFile(tooLong), RenameFileTooLong},
        {"changed body byte", changed, RenameFileBadChecksum},
        {"changed checksum", wrongCrc, RenameFileBadChecksum},
        {"odd number of strings", RequestFile(Pair("C:\\a", "C:\\b") + "C:\\c" + Nul + Nul), RenameFileBadList},
        {"empty new path", RequestFile("C:\\a" + Nul + Nul + Nul), RenameFileBadList},
        {"no pairs, one NUL", RequestFile(Nul), RenameFileBadList},
        {"no NUL after a NUL", RequestFile(Pair("C:\\a", "C:\\b")), RenameFileBadList},
        {"no NUL at all", RequestFile("C:\\a"), RenameFileBadList},
        {"two pairs", RequestFile(Pair("C:\\a", "C:\\b") + Pair("C:\\c", "C:\\d") + Nul), RenameFileOk},
    };
    ASSERT_EQ(RequestFile(padded).size(), 8192u);
    ASSERT_EQ(RequestFile(tooLong).size(), 8193u);
    for (const Case& c : cases) {
        sim::Workstation ws;
        InstallAt(ws, InstallDir);
        ws.File(RequestPath, c.file);
        ReadResult read = ReadRequestFile();
        EXPECT_EQ(read.status, c.status) << c.name;
        EXPECT_EQ(read.opened, c.status == RenameFileOk) << c.name;
        EXPECT_EQ(read.bodyHandedOut, c.status == RenameFileOk) << c.name;
        EXPECT_EQ(ws.OpenHandles(), 0) << c.name;
    }
}

TEST(RenameRequestFile, FileFinishedWithNoPairsIs17BytesAndRejected) {
    sim::Workstation ws;
    InstallAt(ws, InstallDir);
    ws.Dir(InstallDir);
    RenameFileStatus status = -1;
    std::string file = WriteRequest({}, &status);
    EXPECT_EQ(status, RenameFileOk);
    EXPECT_EQ(file.size(), 17u);
    EXPECT_EQ(ReadRequestFile().status, RenameFileBadList);
}

TEST(RenameRequestFile, WriterDoesNotEnforceTheUpperBound) {
    sim::Workstation ws;
    InstallAt(ws, InstallDir);
    ws.Dir(InstallDir);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 100; ++i)
        pairs.push_back({"C:\\" + std::string(40, 'a') + std::to_string(i), "C:\\" + std::string(40, 'b')});
    RenameFileStatus status = -1;
    std::string file = WriteRequest(pairs, &status);
    EXPECT_EQ(status, RenameFileOk);
    EXPECT_GT(file.size(), 8192u);
    EXPECT_EQ(ReadRequestFile().status, RenameFileTooLong);
}

TEST(RenameRequestFile, PathOfTheFile) {
    struct Case {
        const char* installPath;
        const char* filePath;
    } cases[] = {
        {"C:\\Ombrel", "C:\\Ombrel\\VTSL.REN"},
        {"C:\\Ombrel\\", "C:\\Ombrel\\VTSL.REN"},
        {"C:\\", "C:\\VTSL.REN"},
        {"C:", "C:VTSL.REN"},
        {"D:\\Program Files\\Ombrel Works\\Common", "D:\\Program Files\\Ombrel Works\\Common\\VTSL.REN"},
    };
    for (const Case& c : cases) {
        char path[MAX_PATH];
        ASSERT_EQ(ComposeRenameRequestPath(c.installPath, path, sizeof(path)), 1) << c.installPath;
        EXPECT_STREQ(path, c.filePath);
    }
}

TEST(RenameRequestFile, WithAndWithoutFinalBackslashTheSameFileIsWritten) {
    for (const char* dir : {"C:\\Ombrel", "C:\\Ombrel\\", "C:"}) {
        sim::Workstation ws;
        InstallAt(ws, dir);
        ws.Dir("C:\\Ombrel");
        RenameFileStatus status = -1;
        FILE* stream = OpenRenameRequestFile(1, nullptr, &status);
        ASSERT_NE(stream, nullptr) << dir;
        CloseRenameRequestFile(stream, &status);
        // "C:" names the current folder of drive C:, which is its root here.
        const char* expected = strcmp(dir, "C:") == 0 ? "C:\\VTSL.REN" : "C:\\Ombrel\\VTSL.REN";
        EXPECT_EQ(ws.Read(expected).size(), 17u) << dir;
    }
}

TEST(RenameRequestFile, ReadInstallPath) {
    auto bytes = [](const std::string& text, bool terminated) {
        std::vector<uint8_t> data(text.begin(), text.end());
        if (terminated) data.push_back(0);
        return data;
    };
    struct Case {
        const char* name;
        bool key;
        bool value;
        DWORD type;
        std::vector<uint8_t> data;
        int result;
        std::string text;
    } cases[] = {
        {"REG_SZ", true, true, REG_SZ, bytes("C:\\O", true), 0, "C:\\O"},
        {"no terminator", true, true, REG_SZ, bytes("C:\\O", false), 0, "C:\\O"},
        {"259 characters", true, true, REG_SZ, bytes(std::string(259, 'p'), true), 0, std::string(259, 'p')},
        {"260 without terminator", true, true, REG_SZ, bytes(std::string(260, 'p'), false), -2, ""},
        {"260 characters", true, true, REG_SZ, bytes(std::string(260, 'p'), true), -2, ""},
        {"REG_EXPAND_SZ", true, true, REG_EXPAND_SZ, bytes("C:", true), -1, ""},
        {"REG_BINARY", true, true, REG_BINARY, bytes("C:", true), -1, ""},
        {"no value", true, false, REG_SZ, {}, -1, ""},
        {"no key", false, false, REG_SZ, {}, -1, ""},
    };
    for (const Case& c : cases) {
        sim::Workstation ws;
        if (c.key) ws.RegKeyOnly(HKEY_LOCAL_MACHINE, InstallKey);
        if (c.value) ws.RegData(HKEY_LOCAL_MACHINE, InstallKey, "Common", c.type, c.data);
        // Guard bytes after the buffer show that nothing is written past it.
        char buffer[MAX_PATH + 8];
        memset(buffer, '#', sizeof(buffer));
        EXPECT_EQ(ReadInstallPath(buffer, MAX_PATH), c.result) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(std::string(buffer), c.text) << c.name;
        }
        EXPECT_EQ(std::string(buffer + MAX_PATH, 8), std::string(8, '#')) << c.name;
        EXPECT_EQ(ws.OpenHandles(), 0) << c.name;
        if (c.key) {
            EXPECT_EQ(ws.Calls("RegCloseKey"), 1) << c.name;
        }
    }
}

TEST(RenameRequestFile, OpenFailures) {
    struct Case {
        const char* name;
        const char* installPath;  // nullptr: no value
        DWORD type;
        bool makeDir;
        const char* fault;
        RenameFileStatus status;
    } cases[] = {
        {"no install path", nullptr, REG_SZ, true, nullptr, RenameFileNoInstallPath},
        {"REG_EXPAND_SZ", InstallDir, REG_EXPAND_SZ, true, nullptr, RenameFileNoInstallPath},
        {"folder missing", InstallDir, REG_SZ, false, nullptr, RenameFileCannotOpen},
        {"fopen refused", InstallDir, REG_SZ, true, "CrtFopen", RenameFileCannotOpen},
    };
    for (const Case& c : cases) {
        for (int write : {1, 0}) {
            sim::Workstation ws;
            if (c.installPath) InstallAt(ws, c.installPath);
            if (c.installPath && c.type != REG_SZ) {
                ws.RegString(HKEY_LOCAL_MACHINE, InstallKey, "Common", c.installPath, c.type);
            }
            if (c.makeDir) ws.Dir(InstallDir);
            if (!write && c.makeDir) ws.File(RequestPath, RequestFile(Pair("C:\\a", "C:\\b") + Nul));
            if (c.fault) ws.FailCall(c.fault, ERROR_ACCESS_DENIED);
            RenameFileStatus status = -1;
            char* body = reinterpret_cast<char*>(1);
            FILE* stream = OpenRenameRequestFile(write, write ? nullptr : &body, &status);
            EXPECT_EQ(stream, nullptr) << c.name << write;
            EXPECT_EQ(status, c.status) << c.name << write;
            if (!write) {
                EXPECT_EQ(body, nullptr) << c.name;
            }
            EXPECT_EQ(ws.OpenHandles(), 0) << c.name << write;
        }
    }
}

TEST(RenameRequestFile, InstallPathTooLongForTheFileNameIsRefused) {
    // 250 characters leave just room for "\VTSL.REN" and the terminator.
    std::string dir = "C:\\" + std::string(120, 'd') + "\\" + std::string(126, 'e');
    ASSERT_EQ(dir.size(), 250u);
    struct Case {
        std::string installPath;
        RenameFileStatus status;
    } cases[] = {
        {dir, RenameFileOk},
        {dir + "f", RenameFileNoInstallPath},
        {dir + "\\", RenameFileOk},  // ends in a backslash: nothing is added
        {dir + "f\\", RenameFileNoInstallPath},
    };
    for (const Case& c : cases) {
        sim::Workstation ws;
        InstallAt(ws, c.installPath);
        ws.Dir(c.installPath);
        RenameFileStatus status = -1;
        FILE* stream = OpenRenameRequestFile(1, nullptr, &status);
        EXPECT_EQ(status, c.status) << c.installPath.size();
        EXPECT_EQ(stream != nullptr, c.status == RenameFileOk);
        if (stream) CloseRenameRequestFile(stream, &status);
        EXPECT_EQ(ws.OpenHandles(), 0);
    }
}

TEST(RenameRequestFile, ReadFailures) {
    struct Case {
        const char* fault;
        int skip;
        RenameFileStatus status;
    } cases[] = {
        {"CrtSeek", 0, RenameFileIoFailed},
        {"CrtSeek", 1, RenameFileIoFailed},
        {"AllocBuffer", 0, RenameFileNoMemory},
    };
    for (const Case& c : cases) {
        sim::Workstation ws;
        InstallAt(ws, InstallDir);
        ws.File(RequestPath, RequestFile(Pair("C:\\a", "C:\\b") + Nul));
        ws.FailCall(c.fault, 0, c.skip);
        ReadResult read = ReadRequestFile();
        EXPECT_EQ(read.status, c.status) << c.fault << c.skip;
        EXPECT_FALSE(read.opened);
        EXPECT_FALSE(read.bodyHandedOut);
        EXPECT_EQ(ws.OpenHandles(), 0) << c.fault;
    }
}

TEST(RenameRequestFile, FailingCloseStillReleasesTheStream) {
    struct Case {
        const char* fault;
        int skip;
        RenameFileStatus status;
        bool fileFinished;
    } cases[] = {
        // The buffered bytes reach the file when the close seeks back.
        {"CrtWrite", 0, RenameFileIoFailed, false},
        {"CrtSeek", 0, RenameFileIoFailed, false},
        {"CrtSeek", 1, RenameFileIoFailed, false},
        {"CrtSeek", 2, RenameFileIoFailed, false},
        {"AllocBuffer", 0, RenameFileNoMemory, false},
        // Everything was written before the close itself failed.
        {"CrtClose", 0, RenameFileCloseFailed, true},
    };
    for (const Case& c : cases) {
        sim::Workstation ws;
        InstallAt(ws, InstallDir);
        ws.Dir(InstallDir);
        RenameFileStatus status = -1;
        FILE* stream = OpenRenameRequestFile(1, nullptr, &status);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(AddRenameRequest(stream, "C:\\a", "C:\\b", &status), 1);
        ws.FailCall(c.fault, 0, c.skip);
        EXPECT_EQ(CloseRenameRequestFile(stream, &status), 0) << c.fault << c.skip;
        EXPECT_EQ(status, c.status) << c.fault << c.skip;
        EXPECT_EQ(ws.OpenHandles(), 0) << c.fault << c.skip;
        EXPECT_EQ(ReadRequestFile().status == RenameFileOk, c.fileFinished) << c.fault << c.skip;
    }
}

TEST(RenameRequestFile, UnfinishedFileFailsTheRules) {
    sim::Workstation ws;
    InstallAt(ws, InstallDir);
    ws.Dir(InstallDir);
    RenameFileStatus status = -1;
    FILE* stream = OpenRenameRequestFile(1, nullptr, &status);
    ASSERT_NE(stream, nullptr);
    AddRenameRequest(stream, "C:\\a", "C:\\b", &status);
    fflush(stream);
    EXPECT_NE(ReadRequestFile().status, RenameFileOk);
    CloseRenameRequestFile(stream, &status);
    EXPECT_EQ(ReadRequestFile().status, RenameFileOk);
}
