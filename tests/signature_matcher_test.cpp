// The worm test of a file: region checksums against the built-in table.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "cleanup/signature_matcher.h"
#include "samples/worm_sample.h"
#include "sim/workstation.h"

namespace {

const char* const kSample = "C:\\Samples\\worm.exe";

int OpenFileHandles(const sim::Workstation& ws) {
    int count = 0;
    for (const sim::HandleEntry& entry : ws.handles) {
        if (entry.kind == sim::HandleKind::File) ++count;
    }
    return count;
}

struct Scan {
    int opened;
    int index;
    int scanOpened;
    int found;
    int infected;
};

// Asks all three questions about one path, and checks that no handle stays open.
Scan ScanAll(sim::Workstation& ws, const char* path) {
    Scan scan{};
    scan.index = 1234;
    scan.opened = MatchSignatures(path, SignatureTable, &scan.index);
    scan.found = 77;
    scan.scanOpened = ScanFile(path, &scan.found);
    scan.infected = IsInfectedFile(path);
    EXPECT_EQ(OpenFileHandles(ws), 0) << path;
    return scan;
}

std::vector<uint8_t> Sample(uint32_t crc, size_t size = worm_sample::kMinimumSize, uint32_t seed = 1) {
    std::vector<uint8_t> bytes = worm_sample::MakeSample(size, crc, seed);
    EXPECT_EQ(bytes.size(), size);
    return bytes;
}

struct Row {
    uint32_t crc;
    int expectedIndex;
};

// The worm's known region checksums, in table order, and the entry that a
// copy with each of them is reported by: a repeated checksum is always
// reported by its first entry.
const Row kRows[19] = {
    {0x2E30D733, 0},  {0x641F3EFA, 1},  {0xFC237CA0, 2},  {0xF0BC4217, 3},  {0xDD3D1EB3, 4},
    {0x1E101EF9, 5},  {0x91729FD1, 6},  {0x379EDC9B, 7},  {0xA1874D47, 8},  {0x6355FE58, 9},
    {0x82C4EF01, 10}, {0xA1874D47, 8},  {0x4225EF06, 12}, {0x98FE29AA, 13}, {0x96745E16, 14},
    {0x01587851, 15}, {0x77CFF4E3, 16}, {0x98FE29AA, 13}, {0xB575938E, 18},
};

}  // namespace

TEST(SignatureMatcherCrc, StandardCheckValues) {
    EXPECT_EQ(Crc32("", 0), 0u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("a", 1), 0xE8B7BE43u);
}

TEST(SignatureMatcherCrc, AgreesWithBitwiseReckoning) {
    std::vector<uint8_t> bytes = worm_sample::MakeSample(20000, 0x12345678, 9);
    for (size_t length : {size_t(1), size_t(7), size_t(255), size_t(4096), size_t(12288), size_t(20000)}) {
        EXPECT_EQ(Crc32(bytes.data(), static_cast<DWORD>(length)), worm_sample::Crc32(bytes.data(), length))
            << length;
    }
}

TEST(SignatureMatcherTable, HoldsTheWormsRegionsInOrder) {
    for (int i = 0; i < 19; ++i) {
        EXPECT_EQ(SignatureTable[i].offset, 4096u) << i;
        EXPECT_EQ(SignatureTable[i].length, 4096u) << i;
        EXPECT_EQ(SignatureTable[i].crc, kRows[i].crc) << i;
    }
    EXPECT_EQ(SignatureTable[19].offset, 0u);
    EXPECT_EQ(SignatureTable[19].length, 0u);
    EXPECT_EQ(SignatureTable[19].crc, 0u);
}

// Every known checksum, at the smallest size that can match and at a larger
// one; the same bytes cut to 8191 never match.
TEST(SignatureMatcher, EveryTableChecksumIsFoundAtItsEntry) {
    for (int row = 0; row < 19; ++row) {
        for (size_t size : {size_t(8192), size_t(30001)}) {
            SCOPED_TRACE("row " + std::to_string(row) + " size " + std::to_string(size));
            sim::Workstation ws;
            std::vector<uint8_t> bytes = Sample(kRows[row].crc, size, static_cast<uint32_t>(row));
            ws.FileBytes(kSample, bytes);
            Scan scan = ScanAll(ws, kSample);
            EXPECT_EQ(scan.opened, 1);
            EXPECT_EQ(scan.index, kRows[row].expectedIndex);
            EXPECT_EQ(scan.scanOpened, 1);
            EXPECT_EQ(scan.found, 1);
            EXPECT_EQ(scan.infected, 1);
            // The file is only read.
            EXPECT_EQ(ws.Read(kSample), std::string(bytes.begin(), bytes.end()));

            if (size == 8192) {
                bytes.resize(8191);
                ws.FileBytes(kSample, bytes);
                Scan cut = ScanAll(ws, kSample);
                EXPECT_EQ(cut.opened, 1);
                EXPECT_EQ(cut.index, -1);
                EXPECT_EQ(cut.found, 0);
                EXPECT_EQ(cut.infected, 0);
            }
        }
    }
}

