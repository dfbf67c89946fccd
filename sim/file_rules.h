// Windows' rules for files in use, shared by the Win32 file functions and the
// C runtime of the simulated workstation.
#ifndef KURRELFIX_SIM_FILE_RULES_H
#define KURRELFIX_SIM_FILE_RULES_H

#include <stdint.h>

#include <string>
#include <string_view>

#include "sim/workstation.h"

namespace sim {

// The DELETE access right, which deleting and renaming need.
constexpr DWORD kDeleteAccess = 0x00010000;

// The statuses NtSetInformationFile answers with; a fault a test asked for
// comes back as kFaultStatus with the Win32 error in its low word.
constexpr uint32_t kStatusAccessDenied = 0xC0000022u;
constexpr uint32_t kStatusCannotDelete = 0xC0000121u;
constexpr uint32_t kStatusInvalidHandle = 0xC0000008u;
constexpr uint32_t kStatusInfoLengthMismatch = 0xC0000004u;
constexpr uint32_t kStatusInvalidInfoClass = 0xC0000003u;
constexpr uint32_t kFaultStatus = 0xE0FA0000u;

// The name GetVolumeNameForVolumeMountPointA gives the volume of a drive
// (its key: a letter, or the digit of a letterless volume).
std::string VolumeName(char key);

// ERROR_SHARING_VIOLATION when an open with this access and sharing clashes
// with a handle already open on the node (ours or another process's), else 0.
DWORD SharingConflict(const Workstation& ws, const FileNode* node, DWORD access, DWORD share);
// The error of a missing path: ERROR_PATH_NOT_FOUND when its folder is missing too.
DWORD MissingError(Workstation& ws, std::string_view path);
// The error with which deleting the node is refused, or 0.
DWORD CanDelete(Workstation& ws, FileNode* node);
// CreateFileA's work, without the call bookkeeping: 0 or the error.
DWORD OpenFile(Workstation& ws, std::string_view path, DWORD access, DWORD share,
               DWORD disposition, HANDLE* handle);
// A file that CreateFileA has just made takes the DACL of the descriptor it
// was given (sim/file_security.cpp).
void ApplyFileSecurity(FileNode* node, const SECURITY_ATTRIBUTES* security);
// A descriptor a program built, as the model keeps it (sim/file_security.cpp).
ObjectSecurity FromAbsolute(const SECURITY_DESCRIPTOR* descriptor);
// Moves a file or folder at once: 0 or the error.
DWORD MoveNow(Workstation& ws, std::string_view from, std::string_view to, bool replace);

}  // namespace sim

#endif
