// Makes files that the worm test takes for copies of the worm: bytes 4096 to
// 8191 of a sample are forced to a chosen CRC-32 by setting four of them.
// Plain C++, in a folder of its own: the host tests and the host tools of the
// Wine scenarios both take it from here.
#ifndef KURRELFIX_SAMPLES_WORM_SAMPLE_H
#define KURRELFIX_SAMPLES_WORM_SAMPLE_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace worm_sample {

// The region that every entry of the worm's signature table covers.
constexpr size_t kRegionOffset = 4096;
constexpr size_t kRegionLength = 4096;
constexpr size_t kMinimumSize = kRegionOffset + kRegionLength;
// Where in the region the four forced bytes go: its last four bytes.
constexpr size_t kForcedAt = kRegionLength - 4;

// The standard CRC-32, computed bit by bit: a second, independent reckoning
// beside the tool's table-driven one.
uint32_t Crc32(const uint8_t* data, size_t length);

// Sets data[at..at+3] so that the CRC-32 of all `length` bytes becomes `crc`.
// False when the four bytes do not fit.
bool ForceCrc(uint8_t* data, size_t length, size_t at, uint32_t crc);

// A sample of `size` bytes (at least kMinimumSize) of filler made from `seed`,
// whose region has the CRC-32 `crc`. Empty when the size is too small.
std::vector<uint8_t> MakeSample(size_t size, uint32_t crc, uint32_t seed = 1);

// Forces the region of bytes already in memory; false when they are too few.
bool PatchBytes(std::vector<uint8_t>& bytes, uint32_t crc);

// The same for a file on disk, changed in place (only the four bytes are written).
bool PatchFile(const std::string& path, uint32_t crc);

// Flips one bit of a file (bit 0 is the lowest bit of byte 0): a near miss.
bool FlipFileBit(const std::string& path, uint64_t bit);

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace worm_sample

#endif
