// The 32-bit record layouts that the tool hands to the system or reads back
// from it. A header or packing change that moved one would break the calls
// silently, so the Windows build refuses to compile instead.
#include "platform/platform.h"
#include "platform/share_records.h"

// The 64-bit build only stands in for Kurrelfix.exe under 64-bit Wine; its
// records have 64-bit pointers, and nothing is shipped from it.
#ifndef _WIN64
static_assert(sizeof(void*) == 4, "Kurrelfix is a 32-bit program");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32");
static_assert(sizeof(WIN32_FIND_DATAA) == 320, "WIN32_FIND_DATAA");
static_assert(sizeof(SYSTEM_INFO) == 36, "SYSTEM_INFO");
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "TOKEN_PRIVILEGES");
static_assert(sizeof(LUID_AND_ATTRIBUTES) == 12, "LUID_AND_ATTRIBUTES");
static_assert(sizeof(SERVICE_STATUS) == 28, "SERVICE_STATUS");
static_assert(sizeof(share_info_50) == 42, "share_info_50");
static_assert(sizeof(SHARE_INFO_502) == 40, "SHARE_INFO_502");
#endif
