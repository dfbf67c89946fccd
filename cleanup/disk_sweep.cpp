#include "cleanup/disk_sweep.h"

#include <stdio.h>
#include <string.h>

#include "app/outcome.h"
#include "cleanup/signature_matcher.h"
#include "cleanup/walked_folders.h"
#include "cleanup/worm_file.h"
#include "cleanup/wow64_view.h"
#include "support/system_library.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

static const char SearchPattern[] = "*.*";

// Bytes a folder's path needs beyond its name: the backslash, the pattern of
// its own level and the terminator.
static const size_t FolderTail = 1 + sizeof(SearchPattern);

static int IsDotEntry(const char* name) {
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// A part of the disks that could not be looked at may hold the worm, so the
// run must not end saying it found none, or removed it: logged as an error
// and counted as a failure.
static void ReportUnlooked(const char* format, const char* path, DWORD error) {
    TraceMsg(TraceModule, TraceAllTypes, TraceError, format, Escaped(path).text, (long)error);
    CountFailure();
}

static const char UnlookedFolder[] = "Cannot look into folder %s, error=%ld\n";

// A folder that is not ours to look into, as Windows keeps "System Volume
// Information", or one that went away since it was listed.
static int IsPassedOver(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND ||
           error == ERROR_PATH_NOT_FOUND;
}

// Such a folder is said, and passed.
static void ReportPassedOver(const char* path, DWORD error) {
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, UnlookedFolder, Escaped(path).text, (long)error);
}

static int Walk(const char* path, DWORD attributes, DirectoryCallback callback,
                WalkedFolders* walked);

// What the file system calls the folder. The handle asks for no access, which
// is enough to read the identity even of a folder whose listing is refused.
// Windows 9x opens no folder at all; its disks have no links either.
static int ReadFolderId(const char* path, FolderId* id, DWORD* error) {
    HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    int known = ReadFileIdentity(folder, id, nullptr, error);
    CloseHandle(folder);
    return known;
}

// A reparse point whose tag has this bit stands for another name: a junction,
// a volume mount point (the same tag) or a symbolic link.
static const DWORD NameSurrogateTag = 0x20000000;

typedef BOOL(WINAPI* GetVolumeNameForVolumeMountPointAFunction)(LPCSTR mountPoint, LPSTR volumeName,
                                                                 DWORD size);

// The name of the volume at a mount point or drive root (ending with a
// backslash); 0 when it is none, or the call is missing (before Windows 2000).
static int VolumeNameOf(const char* mountPoint, char* volume, DWORD size) {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    GetVolumeNameForVolumeMountPointAFunction volumeNameOf =
        kernel ? BindFunction<GetVolumeNameForVolumeMountPointAFunction>(kernel, "GetVolumeNameForVolumeMountPointA")
               : nullptr;
    return volumeNameOf && volumeNameOf(mountPoint, volume, size) ? 1 : 0;
}

// 1 when the folder (its path ending with a backslash) is a volume mount
// point of a local fixed disk without a drive letter of its own: no drive
// root leads to its files, so they are walked here or nowhere.
static int IsLetterlessFixedVolume(const char* folder) {
    char volume[64];
    if (!VolumeNameOf(folder, volume, sizeof(volume)) || GetDriveTypeA(volume) != DRIVE_FIXED) return 0;
    char drives[DriveListBufferSize];
    memset(drives, 0, sizeof(drives));
    DWORD length = GetLogicalDriveStringsA(sizeof(drives), drives);
    if (length == 0 || length >= sizeof(drives)) return 0;  // it may have a letter: walked there
    for (size_t at = 0; at < sizeof(drives) && drives[at]; at += strnlen(drives + at, sizeof(drives) - at) + 1) {
        char other[64];
        if (VolumeNameOf(drives + at, other, sizeof(other)) && strcmp(other, volume) == 0) return 0;
    }
    return 1;
}

