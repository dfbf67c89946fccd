// The simulated Windows workstation that the host build runs against.
//
// One Workstation is "the machine": its operating system, file system,
// registry, services, processes, modules, console and user. The Win32
// functions declared in platform/host_win32.h are implemented in the other
// files of sim/ over the current Workstation. A test builds one with the
// fluent setters below, runs the tool's code, and looks at the result.
//
// Adding a Win32 function: declare it in platform/host_win32.h, implement it
// in the sim file of its area, and begin it with one of the SIM_ lines at the
// end of this header. A function that can fail also goes into the list in
// sim/failable_calls.cpp, so that tests may make it fail.
#ifndef KURRELFIX_SIM_WORKSTATION_H
#define KURRELFIX_SIM_WORKSTATION_H

#include <stdint.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace sim {

// Case-insensitive ordering of ASCII letters, as Windows compares names.
// Transparent, so lookups by string_view allocate nothing.
struct NoCaseLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};
bool NoCaseEqual(std::string_view a, std::string_view b);

// ---- security of files and keys ----------------------------------------

// One entry of an access list: a SID as text ("S-1-5-32-544"), its rights.
struct Ace {
    std::string sid;
    DWORD mask = 0;
    BYTE type = 0;   // 0 allowed, 1 denied
    BYTE flags = 0;  // 0x08: inherit-only, for what is created below
};

// The owner and access list of a file or key. One that was never set is the
// default of its kind (ws.DefaultFileSecurity, ws.DefaultKeySecurity): a file
// of the Windows folder, or a key of HKEY_LOCAL_MACHINE\SOFTWARE.
struct ObjectSecurity {
    bool set = false;  // made with a descriptor of its own, or given one by a test
    std::string owner;
    bool hasDacl = true;  // false: no access list at all, anyone may do anything
    std::vector<Ace> dacl;
    bool daclProtected = false;  // the parent's inheritable entries kept out
};

// Well-known SIDs as the tests name them.
extern const char* const AdministratorsSid;  // S-1-5-32-544
extern const char* const SystemSid;          // S-1-5-18
extern const char* const EveryoneSid;        // S-1-1-0
extern const char* const UsersSid;           // S-1-5-32-545
extern const char* const PlainUserSid;       // a user's own account
extern const char* const ToolUserSid;        // the administrator's account the tool runs as

// ---- file system -------------------------------------------------------

struct FileNode {
    std::string name;       // as created (case preserved)
    std::string shortName;  // 8.3 alias; empty means the name is already 8.3
    bool directory = false;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
    std::vector<uint8_t> data;
    bool unlistable = false;  // FindFirstFileA inside it is refused
    bool noShortName = false;  // the volume made no 8.3 name for it
    // A folder link (a junction, or a Unix link under Wine): every path
    // through it reaches this folder instead. It must outlive the link.
    FileNode* link = nullptr;
    // What the listing says a reparse point is (dwReserved0): a junction or
    // a volume mount point (IO_REPARSE_TAG_MOUNT_POINT, the same tag for
    // both), or a symbolic link; 0 for a link the listing does not mark.
    DWORD reparseTag = 0;
    // A symbolic link to another machine's share ("\\server\share"): any
    // path through it reaches that server, with our credentials.
    std::string remoteTarget;
    DWORD fileIndex = 0;  // 0 until GetFileInformationByHandle first asks
    // Marked for deletion through a handle: it goes when the last handle closes.
    bool deletePending = false;
    // Another process holds this file open, granting only these sharing rights.
    bool held = false;
    DWORD heldShare = 0;
    FileNode* parent = nullptr;
    std::map<std::string, std::unique_ptr<FileNode>, NoCaseLess> children;
    // A hard link: this name is a second name of that file, and every open
    // through it reaches that file. The file lists its other names; it has
    // 1 + otherNames.size() links, and deleting one name leaves the others.
    FileNode* sameFile = nullptr;
    std::vector<FileNode*> otherNames;
    // Created with a descriptor of its own (CreateFileA with security
    // attributes), or given one by a test.
    ObjectSecurity security;
};

