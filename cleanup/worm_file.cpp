#include "cleanup/worm_file.h"

#include "app/outcome.h"
#include "platform/platform.h"
#include "trace/trace_log.h"

ReplaceResult DeleteWormFile(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        if (SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
            TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Cleared the read-only attribute of \"%s\"\n",
                     path);
        } else {
            // Neither the delete nor the boot's delete takes a read-only
            // file: it would stay for good, whatever the deletion reports.
            TraceMsg(TraceModule, TraceAllTypes, TraceError,
                     "Cannot clear the read-only attribute of \"%s\", error=%ld\n", path, (long)GetLastError());
            CountFailure();
        }
    }
    ReplaceResult result = ReplaceFile("", path, nullptr);
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Deleting file \"%s\", result=%d\n", path, result);
    if (result == ReplacePartlyDone || result == ReplaceFailed) CountFailure();
    return result;
}
