#include "cleanup/system_image_name.h"

#include <string.h>

#include "support/system_library.h"

namespace {

const DWORD DeviceNameSize = MAX_PATH;

size_t WideLength(const WCHAR* text) {
    size_t length = 0;
    while (text[length]) ++length;
    return length;
}

WCHAR FoldAscii(WCHAR unit) { return unit >= 'a' && unit <= 'z' ? static_cast<WCHAR>(unit - 'a' + 'A') : unit; }

// Turns "\Device\HarddiskVolume1\Windows\x.exe" into "C:\Windows\x.exe" in
// place, by the drive letter whose device is the path's start; 0 when no
// letter's is (a network path, a device without a letter).
// A letter whose device cannot be read (other than one that names none)
// sets `*error`: the image may lie on it.
DWORD OnDriveLetter(const SystemImageNamer& namer, WCHAR* name, DWORD length, DWORD* error) {
    if (!namer.queryDosDeviceW) {
        *error = ERROR_PROC_NOT_FOUND;
        return 0;
    }
    WCHAR device[DeviceNameSize];
    for (WCHAR letter = 'A'; letter <= 'Z'; ++letter) {
        const WCHAR drive[] = {letter, ':', 0};
        if (!namer.queryDosDeviceW(drive, device, DeviceNameSize)) {
            DWORD why = GetLastError();
            if (why != ERROR_FILE_NOT_FOUND) *error = why ? why : ERROR_GEN_FAILURE;
            continue;
        }
        device[DeviceNameSize - 1] = 0;
        // The first of the answer's texts is the letter's present device.
        size_t deviceLength = WideLength(device);
        if (deviceLength < 2 || deviceLength >= length || name[deviceLength] != '\\') continue;
        if (memcmp(name, device, deviceLength * sizeof(WCHAR)) != 0) continue;
        size_t rest = length - deviceLength;
        memmove(name + 2, name + deviceLength, (rest + 1) * sizeof(WCHAR));
        name[0] = letter;
        name[1] = ':';
        *error = 0;
        return static_cast<DWORD>(rest + 2);
    }
    return 0;
}

}  // namespace

SystemImageNamer BindSystemImageNamer(HMODULE psapi) {
    SystemImageNamer namer = {nullptr, nullptr, nullptr, 1};
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExA(&version)) {
        namer.keepsName = version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                          (version.dwMajorVersion > 5 || (version.dwMajorVersion == 5 && version.dwMinorVersion >= 1));
    }
    // KERNEL32 is in every process; it is not loaded or released here.
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (kernel) {
        namer.queryFullProcessImageNameW =
            BindFunction<QueryFullProcessImageNameWFunction>(kernel, "QueryFullProcessImageNameW");
        namer.queryDosDeviceW = BindFunction<QueryDosDeviceWFunction>(kernel, "QueryDosDeviceW");
    }
    if (psapi && !namer.queryFullProcessImageNameW) {
        namer.getProcessImageFileNameW =
            BindFunction<GetProcessImageFileNameWFunction>(psapi, "GetProcessImageFileNameW");
    }
    return namer;
}

DWORD SystemImageName(const SystemImageNamer& namer, HANDLE process, WCHAR* name, DWORD size, DWORD* error) {
    *error = 0;
    if (size == 0) return 0;
    name[0] = 0;
    if (namer.queryFullProcessImageNameW) {
        DWORD length = size;
        // Flags 0: the Win32 form of the path, with its drive letter.
        if (!namer.queryFullProcessImageNameW(process, 0, name, &length) || length == 0 || length >= size) {
            DWORD why = GetLastError();
            *error = why ? why : ERROR_GEN_FAILURE;
            name[0] = 0;
            return 0;
        }
        name[length] = 0;
        return length;
    }
    if (!namer.getProcessImageFileNameW) {
        if (namer.keepsName) *error = ERROR_PROC_NOT_FOUND;
        return 0;
    }
    DWORD length = namer.getProcessImageFileNameW(process, name, size);
    // A name that filled the buffer may have been cut.
    if (length == 0 || length >= size) {
        DWORD why = GetLastError();
        *error = why ? why : ERROR_GEN_FAILURE;
        name[0] = 0;
        return 0;
    }
    name[length] = 0;
    DWORD onDrive = OnDriveLetter(namer, name, length, error);
    if (!onDrive) name[0] = 0;
    return onDrive;
}

int SameImagePath(const WCHAR* first, const WCHAR* second) {
    for (;; ++first, ++second) {
        if (FoldAscii(*first) != FoldAscii(*second)) return 0;
        if (!*first) return 1;
    }
}