struct Drive {
    UINT type = DRIVE_FIXED;
    std::unique_ptr<FileNode> root;
    DWORD serial = 0;  // the volume's serial number; AddDrive makes one from the letter
    // File indexes are handed out in the order they are first asked for, from
    // here on (the root has 5, as on NTFS): two drives built and walked alike
    // give the same indexes, as a cloned disk does.
    DWORD nextFileIndex = 16;
    bool persistentAcls = true;  // false: FAT, which keeps no owner or access list
    // false: the volume makes no 8.3 names, as every volume but the system
    // one from Windows 8 on.
    bool shortNames = true;
    // false: a volume reached only through a mount point, keyed by a digit
    // rather than a letter, and missing from GetLogicalDriveStringsA.
    bool hasLetter = true;
};

// The kinds of folder link a user or the system can make (Workstation::Link).
enum class LinkKind {
    Junction,      // a folder on this machine, marked with the mount-point tag
    SymbolicLink,  // a folder on this machine, marked with the symbolic-link tag
    MountPoint,    // the root of a volume ("D:\" or a letterless "1:\"), the mount-point tag
    RemoteLink,    // a symbolic link to "\\server\share"
};

// ---- registry ----------------------------------------------------------

struct RegValue {
    DWORD type = REG_SZ;
    std::vector<uint8_t> data;
};

struct RegKey {
    std::string name;
    std::map<std::string, RegValue, NoCaseLess> values;  // "" is the default value
    std::map<std::string, std::unique_ptr<RegKey>, NoCaseLess> subkeys;
    bool denyWrite = false;  // opening for KEY_SET_VALUE is refused
    ObjectSecurity security;
};

// ---- processes and modules --------------------------------------------

struct Process {
    DWORD pid = 0;
    std::string exePath;        // full path, as PSAPI reports it
    std::string toolhelpName;   // szExeFile of the tool-help snapshot; exePath when empty
    // What the loader list in the process's own memory names as its image,
    // which the process may rewrite; exePath when empty. The system's own
    // calls (QueryFullProcessImageName, GetProcessImageFileName) name exePath.
    std::string loaderPath;
    bool canOpenQuery = true;   // OpenProcess for query and read succeeds
    bool canTerminate = true;   // OpenProcess for PROCESS_TERMINATE succeeds
    bool holdsExe = true;       // its executable cannot be deleted while it runs
    bool running = true;
    // Which process this is, whatever its id: an id is reused once its
    // process has ended, a handle stays on its own process. Set by AddProcess.
    uint64_t serial = 0;
};

struct Module {
    std::string name;
    bool loadable = true;  // LoadLibrary finds it
    DWORD onlyOnPlatform = 0;  // the one Windows family that has it; 0: every family
    std::map<std::string, FARPROC, NoCaseLess> functions;
    int loadCount = 0;  // LoadLibrary minus FreeLibrary; KERNEL32.DLL comes loaded
    int timesLoaded = 0;  // every load, each of which runs its start-up code
    std::vector<std::string> imports;  // libraries it loads by bare name as it loads
};

// One OpenProcess call, as the process sweep's tests look at it afterwards.
struct ProcessOpen {
    DWORD pid = 0;
    DWORD access = 0;
    bool granted = false;
    bool debugPrivilegeEnabled = false;  // SeDebugPrivilege enabled in our token at the time
};

// An action run when the n-th call (counted from 1) of a function begins.
struct CallHook {
    std::string function;
    int atCall = 1;
    std::function<void()> action;
};

// ---- network shares (sim/shares.cpp) ------------------------------------

// One share of the machine, the fields of both families. NT hands out the
// texts in UTF-16, Windows 9x in 8-bit text; the model holds them 8-bit.
struct Share {
    std::string name;
    DWORD type = 0;  // STYPE_DISKTREE; NT marks hidden admin shares 0x80000000
    std::string remark;
    DWORD permissions = 0;
    DWORD maxUses = 0xFFFFFFFF;
    DWORD currentUses = 0;
    std::string path;
    std::string password;      // NT: shi502_passwd (none when empty); 9x: full access
    std::string readPassword;  // 9x: read-only access
    WORD flags = 0;            // 9x: access flags
    std::vector<uint8_t> securityDescriptor;  // NT: self-relative; none when empty
};
// Every field of a share in one line, for comparing and for test messages.
std::string Describe(const Share& share);