TEST(SignatureMatcher, OneFlippedBitInTheRegionIsNoMatch) {
    struct Case {
        const char* name;
        size_t bit;
        int expectedIndex;
    };
    const Case cases[] = {
        {"first bit of the region", 4096 * 8, -1},
        {"a forced byte", (8191 - 2) * 8 + 5, -1},
        {"last bit of the region", 8192 * 8 - 1, -1},
        {"just before the region", 4096 * 8 - 1, 4},
        {"just after the region", 8192 * 8, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        std::vector<uint8_t> bytes = Sample(kRows[4].crc, 9000);
        bytes[c.bit / 8] ^= static_cast<uint8_t>(1u << (c.bit % 8));
        ws.FileBytes(kSample, bytes);
        Scan scan = ScanAll(ws, kSample);
        EXPECT_EQ(scan.opened, 1);
        EXPECT_EQ(scan.index, c.expectedIndex);
        EXPECT_EQ(scan.infected, c.expectedIndex >= 0 ? 1 : 0);
    }
}

TEST(SignatureMatcher, OrdinaryFilesAreClean) {
    sim::Workstation ws;
    ws.File("C:\\Samples\\empty.txt", "")
        .File("C:\\Samples\\notes.txt", "hello\r\n")
        .FileBytes("C:\\Samples\\big.bin", std::vector<uint8_t>(50000, 0));
    for (const char* path : {"C:\\Samples\\empty.txt", "C:\\Samples\\notes.txt", "C:\\Samples\\big.bin"}) {
        Scan scan = ScanAll(ws, path);
        EXPECT_EQ(scan.opened, 1) << path;
        EXPECT_EQ(scan.index, -1) << path;
        EXPECT_EQ(scan.found, 0) << path;
        EXPECT_EQ(scan.infected, 0) << path;
    }
}

// A region as long as the buffer is read whole; one byte more is never read,
// and the walk goes on to the next entry.
TEST(SignatureMatcher, RegionLengthLimit) {
    sim::Workstation ws;
    std::vector<uint8_t> bytes = worm_sample::MakeSample(12289 + 100, 0, 3);
    uint32_t crc12288 = 0x0BADF00D, crc12289 = 0x5EEDC0DE;
    ASSERT_TRUE(worm_sample::ForceCrc(bytes.data(), 12288, 100, crc12288));
    ws.FileBytes(kSample, bytes);
    const SignatureEntry exact[] = {{0, 12288, crc12288}, {0, 0, 0}};
    int index = 99;
    EXPECT_EQ(MatchSignatures(kSample, exact, &index), 1);
    EXPECT_EQ(index, 0);

    // The same bytes forced over 12289 bytes: entry 0 would match if it were read.
    ASSERT_TRUE(worm_sample::ForceCrc(bytes.data(), 12289, 200, crc12289));
    uint32_t crcTail = worm_sample::Crc32(bytes.data() + 4096, 4096);
    ws.FileBytes(kSample, bytes);
    const SignatureEntry tooLong[] = {{0, 12289, crc12289}, {4096, 4096, crcTail}, {0, 0, 0}};
    index = 99;
    int readsBefore = ws.Calls("ReadFile");
    EXPECT_EQ(MatchSignatures(kSample, tooLong, &index), 1);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(ws.Calls("ReadFile") - readsBefore, 1);  // only the second entry was read
    const SignatureEntry onlyTooLong[] = {{0, 12289, crc12289}, {0, 0, 0}};
    index = 99;
    EXPECT_EQ(MatchSignatures(kSample, onlyTooLong, &index), 1);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(OpenFileHandles(ws), 0);
}

TEST(SignatureMatcher, EmptyTableOpensAndClosesTheFile) {
    sim::Workstation ws;
    ws.FileBytes(kSample, Sample(kRows[0].crc));
    const SignatureEntry empty[] = {{4096, 0, kRows[0].crc}, {4096, 4096, kRows[0].crc}, {0, 0, 0}};
    int index = 5;
    EXPECT_EQ(MatchSignatures(kSample, empty, &index), 1);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(ws.Calls("CreateFileA"), 1);
    EXPECT_EQ(ws.Calls("CloseHandle"), 1);
    EXPECT_EQ(ws.Calls("ReadFile"), 0);
    EXPECT_EQ(OpenFileHandles(ws), 0);
}

// What cannot be opened counts as clean, whatever its bytes.
TEST(SignatureMatcher, FilesThatCannotBeOpenedAreClean) {
    struct Case {
        const char* name;
        std::function<void(sim::Workstation&)> setUp;
        const char* path;
    };
    const Case cases[] = {
        {"a directory", [](sim::Workstation& ws) { ws.Dir("C:\\Samples\\worm.exe"); }, kSample},
        {"a missing file", [](sim::Workstation& ws) { ws.Dir("C:\\Samples"); }, kSample},
        {"a missing folder", [](sim::Workstation&) {}, "C:\\Nowhere\\worm.exe"},
        {"held without sharing",
         [](sim::Workstation& ws) { ws.FileBytes(kSample, Sample(kRows[2].crc)).Hold(kSample, 0); }, kSample},
        {"held sharing only writes",
         [](sim::Workstation& ws) {
             ws.FileBytes(kSample, Sample(kRows[2].crc)).Hold(kSample, FILE_SHARE_WRITE | FILE_SHARE_DELETE);
         },
         kSample},
        {"access denied",
         [](sim::Workstation& ws) {
             ws.FileBytes(kSample, Sample(kRows[2].crc)).FailCall("CreateFileA", ERROR_ACCESS_DENIED, 0, 3);
         },
         kSample},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        c.setUp(ws);
        Scan scan = ScanAll(ws, c.path);
        EXPECT_EQ(scan.opened, 0);
        EXPECT_EQ(scan.index, -1);
        EXPECT_EQ(scan.scanOpened, 0);
        EXPECT_EQ(scan.found, 0);
        EXPECT_EQ(scan.infected, 0);
        EXPECT_EQ(ws.Calls("CloseHandle"), 0);
    }
}

// A file in use by a writer that does not share writing cannot be opened
// for our read; one held only for reading can still be read and matched.
TEST(SignatureMatcher, FilesInUse) {
    {
        sim::Workstation ws;
        ws.FileBytes(kSample, Sample(kRows[6].crc));
        HANDLE writer = CreateFileA(kSample, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        int index = 0;
        EXPECT_EQ(MatchSignatures(kSample, SignatureTable, &index), 0);
        EXPECT_EQ(index, -1);
        EXPECT_EQ(IsInfectedFile(kSample), 0);
        CloseHandle(writer);
        EXPECT_EQ(IsInfectedFile(kSample), 1);
    }
    for (DWORD share : {DWORD(FILE_SHARE_READ), DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE)}) {
        sim::Workstation ws;
        ws.FileBytes(kSample, Sample(kRows[6].crc)).Hold(kSample, share);
        Scan scan = ScanAll(ws, kSample);
        EXPECT_EQ(scan.opened, 1);
        EXPECT_EQ(scan.index, 6);
        EXPECT_EQ(scan.infected, 1);
    }
}

// A failure on one entry skips that entry only: the repeated checksums show
// it, since a copy that their first entry misses is found by the second.
TEST(SignatureMatcher, AFailureOnOneEntrySkipsOnlyThatEntry) {
    struct Case {
        const char* name;
        const char* function;
        DWORD error;  // 0 on ReadFile: a short read
        uint32_t crc;
        int skip;     // calls before the failing one
        int expectedIndex;
    };
    const Case cases[] = {
        {"short read on entry 8", "ReadFile", 0, 0xA1874D47, 8, 11},
        {"failed read on entry 8", "ReadFile", ERROR_LOCK_VIOLATION, 0xA1874D47, 8, 11},
        {"failed seek on entry 13", "SetFilePointer", ERROR_INVALID_PARAMETER, 0x98FE29AA, 13, 17},
        {"short read on entry 13", "ReadFile", 0, 0x98FE29AA, 13, 17},
        {"short read on entry 0", "ReadFile", 0, 0x2E30D733, 0, -1},
        {"short read on entry 7 leaves entry 8", "ReadFile", 0, 0xA1874D47, 7, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Workstation ws;
        ws.FileBytes(kSample, Sample(c.crc)).FailCall(c.function, c.error, c.skip, 1);
        int index = 0;
        EXPECT_EQ(MatchSignatures(kSample, SignatureTable, &index), 1);
        EXPECT_EQ(index, c.expectedIndex);
        EXPECT_EQ(OpenFileHandles(ws), 0);
        EXPECT_EQ(ws.Calls("CloseHandle"), 1);
    }
}

// Each entry is positioned and read anew; the walk stops at the first match.
TEST(SignatureMatcher, ReadsEachEntryAnewUntilTheFirstMatch) {
    sim::Workstation ws;
    ws.FileBytes(kSample, Sample(kRows[5].crc));
    int index = 0;
    EXPECT_EQ(MatchSignatures(kSample, SignatureTable, &index), 1);
    EXPECT_EQ(index, 5);
    EXPECT_EQ(ws.Calls("SetFilePointer"), 6);
    EXPECT_EQ(ws.Calls("ReadFile"), 6);

    sim::Workstation clean;
    clean.FileBytes(kSample, Sample(0x11111111));
    EXPECT_EQ(MatchSignatures(kSample, SignatureTable, &index), 1);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(clean.Calls("SetFilePointer"), 19);
    EXPECT_EQ(clean.Calls("ReadFile"), 19);
}

// An offset past 2 GiB is passed as a negative distance and cannot be
// positioned; that entry is skipped like any other failed seek.
TEST(SignatureMatcher, UnreachableOffsetSkipsTheEntry) {
    sim::Workstation ws;
    std::vector<uint8_t> bytes = Sample(kRows[3].crc);
    ws.FileBytes(kSample, bytes);
    const SignatureEntry table[] = {{0x80001000, 4096, kRows[3].crc}, {0x100000, 4096, kRows[3].crc},
                                    {4096, 4096, kRows[3].crc}, {0, 0, 0}};
    int index = 0;
    EXPECT_EQ(MatchSignatures(kSample, table, &index), 1);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(OpenFileHandles(ws), 0);
}
