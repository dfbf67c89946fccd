#include "cleanup/worm_file.h"

#include "app/outcome.h"
#include "platform/platform.h"
#include "support/system_queries.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

// Windows 9x: by its path, as it has no links to redirect it. Sets
// *mayBeReadOnly when a file that stays may be read-only.
static ReplaceResult DeleteByPath(const char* path, const LogText& name, bool* mayBeReadOnly) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // A file already gone is nothing to delete; ReplaceFile says so.
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            TraceMsg(TraceModule, TraceAllTypes, TraceError, "Cannot read the attributes of \"%s\", error=%ld\n",
                     name.text, (long)error);
            *mayBeReadOnly = true;
        }
    } else if (attributes & FILE_ATTRIBUTE_READONLY) {
        if (SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
            TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Cleared the read-only attribute of \"%s\"\n",
                     name.text);
        } else {
            // Neither the delete nor the boot's delete takes a read-only
            // file: it would stay for good, whatever the deletion reports.
            TraceMsg(TraceModule, TraceAllTypes, TraceError,
                     "Cannot clear the read-only attribute of \"%s\", error=%ld\n", name.text,
                     (long)GetLastError());
            CountFailure();
        }
    }
    return ReplaceFile("", path, nullptr);
}

ReplaceResult DeleteWormFile(const FilePath& path, const WormCopy* copy) {
    LogText name = Escaped(path.shown);
    bool mayBeReadOnly = false;
    ReplaceResult result;
    // A file that only its wide path reaches was met by the NT family's walk.
    if (path.wide || IsWindowsNT()) {
        MatchedFile matched;
        matched.identity = copy->identity;
        matched.identified = copy->identified;
        matched.stillMatches = IsStillInfected;
        int readOnlyStays = 0;
        result = ReplaceMatchedFile(path, &matched, &readOnlyStays);
        if (readOnlyStays) CountFailure();
    } else {
        result = DeleteByPath(path.ansi, name, &mayBeReadOnly);
    }
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Deleting file \"%s\", result=%d\n", name.text, result);
    // A file left for the boot goes then only if it is not read-only; one
    // whose attributes could not be read may be.
    if (result == ReplacePartlyDone || result == ReplaceFailed || (result == ReplaceScheduled && mayBeReadOnly))
        CountFailure();
    if (result == ReplaceNothingToDo) {
        // The matcher has just read this file, so "does not exist" only means
        // the existence check could not open it: gone is gone only when the
        // system says so.
        DWORD after = path.wide ? GetFileAttributesW(path.wide) : GetFileAttributesA(path.ansi);
        DWORD error = after == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
        if (after != INVALID_FILE_ATTRIBUTES) {
            TraceMsg(TraceModule, TraceAllTypes, TraceError,
                     "Worm file \"%s\" reported missing by the deletion but still there\n", name.text);
            CountFailure();
        } else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            TraceMsg(TraceModule, TraceAllTypes, TraceError,
                     "Worm file \"%s\" reported missing by the deletion but may still be there, error=%ld\n", name.text,
                     (long)error);
            CountFailure();
        }
    }
    return result;
}
