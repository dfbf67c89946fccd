#include "cleanup/disk_sweep.h"

#include <stdio.h>
#include <string.h>

#include "app/outcome.h"
#include "cleanup/signature_matcher.h"
#include "cleanup/walk_rules.h"
#include "cleanup/walked_folders.h"
#include "cleanup/wide_walk.h"
#include "cleanup/worm_file.h"
#include "cleanup/wow64_view.h"
#include "support/system_queries.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

static const char SearchPattern[] = "*.*";

// Bytes a folder's path needs beyond its name: the backslash, the pattern of
// its own level and the terminator.
static const size_t FolderTail = 1 + sizeof(SearchPattern);

static int IsDotEntry(const char* name) {
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

static int Walk(const char* path, DWORD attributes, DirectoryCallback callback,
                WalkedFolders* walked);

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
            ReportUnlooked(isDirectory ? UnlookedFolder : UncheckedFile, buffer, ERROR_INVALID_NAME);
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
        ReportUnlooked(UncheckedFile, buffer, ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }

    if (callback) {
        int stop = callback(buffer, found, isDirectory, nullptr);
        if (stop) return stop;
    }
    if (!isDirectory) return 0;
    buffer[end + nameLength] = '\\';
    buffer[end + nameLength + 1] = '\0';
    if (found->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        buffer[end + nameLength] = '\0';
        char shown[MAX_PATH];
        snprintf(shown, sizeof(shown), "%s", buffer);
        buffer[end + nameLength] = '\\';
        if (!EntersReparseFolder(found, AnsiFilePath(buffer), shown)) return 0;
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

    FolderVisit visit;
    if (!MayEnterFolder(AnsiFilePath(path), attributes, walked, &visit)) {
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
    if (!RememberEnteredFolder(AnsiFilePath(path), walked, &visit)) {
        FindClose(search);
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

// One folder and all below it, by the family's walk. NT's walk takes the
// run's buffers when it has them (`wide`), or its own for this one walk.
static int WalkFolder(const char* path, DirectoryCallback callback, WideWalk* wide) {
    WalkedFolders walked = {nullptr, 0, 0};
    int result = 0;
    if (wide) {
        result = WalkWide(wide, path, callback, &walked);
    } else if (!IsWindowsNT()) {
        result = Walk(path, 0, callback, &walked);
    } else {
        WideWalk own;
        if (!StartWideWalk(&own)) {
            ReportUnlooked(UnlookedFolder, path, ERROR_NOT_ENOUGH_MEMORY);
            return 1;
        }
        result = WalkWide(&own, path, callback, &walked);
        EndWideWalk(&own);
    }
    ForgetWalkedFolders(&walked);
    return result;
}

int WalkDirectory(const char* path, DirectoryCallback callback) { return WalkFolder(path, callback, nullptr); }

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
    // NT's walk has its buffers once for every drive.
    WideWalk wide;
    int nt = IsWindowsNT();
    if (nt && !StartWideWalk(&wide)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "Cannot walk the drives, error=%ld\n",
                 (long)ERROR_NOT_ENOUGH_MEMORY);
        CountFailure();
        return 1;
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
        if (GetDriveTypeA(root) == DRIVE_FIXED) result = WalkFolder(root, callback, nt ? &wide : nullptr);
        at += length + 1;
    }
    EndRealSystemFolder(&redirection);
    if (nt) EndWideWalk(&wide);
    return result;
}

int DeleteIfInfected(const char* path, const WIN32_FIND_DATAA* findData, int isDirectory, const WCHAR* widePath) {
    (void)findData;
    if (isDirectory) return 0;
    // A name that only the wide calls reach as itself is tested and deleted
    // by them; the log names it in its readable form.
    FilePath file = {widePath ? nullptr : path, widePath, path};
    WormCopy copy;
    if (!IsInfectedCopyAt(file, &copy)) return 0;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Found infection \"%s\"\n", Escaped(path).text);
    SetInfectionState(InfectionPresent);
    // Deleted, left for the next boot, or counted as a failure; nothing to
    // do (the file went meanwhile) only moves the console on a line.
    if (DeleteWormFile(file, &copy) == ReplaceNothingToDo) printf("\n");
    return 0;
}
