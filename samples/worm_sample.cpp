#include "samples/worm_sample.h"

#include <stdio.h>

namespace worm_sample {

uint32_t Crc32(const uint8_t* data, size_t length) {
    uint32_t running = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        running ^= data[i];
        for (int bit = 0; bit < 8; ++bit) running = (running & 1) ? (running >> 1) ^ 0xEDB88320u : running >> 1;
    }
    return ~running;
}

// The CRC-32 of a fixed length is affine in the message bits: flipping a set
// of bits changes the CRC by the exclusive-or of what each flip alone changes.
// So the 32 bits of the four chosen bytes give 32 change vectors, and the
// bits to flip are the combination of them that turns the current CRC into
// the wanted one, found by Gaussian elimination over GF(2).
bool ForceCrc(uint8_t* data, size_t length, size_t at, uint32_t crc) {
    if (at > length || length - at < 4) return false;
    uint32_t current = Crc32(data, length);
    // basis[b]: a change vector whose highest set bit is b, and which of the
    // 32 chosen bits make it up.
    uint32_t basis[32] = {0};
    uint32_t made[32] = {0};
    for (int j = 0; j < 32; ++j) {
        uint8_t mask = static_cast<uint8_t>(1u << (j % 8));
        data[at + j / 8] ^= mask;
        uint32_t vector = Crc32(data, length) ^ current;
        data[at + j / 8] ^= mask;
        uint32_t combination = 1u << j;
        for (int b = 31; b >= 0 && vector; --b) {
            if (!(vector & (1u << b))) continue;
            if (!basis[b]) {
                basis[b] = vector;
                made[b] = combination;
                vector = 0;
                break;
            }
            vector ^= basis[b];
            combination ^= made[b];
        }
    }
    uint32_t wanted = current ^ crc;
    uint32_t flips = 0;
    for (int b = 31; b >= 0; --b) {
        if (!(wanted & (1u << b))) continue;
        if (!basis[b]) return false;  // four bytes that cannot reach every CRC
        wanted ^= basis[b];
        flips ^= made[b];
    }
    for (int j = 0; j < 32; ++j) {
        if (flips & (1u << j)) data[at + j / 8] ^= static_cast<uint8_t>(1u << (j % 8));
    }
    return Crc32(data, length) == crc;
}

std::vector<uint8_t> MakeSample(size_t size, uint32_t crc, uint32_t seed) {
    if (size < kMinimumSize) return {};
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 12345u;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    if (!PatchBytes(bytes, crc)) return {};
    return bytes;
}

bool PatchBytes(std::vector<uint8_t>& bytes, uint32_t crc) {
    if (bytes.size() < kMinimumSize) return false;
    return ForceCrc(bytes.data() + kRegionOffset, kRegionLength, kForcedAt, crc);
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
    bool ok = !ferror(file);
    fclose(file);
    return ok;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (fclose(file) != 0) ok = false;
    return ok;
}

// Only the region is read and only the four forced bytes are written back, so
// a running program's copy keeps every other byte as the linker made it.
bool PatchFile(const std::string& path, uint32_t crc) {
    FILE* file = fopen(path.c_str(), "r+b");
    if (!file) return false;
    std::vector<uint8_t> region(kRegionLength);
    bool ok = fseek(file, static_cast<long>(kRegionOffset), SEEK_SET) == 0 &&
              fread(region.data(), 1, region.size(), file) == region.size() &&
              ForceCrc(region.data(), region.size(), kForcedAt, crc) &&
              fseek(file, static_cast<long>(kRegionOffset + kForcedAt), SEEK_SET) == 0 &&
              fwrite(region.data() + kForcedAt, 1, 4, file) == 4;
    if (fclose(file) != 0) ok = false;
    return ok;
}

bool FlipFileBit(const std::string& path, uint64_t bit) {
    FILE* file = fopen(path.c_str(), "r+b");
    if (!file) return false;
    long offset = static_cast<long>(bit / 8);
    uint8_t byte = 0;
    bool ok = fseek(file, offset, SEEK_SET) == 0 && fread(&byte, 1, 1, file) == 1;
    if (ok) {
        byte ^= static_cast<uint8_t>(1u << (bit % 8));
        ok = fseek(file, offset, SEEK_SET) == 0 && fwrite(&byte, 1, 1, file) == 1;
    }
    if (fclose(file) != 0) ok = false;
    return ok;
}

}  // namespace worm_sample
