// The name the system itself keeps for a process's image, beside the one
// the process's loader list gives. The loader list lives in the process's
// own memory: a worm running as any user may write another program's name
// there and be tested as that program. The system's own record of the
// image is out of its reach.
#ifndef KURRELFIX_CLEANUP_SYSTEM_IMAGE_NAME_H
#define KURRELFIX_CLEANUP_SYSTEM_IMAGE_NAME_H

#include "platform/platform.h"

// Vista and later (KERNEL32): the image's drive path.
typedef BOOL(WINAPI* QueryFullProcessImageNameWFunction)(HANDLE process, DWORD flags, WCHAR* name,
                                                         DWORD* size);
// XP and Server 2003 (PSAPI): the image's path on its device.
typedef DWORD(WINAPI* GetProcessImageFileNameWFunction)(HANDLE process, WCHAR* name, DWORD size);
typedef DWORD(WINAPI* QueryDosDeviceWFunction)(const WCHAR* deviceName, WCHAR* target, DWORD size);

// The bound entry points; all null on NT 4.0 and 2000, which keep no name
// of their own for an image: there only the loader list names it.
// `keepsName` says whether this Windows keeps one (XP and later, or a
// version that cannot be told): there a name that cannot be had is a
// process not looked at whole.
struct SystemImageNamer {
    QueryFullProcessImageNameWFunction queryFullProcessImageNameW;
    GetProcessImageFileNameWFunction getProcessImageFileNameW;
    QueryDosDeviceWFunction queryDosDeviceW;
    int keepsName;
};

// Binds what this Windows has, from KERNEL32 and the given PSAPI.DLL.
SystemImageNamer BindSystemImageNamer(HMODULE psapi);

// The image's drive path as the system names it, terminated, into `name`
// (`size` units); its length. 0 with `*error` 0 when this Windows keeps no
// such name or the image lies on no drive letter's device (a program run
// from a network share); 0 with `*error` set when the name could not be had
// (a call failed, or a function this Windows has is missing).
DWORD SystemImageName(const SystemImageNamer& namer, HANDLE process, WCHAR* name, DWORD size, DWORD* error);

// 1 when two wide paths name the same file by their text: equal but for the
// case of ASCII letters (the system and the loader may spell a folder
// differently).
int SameImagePath(const WCHAR* first, const WCHAR* second);

#endif
