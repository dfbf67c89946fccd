#include "cleanup/signature_matcher.h"

#include <string.h>

#include "support/crc32.h"

const SignatureEntry SignatureTable[20] = {
    {0x1000, 0x1000, 0x2E30D733}, {0x1000, 0x1000, 0x641F3EFA}, {0x1000, 0x1000, 0xFC237CA0},
    {0x1000, 0x1000, 0xF0BC4217}, {0x1000, 0x1000, 0xDD3D1EB3}, {0x1000, 0x1000, 0x1E101EF9},
    {0x1000, 0x1000, 0x91729FD1}, {0x1000, 0x1000, 0x379EDC9B}, {0x1000, 0x1000, 0xA1874D47},
    {0x1000, 0x1000, 0x6355FE58}, {0x1000, 0x1000, 0x82C4EF01},
    // Entries 11 and 17 repeat the CRC-32 of entries 8 and 13; the first of
    // each pair always wins, and the table keeps the worm's known order.
    {0x1000, 0x1000, 0xA1874D47}, {0x1000, 0x1000, 0x4225EF06}, {0x1000, 0x1000, 0x98FE29AA},
    {0x1000, 0x1000, 0x96745E16}, {0x1000, 0x1000, 0x01587851}, {0x1000, 0x1000, 0x77CFF4E3},
    {0x1000, 0x1000, 0x98FE29AA}, {0x1000, 0x1000, 0xB575938E},
    {0, 0, 0},
};

namespace {

// Scratch: every region is written into it before it is read.
KF_PROCESS_STATE unsigned char RegionBuffer[RegionBufferSize];

}  // namespace

int MatchSignaturesOfOpenFile(HANDLE file, const SignatureEntry* table, int* index) {
    *index = -1;
    // A region that cannot be positioned or read whole simply does not match;
    // every entry is positioned and read anew, even over the same region.
    for (int i = 0; table[i].length != 0; ++i) {
        const SignatureEntry& entry = table[i];
        if (SetFilePointer(file, static_cast<LONG>(entry.offset), nullptr, FILE_BEGIN) == 0xFFFFFFFF)
            continue;
        if (entry.length > RegionBufferSize) continue;
        DWORD read = 0;
        if (!ReadFile(file, RegionBuffer, entry.length, &read, nullptr) || read != entry.length)
            continue;
        if (Crc32(RegionBuffer, entry.length) == entry.crc) {
            *index = i;
            break;
        }
    }
    return 1;
}

// Opens, tests and closes the file; for a match, *copy (when asked for) gets
// the file's identity from the same handle.
static int Match(const FilePath& path, const SignatureEntry* table, int* index, WormCopy* copy) {
    *index = -1;
    HANDLE file = OpenFilePath(path, GENERIC_READ, FILE_SHARE_READ, 0);
    if (file == INVALID_HANDLE_VALUE) return 0;
    MatchSignaturesOfOpenFile(file, table, index);
    if (copy && *index >= 0) {
        DWORD error = 0;
        copy->identified = ReadFileIdentity(file, &copy->identity, nullptr, &error);
    }
    CloseHandle(file);
    return 1;
}

int MatchSignatures(const char* path, const SignatureEntry* table, int* index) {
    return Match(AnsiFilePath(path), table, index, nullptr);
}

int ScanFile(const char* path, int* found) {
    *found = 0;
    int index = -1;
    int opened = MatchSignatures(path, SignatureTable, &index);
    if (index >= 0) *found = 1;
    return opened;
}

int IsInfectedFile(const char* path) {
    int found = 0;
    return ScanFile(path, &found) == 1 && found == 1 ? 1 : 0;
}

int IsInfectedCopyAt(const FilePath& path, WormCopy* copy) {
    copy->identified = 0;
    memset(&copy->identity, 0, sizeof(copy->identity));
    int index = -1;
    return Match(path, SignatureTable, &index, copy) == 1 && index >= 0 ? 1 : 0;
}

int IsInfectedCopy(const char* path, WormCopy* copy) { return IsInfectedCopyAt(AnsiFilePath(path), copy); }

int IsStillInfected(HANDLE file) {
    int index = -1;
    MatchSignaturesOfOpenFile(file, SignatureTable, &index);
    return index >= 0 ? 1 : 0;
}
