// The subset of Win32 that Kurrelfix calls, declared for the host build.
// The simulated workstation (sim/) implements every function declared here.
// Types keep Win32's sizes: DWORD and LONG are 32 bits, WCHAR 16 bits, handles
// are pointers. The Windows build compiles the same code against the real SDK
// headers, which keeps these declarations honest.
#ifndef KURRELFIX_PLATFORM_HOST_WIN32_H
#define KURRELFIX_PLATFORM_HOST_WIN32_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define MAX_PATH 260

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uint16_t WCHAR;
typedef char CHAR;
typedef void* HANDLE;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef uintptr_t ULONG_PTR;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;
typedef LONG LSTATUS;

#define TRUE 1
#define FALSE 0

struct HKEY__ { int unused; };
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
struct HINSTANCE__ { int unused; };
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HWND__ { int unused; };
typedef HWND__* HWND;
struct SC_HANDLE__ { int unused; };
typedef SC_HANDLE__* SC_HANDLE;
typedef intptr_t (WINAPI* FARPROC)();

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

// Errors.
#define ERROR_SUCCESS 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_WRITE_PROTECT 19L
#define ERROR_NOT_READY 21L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_HANDLE_EOF 38L
#define ERROR_READ_FAULT 30L
#define ERROR_GEN_FAILURE 31L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_NOT_ALL_ASSIGNED 1300L
#define ERROR_NO_SUCH_PRIVILEGE 1313L
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_IO_INCOMPLETE 996L
#define ERROR_IO_PENDING 997L
#define ERROR_NOT_A_REPARSE_POINT 4390L

// Version.
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);

// System.
typedef struct _SYSTEM_INFO {
    union {
        DWORD dwOemId;
        struct {
            WORD wProcessorArchitecture;
            WORD wReserved;
        } s;
    } u;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    ULONG_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD code);
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
DWORD WINAPI GetTickCount(void);
void WINAPI GetSystemInfo(LPSYSTEM_INFO info);
void WINAPI Sleep(DWORD milliseconds);
void WINAPI OutputDebugStringA(LPCSTR text);
BOOL WINAPI CloseHandle(HANDLE handle);

// Critical sections.
typedef struct _CRITICAL_SECTION {
    void* impl;  // owned by the simulation between Initialize and Delete
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);

// Console and user.
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ICONWARNING 0x00000030L
#define MB_ICONINFORMATION 0x00000040L
#define IDOK 1
#define IDCANCEL 2
#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6

typedef BOOL (WINAPI* PHANDLER_ROUTINE)(DWORD ctrlType);

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);

// Security: tokens, SIDs, privileges.
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define TOKEN_QUERY 0x0008
#define TOKEN_READ 0x20008
#define SE_PRIVILEGE_ENABLED 0x00000002L
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020L
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220L
#define SECURITY_NT_AUTHORITY {0, 0, 0, 0, 0, 5}
#define ANYSIZE_ARRAY 1

typedef PVOID PSID;
typedef HANDLE* PHANDLE;

typedef struct _SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;

typedef struct _TOKEN_GROUPS {
    DWORD GroupCount;
    SID_AND_ATTRIBUTES Groups[ANYSIZE_ARRAY];
} TOKEN_GROUPS, *PTOKEN_GROUPS;

typedef struct _LUID {
    DWORD LowPart;
    LONG HighPart;
} LUID, *PLUID;

typedef struct _LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
} LUID_AND_ATTRIBUTES;

typedef struct _TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[ANYSIZE_ARRAY];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

typedef enum _TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenGroups = 2,
    TokenPrivileges = 3
} TOKEN_INFORMATION_CLASS;

HANDLE WINAPI GetCurrentProcess(void);
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                DWORD length, LPDWORD returnLength);
BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count,
                                     DWORD sub0, DWORD sub1, DWORD sub2, DWORD sub3,
                                     DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                     PSID* sid);
BOOL WINAPI EqualSid(PSID a, PSID b);
PVOID WINAPI FreeSid(PSID sid);
BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid);
BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                  DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                  LPDWORD returnLength);

// Service control manager.
#define GENERIC_READ 0x80000000L
#define GENERIC_WRITE 0x40000000L
#define SERVICE_QUERY_STATUS 0x0004
#define SERVICE_STOPPED 1
#define SERVICE_START_PENDING 2
#define SERVICE_STOP_PENDING 3
#define SERVICE_RUNNING 4
#define SERVICE_CONTINUE_PENDING 5
#define SERVICE_PAUSE_PENDING 6
#define SERVICE_PAUSED 7

typedef struct _SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access);
SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access);
BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL WINAPI CloseServiceHandle(SC_HANDLE handle);

// Registry.
#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003)
#define KEY_QUERY_VALUE 0x0001
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_SET_VALUE 0x0002
// The registry view asked for by name on 64-bit Windows (Windows 2000 refuses both).
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize);
LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                           const BYTE* data, DWORD dataSize);
LONG WINAPI RegCloseKey(HKEY key);

