#include "support/crc32.h"

#include <stdint.h>

namespace {

struct CrcTable {
    uint32_t entries[256];
};

// The standard byte table of the reflected polynomial, made once by the compiler.
constexpr CrcTable MakeCrcTable() {
    CrcTable table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t value = n;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table.entries[n] = value;
    }
    return table;
}

constexpr CrcTable kCrcTable = MakeCrcTable();

}  // namespace

DWORD Crc32(const void* data, DWORD length) { return Crc32Continue(0, data, length); }

DWORD Crc32Continue(DWORD crc, const void* data, DWORD length) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    uint32_t running = ~static_cast<uint32_t>(crc);
    for (DWORD i = 0; i < length; ++i) {
        running = kCrcTable.entries[(running ^ bytes[i]) & 0xFF] ^ (running >> 8);
    }
    return ~running;
}
