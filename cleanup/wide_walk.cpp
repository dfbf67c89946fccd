#include "cleanup/wide_walk.h"

#include <string.h>

#include "cleanup/walk_rules.h"
#include "support/file_path.h"
#include "support/wide_names.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

namespace {

size_t WideLength(const WCHAR* text) {
    size_t length = 0;
    while (text[length]) ++length;
    return length;
}

bool IsDotEntry(const WCHAR* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// The folder whose path ends in both buffers at the given ends.
FilePath FolderAt(WideWalk* walk, size_t wideEnd, size_t shownEnd) {
    walk->wide[wideEnd] = 0;
    walk->shown[shownEnd] = '\0';
    FilePath folder = {nullptr, walk->wide, walk->shown};
    return folder;
}

// Lists the folder whose path ends at the given ends, and makes it the
// level below. Nothing is pushed for one that is not entered or does not
// list; what it is is said as its kind asks.
void Enter(WideWalk* walk, size_t wideEnd, size_t shownEnd, int exact, DWORD attributes, WalkedFolders* walked,
           size_t* depth) {
    FilePath folder = FolderAt(walk, wideEnd, shownEnd);
    FolderVisit visit;
    if (!MayEnterFolder(folder, attributes, walked, &visit)) return;
    walk->wide[wideEnd] = '*';
    walk->wide[wideEnd + 1] = 0;
    HANDLE search = FindFirstFileW(walk->wide, &walk->found);
    walk->wide[wideEnd] = 0;
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A drive root has no "." entry: an empty drive lists nothing at all.
        bool root = *depth == 0;
        if (root && (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)) {
            // nothing there
        } else if (!root && IsPassedOver(error)) {
            ReportPassedOver(walk->shown, error);
        } else {
            ReportUnlooked(UnlookedFolder, walk->shown, error);
        }
        return;
    }
    if (!RememberEnteredFolder(folder, walked, &visit) || *depth >= WideWalkMaxLevels) {
        FindClose(search);
        return;
    }
    WideWalkLevel* level = &walk->levels[(*depth)++];
    level->search = search;
    level->wideEnd = wideEnd;
    level->shownEnd = shownEnd;
    level->exact = exact;
    level->first = 1;
}

// The listing's entry as an ANSI listing would give it, with the name the
// tool knows it by.
void FillAnsiFindData(const WIN32_FIND_DATAW* found, const char* name, WIN32_FIND_DATAA* ansi) {
    memset(ansi, 0, sizeof(*ansi));
    ansi->dwFileAttributes = found->dwFileAttributes;
    ansi->ftCreationTime = found->ftCreationTime;
    ansi->ftLastAccessTime = found->ftLastAccessTime;
    ansi->ftLastWriteTime = found->ftLastWriteTime;
    ansi->nFileSizeHigh = found->nFileSizeHigh;
    ansi->nFileSizeLow = found->nFileSizeLow;
    ansi->dwReserved0 = found->dwReserved0;
    ansi->dwReserved1 = found->dwReserved1;
    size_t length = strnlen(name, sizeof(ansi->cFileName) - 1);
    memcpy(ansi->cFileName, name, length);
    if (found->cAlternateFileName[0] &&
        WideCharToMultiByte(CP_ACP, 0, found->cAlternateFileName, -1, ansi->cAlternateFileName,
                            sizeof(ansi->cAlternateFileName), nullptr, nullptr) <= 0) {
        ansi->cAlternateFileName[0] = '\0';
    }
}

// One entry of a listing: its name is written in place at the level's ends
// of both paths, so that no path is ever copied per entry.
int HandleEntry(WideWalk* walk, const WideWalkLevel* level, DirectoryCallback callback, WalkedFolders* walked,
                size_t* depth) {
    const WIN32_FIND_DATAW* found = &walk->found;
    int isDirectory = (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    const WCHAR* name = found->cFileName;
    if (isDirectory && IsDotEntry(name)) return 0;
    size_t nameLength = WideLength(name);
    // Past the system's limit nothing can be opened, nor listed.
    if (level->wideEnd + nameLength + (isDirectory ? 2 : 0) + 1 > WideWalkPathUnits) return 0;
    memcpy(walk->wide + level->wideEnd, name, nameLength * sizeof(WCHAR));
    size_t wideEnd = level->wideEnd + nameLength;
    walk->wide[wideEnd] = 0;

    // The ANSI path reaches the entry as itself only when every folder on
    // the way does, every letter has its exact form, the path rules leave
    // the name alone, and it is shorter than MAX_PATH.
    char ansiName[MAX_PATH];
    size_t ansiLength = 0;
    int converted = AnsiNameExactly(name, ansiName, sizeof(ansiName), &ansiLength);
    int exact = level->exact && converted && OpensAsItself(name) && level->shownEnd + ansiLength < MAX_PATH;
    size_t shownEnd = level->shownEnd;
    if (exact) {
        memcpy(walk->shown + shownEnd, ansiName, ansiLength + 1);
        shownEnd += ansiLength;
    } else {
        shownEnd = AppendShownName(name, nameLength, walk->shown, shownEnd, WideWalkShownSize);
    }
    FillAnsiFindData(found, ansiName[0] ? ansiName : walk->shown + level->shownEnd, &walk->foundAnsi);

    if (callback) {
        int stop = callback(walk->shown, &walk->foundAnsi, isDirectory, exact ? nullptr : walk->wide);
        if (stop) return stop;
    }
    if (!isDirectory) return 0;
    walk->wide[wideEnd++] = '\\';
    walk->wide[wideEnd] = 0;
    if (found->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        FilePath folder = {nullptr, walk->wide, walk->shown};
        if (!EntersReparseFolder(&walk->foundAnsi, folder, walk->shown)) return 0;
    }
    if (shownEnd + 2 > WideWalkShownSize) return 0;
    walk->shown[shownEnd++] = '\\';
    Enter(walk, wideEnd, shownEnd, exact, found->dwFileAttributes, walked, depth);
    return 0;
}

}  // namespace

int StartWideWalk(WideWalk* walk) {
    walk->wide = static_cast<WCHAR*>(AllocBuffer(WideWalkPathUnits * sizeof(WCHAR)));
    walk->shown = static_cast<char*>(AllocBuffer(WideWalkShownSize));
    walk->levels = static_cast<WideWalkLevel*>(AllocBuffer(WideWalkMaxLevels * sizeof(WideWalkLevel)));
    if (walk->wide && walk->shown && walk->levels) return 1;
    EndWideWalk(walk);
    return 0;
}

void EndWideWalk(WideWalk* walk) {
    if (walk->wide) FreeBuffer(walk->wide);
    if (walk->shown) FreeBuffer(walk->shown);
    if (walk->levels) FreeBuffer(walk->levels);
    walk->wide = nullptr;
    walk->shown = nullptr;
    walk->levels = nullptr;
}

int WalkWide(WideWalk* walk, const char* folder, DirectoryCallback callback, WalkedFolders* walked) {
    // "\\?\" and the folder: the system takes such a path as it is, up to
    // its own limit, with none of the ANSI calls' path rules.
    static const WCHAR Verbatim[] = {'\\', '\\', '?', '\\'};
    memcpy(walk->wide, Verbatim, sizeof(Verbatim));
    int units = MultiByteToWideChar(CP_ACP, 0, folder, -1, walk->wide + 4, static_cast<int>(WideWalkPathUnits - 4));
    size_t shownEnd = strlen(folder);
    if (units <= 0 || shownEnd + 1 > WideWalkShownSize) {
        ReportUnlooked(UnlookedFolder, folder, units <= 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    memcpy(walk->shown, folder, shownEnd + 1);
    size_t depth = 0;
    Enter(walk, 4 + static_cast<size_t>(units) - 1, shownEnd, 1, 0, walked, &depth);
    int result = 0;
    while (depth > 0 && result == 0) {
        WideWalkLevel* level = &walk->levels[depth - 1];
        if (!level->first && !FindNextFileW(level->search, &walk->found)) {
            DWORD error = GetLastError();
            // Anything but the end of the listing cut it short.
            if (error != ERROR_NO_MORE_FILES) {
                walk->shown[level->shownEnd] = '\0';
                ReportUnlooked("Listing of folder %s ended early, error=%ld\n", walk->shown, error);
            }
            FindClose(level->search);
            --depth;
            continue;
        }
        level->first = 0;
        result = HandleEntry(walk, level, callback, walked, &depth);
    }
    // A callback that stopped the walk leaves the levels above it open.
    while (depth > 0) FindClose(walk->levels[--depth].search);
    return result;
}