// Files.
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define FILE_FLAG_OVERLAPPED 0x40000000
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x00000004
#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// Only hEvent is used by the tool; the offsets stand where Windows has them.
typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

typedef struct _BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED overlapped);
BOOL WINAPI DeleteFileA(LPCSTR path);
BOOL WINAPI MoveFileA(LPCSTR existing, LPCSTR newPath);
BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR newPath, DWORD flags);
BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR newPath, BOOL failIfExists);
DWORD WINAPI GetFileAttributesA(LPCSTR path);
BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes);
DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size);
DWORD WINAPI GetLogicalDriveStringsA(DWORD size, LPSTR buffer);
UINT WINAPI GetDriveTypeA(LPCSTR root);
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindClose(HANDLE search);
BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);

// Device I/O control (the maker's scanner) and the events of overlapped requests.
BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                            DWORD outputSize, LPDWORD returned, LPOVERLAPPED overlapped);
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState,
                           LPCSTR name);
BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD transferred,
                                BOOL wait);
// Missing from Windows 95's KERNEL32: reached only through GetProcAddress.
BOOL WINAPI CancelIo(HANDLE file);
// 64-bit Windows' view of a 32-bit program, and its file-system redirection
// of the system folder, per thread. Missing before Windows XP: reached only
// through GetProcAddress.
BOOL WINAPI IsWow64Process(HANDLE process, BOOL* wow64);
BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* previous);
BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID previous);
#define INFINITE 0xFFFFFFFF
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED 0xFFFFFFFF
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Profile strings (win.ini in the Windows directory).
DWORD WINAPI GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR buffer,
                               DWORD size);
BOOL WINAPI WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value);

// Processes and modules.
#define PROCESS_TERMINATE 0x0001
#define PROCESS_VM_READ 0x0010
#define PROCESS_QUERY_INFORMATION 0x0400
#define TH32CS_SNAPPROCESS 0x00000002

typedef struct tagPROCESSENTRY32 {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    ULONG_PTR th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    CHAR szExeFile[MAX_PATH];
} PROCESSENTRY32, *LPPROCESSENTRY32;

// Reached only through GetProcAddress: the tool-help functions are missing
// from KERNEL32 on NT 4, and PSAPI.DLL and VDMDBG.DLL from Windows 9x.
#define ERROR_BAD_LENGTH 24L
typedef int INT;
typedef intptr_t LPARAM;
typedef BOOL (WINAPI* TASKENUMPROCEX)(DWORD threadId, WORD module16, WORD task16,
                                      LPSTR moduleName, LPSTR fileName, LPARAM userData);

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
BOOL WINAPI Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry);
BOOL WINAPI Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry);
BOOL WINAPI EnumProcesses(DWORD* processIds, DWORD size, LPDWORD bytesReturned);
BOOL WINAPI EnumProcessModules(HANDLE process, HMODULE* modules, DWORD size, LPDWORD needed);
DWORD WINAPI GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR name, DWORD size);
DWORD WINAPI GetModuleBaseNameA(HANDLE process, HMODULE module, LPSTR name, DWORD size);
INT WINAPI VDMEnumTaskWOWEx(DWORD processId, TASKENUMPROCEX callback, LPARAM userData);

HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD processId);
BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode);
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
HMODULE WINAPI LoadLibraryA(LPCSTR name);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);

// Network shares: the libraries are loaded by their wide names on NT, and the
// journal of removed shares is written through to disk and, on NT, readable
// by Administrators and SYSTEM alone.
#define FILE_FLAG_WRITE_THROUGH 0x80000000
#define GENERIC_ALL 0x10000000L
#define SECURITY_LOCAL_SYSTEM_RID 0x00000012L
#define SECURITY_DESCRIPTOR_REVISION 1
#define ACL_REVISION 2
#define SE_DACL_PROTECTED 0x1000

typedef PVOID PSECURITY_DESCRIPTOR;
typedef WORD SECURITY_DESCRIPTOR_CONTROL;

typedef struct _ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
} ACL, *PACL;

typedef struct _SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
} SECURITY_DESCRIPTOR, *PISECURITY_DESCRIPTOR;

HMODULE WINAPI LoadLibraryW(const WCHAR* name);
BOOL WINAPI FlushFileBuffers(HANDLE file);
BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision);
BOOL WINAPI InitializeAcl(PACL acl, DWORD length, DWORD revision);
BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD revision, DWORD access, PSID sid);
BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL acl,
                                      BOOL defaulted);
DWORD WINAPI GetLengthSid(PSID sid);
DWORD WINAPI GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR descriptor);

// System libraries are loaded from the system folder by their full path.
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
UINT WINAPI GetSystemDirectoryW(WCHAR* buffer, UINT size);
HMODULE WINAPI LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags);
HMODULE WINAPI LoadLibraryExW(const WCHAR* name, HANDLE file, DWORD flags);

