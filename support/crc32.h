// The standard CRC-32, shared by the worm test (region checksums) and the
// rename request file (its body's checksum).
#ifndef KURRELFIX_SUPPORT_CRC32_H
#define KURRELFIX_SUPPORT_CRC32_H

#include "platform/platform.h"

// Reflected polynomial 0xEDB88320, initial value and final exclusive-or
// 0xFFFFFFFF, table-driven. No bytes give 0.
DWORD Crc32(const void* data, DWORD length);

// The CRC-32 of the earlier bytes (whose CRC-32 is `crc`) followed by these:
// Crc32Continue(Crc32(a), b) is the CRC-32 of a then b, and Crc32Continue(0, a)
// is Crc32(a). For texts written piece by piece.
DWORD Crc32Continue(DWORD crc, const void* data, DWORD length);

#endif