// ---- console and user --------------------------------------------------

struct MessageBoxShown {
    std::string text;
    std::string caption;
    UINT style = 0;
    bool ownerless = true;
};

// ---- next boot -----------------------------------------------------------

struct PendingMove {
    std::string from;
    std::string to;  // empty: delete `from`
    bool replace = false;
};

struct ClockEvent {
    DWORD atMs = 0;
    std::function<void()> action;
};

// ---- the maker's scanner (sim/scanner.cpp) ------------------------------

// One CreateFileA of a device ("\\.\NAME"), as the tool asked for it.
struct DeviceOpen {
    std::string path;  // as passed, "\\.\VTSentrelDev"
    DWORD access = 0;
    DWORD share = 0;
    DWORD creation = 0;
    DWORD flags = 0;
    bool opened = false;  // the device exists and a handle was given
};

// One DeviceIoControl, and what became of it.
struct DeviceRequest {
    int open = -1;  // index into Scanner::opens: which handle it came on
    DWORD code = 0;
    std::vector<uint8_t> input;  // the input bytes, inputLength of them
    DWORD inputLength = 0;
    DWORD outputLength = 0;
    bool overlapped = false;
    // "done", "refused", "pending", then "cancelled" or "finished" for a
    // pending one; "closed in flight" when its handle or event was closed
    // while it was still pending; "stalled" for one left pending that was
    // sent without an overlapped structure (the caller would wait for it
    // without bound).
    std::string outcome;
    DWORD completionError = 0;  // how a pending one ended
    DWORD transferred = 0;
    DWORD sentAtMs = 0;  // on the virtual clock
    DWORD endedAtMs = 0;
};

enum class ReadBack { State, Nothing, WrongValue };

// How far the virtual clock moves on for a wait that would never end.
const DWORD UnboundedWaitMs = 24u * 60u * 60u * 1000u;

// The scanner's drivers as the tool meets them: the devices they create, the
// scanning state they keep, and how a test wants them to answer.
struct Scanner {
    std::set<std::string, NoCaseLess> devices;  // "VTSentrelDev", "KVX", "SL95", "vtsl95"
    int state = 1;                              // scanning on
    std::map<DWORD, DWORD> refuse;              // request code -> error it fails with
    std::set<DWORD> pend;                       // codes left pending
    // Codes left pending that the driver finishes on its own this long after
    // they were sent; a pending code not named here is finished only by a
    // cancel.
    std::map<DWORD, DWORD> finishAfterMs;
    bool ignoresCancel = false;  // a driver without a cancel routine
    // Devices that exist but refuse to be opened, and the error (in use: 32).
    std::map<std::string, DWORD, NoCaseLess> openRefused;
    ReadBack readBack = ReadBack::State;
    int unboundedWaits = 0;  // waits that would never have ended
    std::vector<DeviceOpen> opens;
    std::vector<DeviceRequest> requests;
};

// ---- handles -------------------------------------------------------------

enum class HandleKind {
    Free, File, Folder, Search, Token, Process, Snapshot, Key, ScManager, Service, Device, Event
};

struct HandleEntry {
    HandleKind kind = HandleKind::Free;
    FileNode* node = nullptr;     // File, Folder, Search (the directory)
    DWORD access = 0;             // File, Key
    DWORD share = 0;              // File
    uint64_t position = 0;        // File; Search and Snapshot: next index
    RegKey* key = nullptr;        // Key
    DWORD pid = 0;                // Process
    uint64_t processSerial = 0;   // Process: the one it was opened on
    const std::string* service = nullptr;  // Service: name in the service table
    // Search: what comes next ("." and ".." first), the last name handed out,
    // and the one name asked for when the pattern is not a wildcard.
    // Names are UTF-8 here, up to three bytes for each of a name's 255 units.
    int stage = 0;
    char lastName[800] = {0};
    char onlyName[800] = {0};
    bool shortNames = true;  // Search: the volume makes 8.3 names
    // Snapshot: the processes running when it was taken.
    std::vector<DWORD> snapshotPids;
    // Device: its index in Scanner::opens, and its request still pending.
    int deviceOpen = -1;
    int pendingRequest = -1;
    HANDLE pendingEvent = nullptr;
    const BYTE* pendingInput = nullptr;  // what the pending request was given
    void* pendingOutput = nullptr;
    bool signalled = false;  // Event
};