// The share journal is trusted only when Administrators or SYSTEM own it and
// nobody else may change it: its owner and access list are read from the
// open file or key. A volume without access lists keeps it in the registry.
#define FILE_PERSISTENT_ACLS 0x00000008
#define OWNER_SECURITY_INFORMATION 0x00000001L
#define DACL_SECURITY_INFORMATION 0x00000004L
#define READ_CONTROL 0x00020000L
#define DELETE 0x00010000L
#define WRITE_DAC 0x00040000L
#define WRITE_OWNER 0x00080000L
#define SE_DACL_PRESENT 0x0004
#define SE_SELF_RELATIVE 0x8000
#define KEY_WRITE 0x20006
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L
typedef DWORD SECURITY_INFORMATION;

BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize,
                                  LPDWORD serial, LPDWORD maxComponentLength,
                                  LPDWORD fileSystemFlags, LPSTR fileSystemName,
                                  DWORD fileSystemNameSize);
BOOL WINAPI GetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION requested,
                                    PSECURITY_DESCRIPTOR descriptor, DWORD size, LPDWORD needed);
LONG WINAPI RegGetKeySecurity(HKEY key, SECURITY_INFORMATION requested,
                              PSECURITY_DESCRIPTOR descriptor, LPDWORD size);
LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className,
                            DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                            PHKEY result, LPDWORD disposition);
LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName);
LONG WINAPI RegFlushKey(HKEY key);
BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);
BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID owner,
                                       BOOL defaulted);

// What the tool deletes is the file it matched: it is opened without
// following a reparse point at its last name and deleted through that handle
// (NtSetInformationFile of NTDLL.DLL, reached only through GetProcAddress),
// and a folder on the way to a file left for the boot is judged by its owner
// and access list, read from its handle.
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_WRITE_ATTRIBUTES 0x0100
#define FILE_DELETE_CHILD 0x0040
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003L
#define IO_REPARSE_TAG_SYMLINK 0xA000000CL
// Devices and pipes are opened so that whoever answers them cannot act with
// our token.
#define SECURITY_SQOS_PRESENT 0x00100000
#define SECURITY_IDENTIFICATION 0x00010000
typedef LONG NTSTATUS;
typedef uint32_t ULONG;
NTSTATUS WINAPI NtSetInformationFile(HANDLE file, PVOID ioStatus, PVOID information, ULONG length,
                                     int informationClass);
ULONG WINAPI RtlNtStatusToDosError(NTSTATUS status);
// Missing before Windows 2000: reached only through GetProcAddress.
BOOL WINAPI GetVolumeNameForVolumeMountPointA(LPCSTR mountPoint, LPSTR volumeName, DWORD size);

// The NT family's sweep walks and opens files by their UTF-16 names, on
// "\\?\" paths as long as the system allows, so that every name is reached
// as itself; a name is turned into the ANSI code page only for the log.
#define CP_ACP 0
#define WC_NO_BEST_FIT_CHARS 0x00000400
typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideLength, LPSTR ansi,
                               int ansiSize, LPCSTR defaultChar, BOOL* usedDefault);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR ansi, int ansiLength, WCHAR* wide,
                               int wideSize);
HANDLE WINAPI FindFirstFileW(const WCHAR* pattern, LPWIN32_FIND_DATAW data);
BOOL WINAPI FindNextFileW(HANDLE search, LPWIN32_FIND_DATAW data);
HANDLE WINAPI CreateFileW(const WCHAR* path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WINAPI MoveFileExW(const WCHAR* existing, const WCHAR* newPath, DWORD flags);
DWORD WINAPI GetFileAttributesW(const WCHAR* path);
// Missing before Windows 2000: reached only through GetProcAddress.
BOOL WINAPI GetVolumeNameForVolumeMountPointW(const WCHAR* mountPoint, WCHAR* volumeName, DWORD size);
// Reached only through GetProcAddress, as its ANSI sibling.
DWORD WINAPI GetModuleFileNameExW(HANDLE process, HMODULE module, WCHAR* name, DWORD size);
// The image as the system names it: Vista and later (KERNEL32), XP and
// Server 2003 (PSAPI, on the volume's device); reached through GetProcAddress.
BOOL WINAPI QueryFullProcessImageNameW(HANDLE process, DWORD flags, WCHAR* name, DWORD* size);
DWORD WINAPI GetProcessImageFileNameW(HANDLE process, WCHAR* name, DWORD size);
// The keys under HKEY_USERS: the loaded hives.
LONG WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR className,
                          LPDWORD classSize, FILETIME* lastWrite);
DWORD WINAPI QueryDosDeviceW(const WCHAR* deviceName, WCHAR* target, DWORD size);
// The system's random generator (ADVAPI32), reached through GetProcAddress.
typedef ULONG_PTR HCRYPTPROV;
BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* provider, LPCSTR container, LPCSTR providerName, DWORD type, DWORD flags);
BOOL WINAPI CryptGenRandom(HCRYPTPROV provider, DWORD size, BYTE* buffer);
BOOL WINAPI CryptReleaseContext(HCRYPTPROV provider, DWORD flags);

#endif
