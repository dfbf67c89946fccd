// Makes worm samples for the Wine scenarios.
//   kurrel_sample make OUT SIZE CRC   new file of SIZE bytes whose region has CRC
//   kurrel_sample patch FILE CRC      forces the region of an existing file
//   kurrel_sample flip FILE BIT       flips one bit (a near miss of a sample)
//   kurrel_sample crc FILE            prints the CRC-32 of the region
// CRC is hexadecimal (0x optional); SIZE and BIT are decimal.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "samples/worm_sample.h"

namespace {

int Usage() {
    fprintf(stderr,
            "usage: kurrel_sample make OUT SIZE CRC | patch FILE CRC | flip FILE BIT | crc FILE\n");
    return 2;
}

bool ParseNumber(const char* text, int base, unsigned long long* value) {
    char* end = nullptr;
    *value = strtoull(text, &end, base);
    return end && end != text && *end == '\0';
}

bool ParseCrc(const char* text, uint32_t* crc) {
    unsigned long long value = 0;
    if (!ParseNumber(text, 16, &value) || value > 0xFFFFFFFFull) return false;
    *crc = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    std::string command = argv[1];
    unsigned long long number = 0;
    uint32_t crc = 0;
    if (command == "make" && argc == 5) {
        if (!ParseNumber(argv[3], 10, &number) || !ParseCrc(argv[4], &crc)) return Usage();
        std::vector<uint8_t> bytes = worm_sample::MakeSample(static_cast<size_t>(number), crc);
        if (bytes.empty()) {
            fprintf(stderr, "kurrel_sample: a sample needs at least %zu bytes\n",
                    worm_sample::kMinimumSize);
            return 1;
        }
        if (!worm_sample::WriteFileBytes(argv[2], bytes)) {
            fprintf(stderr, "kurrel_sample: cannot write %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    if (command == "patch" && argc == 4) {
        if (!ParseCrc(argv[3], &crc)) return Usage();
        if (!worm_sample::PatchFile(argv[2], crc)) {
            fprintf(stderr, "kurrel_sample: cannot patch %s\n", argv[2]);
            return 1;
        }
        return 0;
    }
    if (command == "flip" && argc == 4) {
        if (!ParseNumber(argv[3], 10, &number)) return Usage();
        if (!worm_sample::FlipFileBit(argv[2], number)) {
            fprintf(stderr, "kurrel_sample: cannot flip bit %llu of %s\n", number, argv[2]);
            return 1;
        }
        return 0;
    }
    if (command == "crc" && argc == 3) {
        std::vector<uint8_t> bytes;
        if (!worm_sample::ReadFileBytes(argv[2], &bytes) || bytes.size() < worm_sample::kMinimumSize) {
            fprintf(stderr, "kurrel_sample: %s has no whole region\n", argv[2]);
            return 1;
        }
        printf("0x%08X\n", static_cast<unsigned>(worm_sample::Crc32(
                               bytes.data() + worm_sample::kRegionOffset, worm_sample::kRegionLength)));
        return 0;
    }
    return Usage();
}