struct Fault {
    std::string function;
    int callsToSkip = 0;  // 0: the next call fails
    DWORD error = 0;
    int times = 1;        // how many calls fail from then on
    int fired = 0;        // how many calls it made fail
};

class Workstation {
public:
    Workstation();
    ~Workstation();
    Workstation(const Workstation&) = delete;
    Workstation& operator=(const Workstation&) = delete;

    // ---- building the machine (fluent): sim/workstation.cpp ----
    Workstation& Nt();         // platform 2, version 5.1
    Workstation& Win9x();      // platform 1, version 4.10
    Workstation& Platform(DWORD platformId);
    Workstation& Admin(bool isAdmin = true);
    Workstation& WindowsDirectory(const std::string& path);
    Workstation& ModulePath(const std::string& path);
    // A library of that name ("PSAPI.DLL") dropped beside the program: Windows
    // loads it for the bare name. Its `timesLoaded` says whether it ran.
    Workstation& PlantModule(const std::string& name);
    Workstation& CurrentDirectory(const std::string& path);
    Workstation& AddDrive(char letter, UINT type);
    Workstation& VolumeSerial(char letter, DWORD serial);  // as a cloned disk keeps it
    // 64-bit Windows, the tool a 32-bit program on it: the real system folder
    // and SysWOW64 beside it, the file-system redirection of the tool's thread
    // on, and HKEY_CLASSES_ROOT in two views (its 32-bit copy under
    // "HKEY_CLASSES_ROOT\Wow6432Node", as Windows XP and Vista keep it) or in
    // one shared view (Windows 7 and later). A 9x machine with it set is an
    // emulator answering as 64-bit Windows.
    Workstation& Wow64(bool sharedClasses = false);
    Workstation& Dir(const std::string& path);
    Workstation& File(const std::string& path, const std::string& bytes,
                      DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
    Workstation& FileBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                           DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
    Workstation& ShortName(const std::string& path, const std::string& shortName);
    Workstation& Hold(const std::string& path, DWORD shareGranted);  // held by a helper process
    Workstation& Release(const std::string& path);
    Workstation& Unlistable(const std::string& path);
    // The owner and access list of a file or key, as someone set them.
    Workstation& Security(const std::string& path, const ObjectSecurity& security);
    Workstation& KeySecurity(HKEY root, const std::string& key, const ObjectSecurity& security);
    Workstation& NoAcls(char letter);  // the drive's volume keeps none (FAT)
    // A second name `path` (made there; it must not exist) of the file at
    // `existing`, as CreateHardLink makes it: one file with two links.
    Workstation& HardLink(const std::string& path, const std::string& existing);
    // A folder link at `path` that leads to the folder `target` (made when
    // missing). A junction carries the reparse-point attribute; without it,
    // the link is one that the listing does not mark, which the walk can know
    // only by where it leads. A junction may refuse to be listed itself, as
    // "Documents and Settings" does from Windows Vista on.
    Workstation& FolderLink(const std::string& path, const std::string& target,
                            bool reparsePoint = true, bool refusesListing = false);
    // A link of the given kind at `path` (made there; it must not exist).
    // The target is a folder (made when missing), a volume's root for a
    // mount point, or "\\server\share" for a remote link.
    Workstation& Link(const std::string& path, LinkKind kind, const std::string& target);
    // A volume without a drive letter, reached only through a mount point;
    // `key` is a digit that names it in the model's paths ("1:\").
    Workstation& LetterlessVolume(char key, UINT type);
    // What a plain user does to a folder of theirs between two of the tool's
    // calls: renames it away (to `path` + ".away") and puts a junction to
    // `target` in its place. For OnCall actions.
    void SwapFolderForJunction(const std::string& path, const std::string& target);
    // The process running with that id ends, and `newcomer` starts with the
    // same id, as Windows hands out a free id again. For OnCall actions.
    void ReuseProcessId(DWORD pid, Process newcomer);
    // Names are UTF-8, as Windows' are UTF-16: one with letters the ANSI code
    // page lacks comes out of the ANSI listing with "?" or a near letter for
    // them. This one has no 8.3 name beside it (without one, it has).
    Workstation& NoShortName(const std::string& path);
    // The volume makes no 8.3 names at all.
    Workstation& NoShortNames(char letter);
    Workstation& RegString(HKEY root, const std::string& key, const std::string& value,
                           const std::string& text, DWORD type = REG_SZ);
    Workstation& RegData(HKEY root, const std::string& key, const std::string& value, DWORD type,
                         const std::vector<uint8_t>& data);
    Workstation& RegKeyOnly(HKEY root, const std::string& key);
    Workstation& Service(const std::string& name, DWORD state);
    Workstation& AddProcess(const Process& process);
    Workstation& AnswerBoxes(std::initializer_list<int> answers);
    // The scanner's devices, by name without "\\.\" (sim/scanner.cpp).
    Workstation& ScannerDevices(std::initializer_list<const char*> names);
    // Network shares: sim/shares.cpp.
    Workstation& AddShare(const Share& share);
    Workstation& RefuseShareDelete(const std::string& name, DWORD status);
    Workstation& RefuseShareAdd(const std::string& name, DWORD status);

    // ---- calls and faults: sim/calls.cpp ----
    // Makes a call of the function fail with the error: the one after
    // `callsToSkip` calls, and `times` calls from then on. A function that the
    // simulation cannot make fail is refused (std::invalid_argument), and a
    // fault that never fired is reported when the workstation goes.
    Workstation& FailCall(const std::string& function, DWORD error, int callsToSkip = 0,
                          int times = 1);
    // Runs the action when the n-th call of the function begins (a Ctrl+C
    // in the middle of the disk sweep, say).
    Workstation& OnCall(const std::string& function, int atCall, std::function<void()> action);
    int Calls(std::string_view function) const;
    // Reports each fault that never fired (the destructor calls it).
    void ReportUnfiredFaults();

    // ---- the virtual clock: sim/clock.cpp ----
    Workstation& At(DWORD atMs, std::function<void()> action);  // on the virtual clock
    // Runs clock events that are due.
    void AdvanceClock(DWORD ms);

    // ---- looking at the machine: sim/paths.cpp ----
    FileNode* Find(std::string_view path);  // nullptr when absent
    // The same, and the folder link that the last name of the path is, or
    // nullptr when it is none.
    FileNode* Find(std::string_view path, const FileNode** lastLink);
    // The path that an ANSI call of the tool's reaches: its text turned from
    // the ANSI code page into the model's UTF-8, then Win32's rules (the last
    // name loses its trailing dots and blanks, a device's name such as
    // "nul.exe" is the device "\\.\NUL"); none of MAX_PATH characters or
    // more reaches anything. On 64-bit Windows, while the thread's
    // redirection is on, System32 is SysWOW64. The path itself where nothing
    // changes, without a copy; `storage` holds a rewritten one.
    std::string_view SeenPath(std::string_view path, std::string* storage) const;
    // The same for a wide call: a "\\?\" path is taken as it is, up to
    // 32,767 characters, with neither of Win32's rules; another one as an
    // ANSI call's.
    std::string_view SeenWidePath(const WCHAR* path, std::string* storage) const;
    std::string_view Win32Rules(std::string_view path, std::string* storage) const;
    std::string_view Redirected(std::string_view path, std::string* storage) const;
    bool Exists(std::string_view path) { return Find(path) != nullptr; }
    std::string Read(std::string_view path);  // bytes of a file, "" when absent
    RegKey* FindKey(HKEY root, std::string_view path);
    const RegValue* FindValue(HKEY root, std::string_view key, std::string_view value);
    std::string RegText(HKEY root, std::string_view key, std::string_view value);  // up to NUL
    std::string DebugOutput() const { return debugOutput; }

    // ---- events a test can cause: sim/workstation.cpp, sim/reboot.cpp ----
    void RaiseCtrlEvent(DWORD type);  // calls every installed console handler
    void Reboot();                    // carries out what was left for the next boot

    // ---- state (public: the sim's own files work on it) ----
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD majorVersion = 5;
    DWORD minorVersion = 1;
    DWORD buildNumber = 2600;
    bool isAdmin = true;
    bool adminGroupEnabled = true;  // the Administrators group may be present but not enabled
    int tokenGroupCount = 4;        // groups of the token besides Administrators
    std::vector<std::string> privilegesHeld{"SeDebugPrivilege", "SeShutdownPrivilege",
                                            "SeChangeNotifyPrivilege"};
    std::map<std::string, DWORD, NoCaseLess> privilegeAttributes;  // current attributes
    std::string windowsDirectory = "C:\\WINDOWS";
    std::string modulePath = "C:\\Tools\\Kurrelfix.exe";
    std::string currentDirectory = "C:\\";
    DWORD clockMs = 100000;
    DWORD oemId = 0;  // PROCESSOR_ARCHITECTURE_INTEL
    bool wow64 = false;          // 64-bit Windows (Wow64)
    bool sharedClasses = false;  // its HKEY_CLASSES_ROOT has one view
    bool fsRedirected = true;    // the tool's thread sees SysWOW64 for System32
    DWORD processorType = 586;

    std::map<char, Drive> drives;  // upper-case letter
    std::map<std::string, RegKey, NoCaseLess> roots;
    // The key a predefined root stands for: HKEY_CURRENT_USER is the running
    // account's hive under HKEY_USERS, as on Windows.
    RegKey* RootKey(HKEY root);
    std::map<std::string, DWORD, NoCaseLess> services;
    std::vector<Process> processes;
    std::map<std::string, Module, NoCaseLess> modules;  // in the system folder
    std::map<std::string, Module, NoCaseLess> plantedModules;  // in the program's folder
    std::string systemDirectory;  // "" : the Windows directory's system32 (NT) or SYSTEM (9x)
    std::vector<PendingMove> pendingMoves;  // MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT
    std::vector<ProcessOpen> processOpens;  // every OpenProcess call, in order
    std::vector<CallHook> callHooks;
    Scanner scanner;

    std::deque<int> boxAnswers;  // MessageBoxA answers; IDOK when empty
    std::vector<MessageBoxShown> boxesShown;
    std::vector<PHANDLER_ROUTINE> ctrlHandlers;
    std::string debugOutput;
    std::vector<ClockEvent> clockEvents;
    std::vector<Share> shares;  // in the order the enumeration hands them out
    std::map<std::string, DWORD, NoCaseLess> shareDeleteRefusals;  // NetShareDel answers these
    std::map<std::string, DWORD, NoCaseLess> shareAddRefusals;     // NetShareAdd answers these
    DWORD sharePageSize = 0;    // NT: shares per NetShareEnum call; 0: every share at once
    DWORD shareEnumStatus = 0;  // NetShareEnum answers this when not 0
    std::vector<void*> netBuffers;  // NetShareEnum's and NetShareGetInfo's, not yet given to NetApiBufferFree
    std::vector<Fault> faults;
    std::map<std::string, int, std::less<>> callCounts;
    std::vector<HandleEntry> handles;
    DWORD lastError = 0;
    int bootCount = 0;
    int randomCalls = 0;  // CryptGenRandom's calls: each hands out other bytes

    // Path helpers for the sim's own files: sim/paths.cpp.
    std::string Absolute(std::string_view path) const;  // resolves against the current directory
    FileNode* FindParent(std::string_view path, std::string* leaf);
    // The name itself at `path`: a hard link's own entry, where Find gives
    // the file it names. For the calls that delete or rename a name.
    FileNode* FindName(std::string_view path);
    FileNode* MakeDirs(const std::string& absolutePath);
    std::string PathOf(const FileNode* node) const;
    std::string ShortPathOf(const FileNode* node) const;
    // Removes a name. A file's other hard links keep it: one of them takes
    // the removed name's place as the file's own entry.
    void RemoveNode(FileNode* node);

    // Handles: sim/handles.cpp.
    HANDLE NewHandle(const HandleEntry& entry);
    HandleEntry* Lookup(HANDLE handle, HandleKind kind);
    void FreeHandle(HANDLE handle);
    // Handles still open, of one kind or (Free) of every kind.
    int OpenHandles(HandleKind kind = HandleKind::Free) const;

    // True when one of our handles is open on the node (sim/files.cpp).
    bool IsOpen(const FileNode* node) const;
    // The 8.3 name of a node, made up the way Windows does when it has none.
    const std::string& EnsureShortName(FileNode* node);
    // What a file or key that was never given security of its own has.
    static ObjectSecurity DefaultFileSecurity();
    static ObjectSecurity DefaultKeySecurity();
    // The folder GetSystemDirectory names, where the system's libraries live.
    std::string SystemDirectory() const;
    // KERNEL32.DLL (loaded, with the tool-help functions), PSAPI.DLL and
    // VDMDBG.DLL, as a freshly booted machine has them (sim/modules.cpp).
    void AddSystemModules();
    // NETAPI32.DLL and SVRAPI.DLL with their share functions (sim/shares.cpp);
    // a test takes away the one its family lacks, or one function.
    void AddShareModules();
    // The shares' names, in order.
    std::vector<std::string> ShareNames() const;
    // A buffer of NetShareEnum given back as the process that held it ends.
    void ReleaseNetBuffer(void* buffer);
    // The running process with this id, or nullptr.
    Process* FindProcess(DWORD pid);
    // The process a handle was opened on, while it runs; nullptr once it ended.
    Process* FindProcessBySerial(uint64_t serial);
    // What an open of a name that Win32's rules take for the NUL device
    // reaches: nothing to read, in no folder.
    FileNode nullDevice;
    // Every path through a remote link that a call of the tool's resolved:
    // each would have reached another machine.
    std::vector<std::string> remoteReached;
    uint64_t nextProcessSerial = 1;
};

// The workstation that the Win32 functions act on: the one constructed last.
Workstation& Current();
bool HasCurrent();

// Counts a call of a failable function and runs its hooks; true, with the
// error to report, when a test asked for this call to fail. The SIM_ lines
// below are the ways in; the name is always the function's own (__func__).
bool CallFails(const char* function, DWORD* error);
// Counts a call of a function that the simulation never makes fail: Windows
// gives it no way to report a failure, or the tool cannot see one.
void CountCall(const char* function);

// Where a problem of a test's own making goes (a fault that never fired): the
// host tests report it as a test failure; without a handler it aborts.
void SetProblemHandler(void (*handler)(const std::string& problem));

// The names that FailCall accepts: every function that begins with a
// failable SIM_ line (sim/failable_calls.cpp).
bool IsFailable(std::string_view function);
std::vector<std::string> FailableCallNames();

// Root name of a predefined key, or nullptr.
const char* RootName(HKEY root);

}  // namespace sim

// The first line of every simulated function.
// A fault sets the last error and the function returns `result`.
#define SIM_FAILABLE(result)                                   \
    do {                                                       \
        DWORD simFault_ = 0;                                   \
        if (::sim::CallFails(__func__, &simFault_)) {          \
            ::SetLastError(simFault_);                         \
            return result;                                     \
        }                                                      \
    } while (0)
// A fault is the function's returned status (the registry functions).
#define SIM_FAILABLE_STATUS()                                  \
    do {                                                       \
        DWORD simFault_ = 0;                                   \
        if (::sim::CallFails(__func__, &simFault_))            \
            return static_cast<LONG>(simFault_);               \
    } while (0)
// A function with a failure of its own shape: `fault` (a bool) says whether
// this call fails, with the error in `error` (a DWORD declared here).
#define SIM_FAULT(fault, error) \
    DWORD error = 0;            \
    bool fault = ::sim::CallFails(__func__, &error)
// Counted only: the simulation never makes it fail.
#define SIM_COUNTED() ::sim::CountCall(__func__)

#endif