// One entry of a listing. The level's path ends at `end`; the entry's name is
// written there in place, so that no path is ever copied per entry.
static int WalkEntry(char* buffer, size_t end, const WIN32_FIND_DATAA* found,
                     DirectoryCallback callback, WalkedFolders* walked) {
    int isDirectory = (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    const char* name = found->cFileName;
    if (isDirectory && IsDotEntry(name)) return 0;
    // No real name holds "?": the listing put it for letters that the ANSI
    // code page lacks, and no ANSI call opens that name. The 8.3 name beside
    // it reaches the same file; without one, the entry cannot be looked at.
    if (strchr(name, '?')) {
        if (found->cAlternateFileName[0]) {
            name = found->cAlternateFileName;
        } else {
            size_t length = strnlen(name, sizeof(found->cFileName));
            if (end + length + 1 <= WalkPathBufferSize) {
                memcpy(buffer + end, name, length);
                buffer[end + length] = '\0';
            }
            ReportUnlooked(isDirectory ? UnlookedFolder : "Cannot check file %s, error=%ld\n", buffer,
                           ERROR_INVALID_NAME);
            return 0;
        }
    }

    // A path that would run past the buffer is not ours to report: the entry
    // is passed over, as a folder that cannot be listed is.
    size_t nameLength = strnlen(name, sizeof(found->cFileName));
    if (end + nameLength + (isDirectory ? FolderTail : 1) > WalkPathBufferSize) return 0;
    memcpy(buffer + end, name, nameLength);
    buffer[end + nameLength] = '\0';
    // The ANSI calls take no path of MAX_PATH characters or more: such a file
    // cannot be opened, so it could never be found to be the worm.
    if (!isDirectory && end + nameLength >= MAX_PATH) {
        ReportUnlooked("Cannot check file %s, error=%ld\n", buffer, ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }

    if (callback) {
        int stop = callback(buffer, found, isDirectory);
        if (stop) return stop;
    }
    if (!isDirectory) return 0;
    buffer[end + nameLength] = '\\';
    buffer[end + nameLength + 1] = '\0';
    // A junction or symbolic link may lead anywhere: to another volume, a
    // removable disk, another machine's share (where our credentials would
    // go). What it leads to on the fixed disks is walked where it is. Only a
    // fixed volume that has no drive letter is walked through its mount point.
    // A reparse point that stands for no other name is an ordinary folder.
    DWORD tag = found->dwReserved0;
    if ((found->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && (tag == 0 || (tag & NameSurrogateTag)) &&
        !(tag == static_cast<DWORD>(IO_REPARSE_TAG_MOUNT_POINT) && IsLetterlessFixedVolume(buffer))) {
        buffer[end + nameLength] = '\0';
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Folder %s is a link, not entered: what it leads to is walked where it is\n",
                 Escaped(buffer).text);
        return 0;
    }
    return Walk(buffer, found->dwFileAttributes, callback, walked);
}

static int Walk(const char* path, DWORD attributes, DirectoryCallback callback,
                WalkedFolders* walked) {
    char* buffer = static_cast<char*>(AllocBuffer(WalkPathBufferSize));
    if (!buffer) {
        ReportUnlooked(UnlookedFolder, path, ERROR_NOT_ENOUGH_MEMORY);
        return 1;
    }

    size_t end = strnlen(path, WalkPathBufferSize);
    if (end + sizeof(SearchPattern) > WalkPathBufferSize) {
        FreeBuffer(buffer);
        return 0;
    }
    memcpy(buffer, path, end);
    memcpy(buffer + end, SearchPattern, sizeof(SearchPattern));
    // The ANSI calls take no pattern of MAX_PATH characters or more.
    if (end + sizeof(SearchPattern) > MAX_PATH) {
        ReportUnlooked(UnlookedFolder, path, ERROR_FILENAME_EXCED_RANGE);
        FreeBuffer(buffer);
        return 0;
    }

    // A junction or link that leads back up the tree would have the walk go
    // round and round, each time deeper, until the paths grow too long, and
    // a folder reached by two roads would be walked twice: each folder is
    // entered once, by the first road the walk comes to.
    FolderId id;
    DWORD idError = 0;
    int known = ReadFolderId(path, &id, &idError);
    if (known && HasWalked(walked, id)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo,
                 "Folder %s leads to one walked already, not entered again\n", Escaped(path).text);
        FreeBuffer(buffer);
        return 0;
    }
    // Without its identity a link cannot be told from one that closes a
    // loop, so it is not entered. One that leads nowhere, or is refused to
    // us, would not list either.
    if (!known && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (IsPassedOver(idError)) {
            ReportPassedOver(path, idError);
        } else {
            ReportUnlooked(UnlookedFolder, path, idError);
        }
        FreeBuffer(buffer);
        return 0;
    }

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(buffer, &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A drive root has no "." entry: an empty drive lists nothing at all.
        bool root = end == 3 && path[1] == ':';
        if (root && (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)) {
            // nothing there
        } else if (!root && IsPassedOver(error)) {
            ReportPassedOver(path, error);
        } else {
            ReportUnlooked(UnlookedFolder, path, error);
        }
        FreeBuffer(buffer);
        return 0;
    }
    // Remembered only once it lists: a junction refused to us must not keep
    // the real folder behind it from being walked by its own path.
    if (known && !RememberWalked(walked, id)) {
        FindClose(search);
        ReportUnlooked(UnlookedFolder, path, ERROR_NOT_ENOUGH_MEMORY);
        FreeBuffer(buffer);
        return 0;
    }
    int result = WalkEntry(buffer, end, &found, callback, walked);
    while (result == 0) {
        if (!FindNextFileA(search, &found)) {
            DWORD error = GetLastError();
            // Anything but the end of the listing cut it short.
            if (error != ERROR_NO_MORE_FILES) {
                buffer[end] = '\0';
                ReportUnlooked("Listing of folder %s ended early, error=%ld\n", buffer, error);
            }
            break;
        }
        result = WalkEntry(buffer, end, &found, callback, walked);
    }
    FindClose(search);
    FreeBuffer(buffer);
    return result;
}

int WalkDirectory(const char* path, DirectoryCallback callback) {
    WalkedFolders walked = {nullptr, 0, 0};
    int result = Walk(path, 0, callback, &walked);
    ForgetWalkedFolders(&walked);
    return result;
}

int SweepFixedDisks(DirectoryCallback callback) {
    // Cleared first: an answer too long for the buffer leaves it untouched,
    // and then there is simply no root to visit.
    char drives[DriveListBufferSize];
    memset(drives, 0, sizeof(drives));
    DWORD length = GetLogicalDriveStringsA(sizeof(drives), drives);
    if (length == 0 || length >= sizeof(drives)) {
        // Without the list no disk is looked at, and the worm is not "not found".
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "Cannot read the list of drives, error=%ld\n",
                 length == 0 ? (long)GetLastError() : (long)ERROR_INSUFFICIENT_BUFFER);
        CountFailure();
        return 0;
    }

    // On 64-bit Windows, System32 is walked, tested and cleaned as the real
    // folder: the worm's copies written there over the network are not
    // redirected. Nothing in the walk loads a library.
    FsRedirection redirection;
    BeginRealSystemFolder(RunsOnWow64(), &redirection);
    int result = 0;
    size_t at = 0;
    while (result == 0 && at < sizeof(drives) && drives[at]) {
        const char* root = drives + at;
        size_t length = strnlen(root, sizeof(drives) - at);
        if (at + length >= sizeof(drives)) break;  // an unterminated last root
        // Each drive starts afresh. A volume's serial number need not be
        // unique (a cloned disk keeps its source's), and its folders would
        // then pass for folders of the other one, walked already. A folder
        // that a link from another drive led to is walked again here.
        if (GetDriveTypeA(root) == DRIVE_FIXED) result = WalkDirectory(root, callback);
        at += length + 1;
    }
    EndRealSystemFolder(&redirection);
    return result;
}

int DeleteIfInfected(const char* path, const WIN32_FIND_DATAA* findData, int isDirectory) {
    (void)findData;
    if (isDirectory) return 0;
    WormCopy copy;
    if (!IsInfectedCopy(path, &copy)) return 0;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Found infection \"%s\"\n", Escaped(path).text);
    SetInfectionState(InfectionPresent);
    // Deleted, left for the next boot, or counted as a failure; nothing to
    // do (the file went meanwhile) only moves the console on a line.
    if (DeleteWormFile(path, &copy) == ReplaceNothingToDo) printf("\n");
    return 0;
}
