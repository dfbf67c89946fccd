#include "support/handle_delete.h"

#include <stdint.h>
#include <string.h>

#include "support/system_library.h"

namespace {

typedef LONG NtStatus;

// The records of NtSetInformationFile, as NTDLL.DLL lays them out.
struct IoStatus {
    union {
        NtStatus status;
        PVOID pointer;
    };
    ULONG_PTR information;
};

struct BasicInformation {
    int64_t creationTime;  // 0: left as it is
    int64_t lastAccessTime;
    int64_t lastWriteTime;
    int64_t changeTime;
    DWORD fileAttributes;  // 0: left as it is
};
static_assert(sizeof(BasicInformation) == 40, "FILE_BASIC_INFORMATION");

struct DispositionInformation {
    BYTE deleteFile;
};

const int FileBasicInformationClass = 4;
const int FileDispositionInformationClass = 13;

typedef NtStatus(WINAPI* NtSetInformationFileFunction)(HANDLE file, PVOID ioStatus, PVOID information,
                                                        ULONG length, int informationClass);
typedef ULONG(WINAPI* RtlNtStatusToDosErrorFunction)(NtStatus status);

// NTDLL.DLL is in every NT process from its start: it is looked up, never
// loaded.
int SetInformation(HANDLE file, PVOID information, ULONG length, int informationClass, DWORD* error) {
    HMODULE ntdll = GetModuleHandleA("NTDLL.DLL");
    NtSetInformationFileFunction setInformation =
        ntdll ? BindFunction<NtSetInformationFileFunction>(ntdll, "NtSetInformationFile") : nullptr;
    RtlNtStatusToDosErrorFunction toDosError =
        ntdll ? BindFunction<RtlNtStatusToDosErrorFunction>(ntdll, "RtlNtStatusToDosError") : nullptr;
    if (!setInformation || !toDosError) {
        *error = GetLastError() ? GetLastError() : static_cast<DWORD>(ERROR_PROC_NOT_FOUND);
        return 0;
    }
    IoStatus status;
    memset(&status, 0, sizeof(status));
    NtStatus result = setInformation(file, &status, information, length, informationClass);
    if (result >= 0) return 1;
    *error = toDosError(result);
    return 0;
}

}  // namespace

int KnowsReparsePoints() {
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) return 1;  // the safer answer: the flag only narrows what is opened
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 5 ? 1 : 0;
}

HANDLE OpenFileToDelete(const FilePath& path, DWORD* error) {
    DWORD flags = KnowsReparsePoints() ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
    HANDLE file = OpenFilePath(path, GENERIC_READ | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ, flags);
    if (file == INVALID_HANDLE_VALUE) *error = GetLastError();
    return file;
}

HANDLE OpenFileToInspect(const FilePath& path, DWORD* error) {
    DWORD flags = KnowsReparsePoints() ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
    HANDLE file = OpenFilePath(path, GENERIC_READ | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, flags);
    if (file == INVALID_HANDLE_VALUE) *error = GetLastError();
    return file;
}

int SetAttributesOfOpenFile(HANDLE file, DWORD attributes, DWORD* error) {
    BasicInformation information;
    memset(&information, 0, sizeof(information));
    information.fileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetInformation(file, &information, sizeof(information), FileBasicInformationClass, error);
}

int DeleteOpenFile(HANDLE file, DWORD* error) {
    DispositionInformation information;
    information.deleteFile = 1;
    return SetInformation(file, &information, sizeof(information), FileDispositionInformationClass, error);
}

int IsHeldFileError(DWORD error) {
    // The errors the runtime's remove reports as EACCES, as a deletion by
    // path judges them.
    if (error == ERROR_ACCESS_DENIED || error == 16 || (error >= 19 && error <= 36) || error == 65 ||
        error == 82 || error == 83 || error == 108 || error == 132 || error == 158 || error == 167) {
        return 1;
    }
    return 0;
}
