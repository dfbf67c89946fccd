#include "cleanup/disk_sweep.h"

#include <stdio.h>
#include <string.h>

#include "app/outcome.h"
#include "cleanup/signature_matcher.h"
#include "cleanup/worm_file.h"
#include "trace/trace_log.h"

static const char SearchPattern[] = "*.*";

// Bytes a folder's path needs beyond its name: the backslash, the pattern of
// its own level and the terminator.
static const size_t FolderTail = 1 + sizeof(SearchPattern);

static int IsDotEntry(const char* name) {
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

// One entry of a listing. The level's path ends at `end`; the entry's name is
// written there in place, so that no path is ever copied per entry.
static int WalkEntry(char* buffer, size_t end, const WIN32_FIND_DATAA* found,
                     DirectoryCallback callback) {
    int isDirectory = (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    const char* name = found->cFileName;
    if (isDirectory && IsDotEntry(name)) return 0;

    // A path that would run past the buffer is not ours to report: the entry
    // is passed over, as a folder that cannot be listed is.
    size_t nameLength = strnlen(name, sizeof(found->cFileName));
    if (end + nameLength + (isDirectory ? FolderTail : 1) > WalkPathBufferSize) return 0;
    memcpy(buffer + end, name, nameLength);
    buffer[end + nameLength] = '\0';

    if (callback) {
        int stop = callback(buffer, found, isDirectory);
        if (stop) return stop;
    }
    if (!isDirectory) return 0;
    buffer[end + nameLength] = '\\';
    buffer[end + nameLength + 1] = '\0';
    return WalkDirectory(buffer, callback);
}

int WalkDirectory(const char* path, DirectoryCallback callback) {
    char* buffer = static_cast<char*>(AllocBuffer(WalkPathBufferSize));
    if (!buffer) return 1;

    size_t end = strnlen(path, WalkPathBufferSize);
    if (end + sizeof(SearchPattern) > WalkPathBufferSize) {
        FreeBuffer(buffer);
        return 0;
    }
    memcpy(buffer, path, end);
    memcpy(buffer + end, SearchPattern, sizeof(SearchPattern));

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(buffer, &found);
    if (search == INVALID_HANDLE_VALUE) {
        FreeBuffer(buffer);
        return 0;
    }
    int result = WalkEntry(buffer, end, &found, callback);
    while (result == 0 && FindNextFileA(search, &found)) {
        result = WalkEntry(buffer, end, &found, callback);
    }
    FindClose(search);
    FreeBuffer(buffer);
    return result;
}

int SweepFixedDisks(DirectoryCallback callback) {
    // Cleared first: an answer too long for the buffer leaves it untouched,
    // and then there is simply no root to visit.
    char drives[DriveListBufferSize];
    memset(drives, 0, sizeof(drives));
    if (GetLogicalDriveStringsA(sizeof(drives), drives) == 0) return 0;

    size_t at = 0;
    while (at < sizeof(drives) && drives[at]) {
        const char* root = drives + at;
        size_t length = strnlen(root, sizeof(drives) - at);
        if (at + length >= sizeof(drives)) break;  // an unterminated last root
        if (GetDriveTypeA(root) == DRIVE_FIXED) {
            int result = WalkDirectory(root, callback);
            if (result) return result;
        }
        at += length + 1;
    }
    return 0;
}

int DeleteIfInfected(const char* path, const WIN32_FIND_DATAA* findData, int isDirectory) {
    (void)findData;
    if (isDirectory) return 0;
    if (!IsInfectedFile(path)) return 0;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Found infection \"%s\"\n", path);
    SetInfectionState(InfectionPresent);
    // Deleted, left for the next boot, or counted as a failure; nothing to
    // do (the file went meanwhile) only moves the console on a line.
    if (DeleteWormFile(path) == ReplaceNothingToDo) printf("\n");
    return 0;
}
