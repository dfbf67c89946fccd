// Every function that a test can make fail, in one list: the Win32 functions
// whose first line is SIM_FAILABLE, SIM_FAILABLE_STATUS or SIM_FAULT, the C
// runtime seam's file streams, and the allocations whose failure the tool
// handles. The simulation checks the list against the functions as they are
// called, and FailCall refuses any other name.
#include <algorithm>
#include <iterator>

#include "sim/workstation.h"

namespace sim {

namespace {

// Sorted, for the lookup.
const char* const FailableCalls[] = {
    "AddAccessAllowedAce",
    "AdjustTokenPrivileges",
    "AllocBuffer",  // the allocations of the platform seam
    "AllocateAndInitializeSid",
    "CancelIo",
    "CloseHandle",
    "CloseServiceHandle",
    "CopyFileA",
    "CreateEventA",
    "CreateFileA",
    "CreateFileW",
    "CreateToolhelp32Snapshot",
    "CrtClose",  // fclose of a seam stream
    "CrtFopen",
    "CrtRead",  // reads of a seam stream: getc, fgets, fread
    "CrtSeek",
    "CrtStreamOnHandle",
    "CrtWrite",  // writes and flushes of a seam stream
    "CryptAcquireContextA",
    "CryptGenRandom",
    "DeleteFileA",
    "DeviceIoControl",
    "EnumProcessModules",
    "EnumProcesses",
    "FindClose",
    "FindFirstFileA",
    "FindFirstFileW",
    "FindNextFileA",
    "FindNextFileW",
    "FlushFileBuffers",
    "FreeLibrary",
    "GetFileAttributesA",
    "GetFileAttributesW",
    "GetFileInformationByHandle",
    "GetKernelObjectSecurity",
    "GetLogicalDriveStringsA",
    "GetModuleBaseNameA",
    "GetModuleFileNameA",
    "GetModuleFileNameExA",
    "GetModuleFileNameExW",
    "GetModuleHandleA",
    "GetOverlappedResult",
    "GetProcAddress",
    "GetProcessImageFileNameW",
    "GetProfileStringA",
    "GetShortPathNameA",
    "GetSystemDirectoryA",
    "GetSystemDirectoryW",
    "GetTokenInformation",
    "GetVersionExA",
    "GetVolumeInformationA",
    "GetVolumeNameForVolumeMountPointA",
    "GetVolumeNameForVolumeMountPointW",
    "GetWindowsDirectoryA",
    "InitializeAcl",
    "InitializeSecurityDescriptor",
    "IsWow64Process",
    "LoadLibraryA",
    "LoadLibraryExA",
    "LoadLibraryExW",
    "LoadLibraryW",
    "LookupPrivilegeValueA",
    "MoveFileA",
    "MoveFileExA",
    "MoveFileExW",
    "MultiByteToWideChar",
    "NetApiBufferFree",
    "NetShareAdd",  // netapi32.dll on NT, svrapi.dll on 9x: one name for both
    "NetShareDel",
    "NetShareEnum",
    "NetShareGetInfo",
    "NtSetInformationFile",
    "OpenProcess",
    "OpenProcessToken",
    "OpenSCManagerA",
    "OpenServiceA",
    "Process32First",
    "Process32Next",
    "QueryDosDeviceW",
    "QueryFullProcessImageNameW",
    "QueryServiceStatus",
    "ReadFile",
    "RegCloseKey",
    "RegCreateKeyExA",
    "RegDeleteValueA",
    "RegEnumKeyExA",
    "RegFlushKey",
    "RegGetKeySecurity",
    "RegOpenKeyExA",
    "RegQueryValueExA",
    "RegSetValueExA",
    "SetConsoleCtrlHandler",
    "SetFileAttributesA",
    "SetFilePointer",
    "SetSecurityDescriptorDacl",
    "SetSecurityDescriptorOwner",
    "TerminateProcess",
    "WaitForSingleObject",
    "WideCharToMultiByte",
    "Wow64DisableWow64FsRedirection",
    "Wow64RevertWow64FsRedirection",
    "WriteFile",
    "WriteProfileStringA",
};

bool Before(std::string_view a, std::string_view b) { return a < b; }

}  // namespace

bool IsFailable(std::string_view function) {
    return std::binary_search(std::begin(FailableCalls), std::end(FailableCalls), function, Before);
}

std::vector<std::string> FailableCallNames() {
    return std::vector<std::string>(std::begin(FailableCalls), std::end(FailableCalls));
}

}  // namespace sim
