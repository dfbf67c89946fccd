// The 9x family's share record at level 50, as svrapi.dll hands it out and
// takes it back: packed, 42 bytes in a 32-bit program. In the 64-bit build
// (made only for Wine on machines that cannot run 32-bit programs) the two
// text pointers are 8 bytes each, so the record is 50 bytes there.
#pragma once

#pragma pack(push, 1)
struct share_info_50 {
    char shi50_netname[13];
    unsigned char shi50_type;
    unsigned short shi50_flags;
    char* shi50_remark;
    char* shi50_path;
    char shi50_rw_password[9];
    char shi50_ro_password[9];
};
#pragma pack(pop)

static_assert(sizeof(share_info_50) == 34 + 2 * sizeof(char*), "share_info_50 is packed");
static_assert(sizeof(void*) != 4 || sizeof(share_info_50) == 42, "share_info_50 is 42 bytes in 32-bit");
