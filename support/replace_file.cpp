#include "support/replace_file.h"

#include <errno.h>
#include <string.h>

#include "platform/platform.h"
#include "support/reboot_rename.h"
#include "support/system_queries.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

static const size_t PathBufferSize = 264;

// Joins directory and name in a path buffer; false when they do not fit.
static bool Compose(const char* directory, const char* name, char (&path)[PathBufferSize]) {
    size_t directoryLength = strlen(directory);
    size_t nameLength = strlen(name);
    if (directoryLength + nameLength + 1 > sizeof(path)) return false;
    memcpy(path, directory, directoryLength);
    memcpy(path + directoryLength, name, nameLength + 1);
    return true;
}

// Paths are names from the disk, written as data.
static void Info(const char* format, const char* path) {
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, format, Escaped(path).text);
}

static void Error(const char* format, const char* path) {
    TraceMsg(TraceModule, TraceAllTypes, TraceError, format, Escaped(path).text);
}

static void Pair(int level, const char* format, const char* source, const char* destination) {
    TraceMsg(TraceModule, TraceAllTypes, level, format, Escaped(source).text, Escaped(destination).text);
}

// remove, and whether a failure was of the access kind (in use, locked,
// read-only), for which the boot may still succeed. errno is taken at once,
// before any trace line can touch it.
static bool Remove(const char* path, bool* accessKind) {
    int failed = CrtRemove(path);
    int error = errno;
    *accessKind = failed != 0 && error == EACCES;
    return failed == 0;
}

static ReplaceResult DeleteOperation(const char* source) {
    Info("[VTSU - ReplaceFile]: Delete operation (%s).\n", source);
    if (!FileExist(source)) {
        Error("[VTSU - ReplaceFile]: Src file does not exist (%s).\n", source);
        return ReplaceNothingToDo;
    }
    Info("[VTSU - ReplaceFile]: Src file exists (%s).\n", source);
    bool accessKind = false;
    if (Remove(source, &accessKind)) {
        Info("[VTSU - ReplaceFile]: File was deleted (%s).\n", source);
        return ReplaceDone;
    }
    Error("[VTSU - ReplaceFile]: Failed to delete the file (%s).\n", source);
    if (!accessKind) {
        Error("[VTSU - ReplaceFile]: File not found or it is a directory (%s).\n", source);
        return ReplaceNothingToDo;
    }
    if (AddFileToAutomaticRenameList(source, nullptr)) {
        Info("[VTSU - ReplaceFile]: File will be deleted during reboot (%s).\n", source);
        return ReplaceScheduled;
    }
    Error("[VTSU - ReplaceFile]: File cannot be deleted during reboot (%s).\n", source);
    return ReplaceFailed;
}

static ReplaceResult RenameOperation(const char* source, const char* destination) {
    Pair(TraceInfo, "[VTSU - ReplaceFile]: Rename operation (%s -> %s).\n", source, destination);
    if (!FileExist(source)) {
        Error("[VTSU - ReplaceFile]: Src file does not exist (%s).\n", source);
        return ReplaceNothingToDo;
    }
    Info("[VTSU - ReplaceFile]: Src file exists (%s).\n", source);

    bool destinationExisted = false;
    if (FileExist(destination)) {
        Info("[VTSU - ReplaceFile]: Dest file exists (%s).\n", destination);
        destinationExisted = true;
        bool accessKind = false;
        if (Remove(destination, &accessKind)) {
            Info("[VTSU - ReplaceFile]: Dest file deleted (%s).\n", destination);
        } else {
            Error("[VTSU - ReplaceFile]: Failed to delete the file (%s).\n", destination);
            if (!accessKind) {
                Error("[VTSU - ReplaceFile]: Dest file is a directory (%s).\n", destination);
                return ReplaceFailed;
            }
            // The destination is held: both steps go to the boot, the
            // deletion first, then the rename onto the freed name.
            if (!AddFileToAutomaticRenameList(destination, nullptr)) {
                Error("[VTSU - ReplaceFile]: File cannot be deleted during reboot (%s).\n", destination);
                return ReplaceFailed;
            }
            Info("[VTSU - ReplaceFile]: File will be deleted during reboot (%s).\n", destination);
            if (AddFileToAutomaticRenameList(source, destination)) {
                Info("[VTSU - ReplaceFile]: Src file will be deleted during reboot (%s).\n", source);
                return ReplaceScheduled;
            }
            Error("[VTSU - ReplaceFile]: Src file cannot be deleted during reboot (%s).\n", source);
            return ReplacePartlyDone;
        }
    }

    if (CrtRename(source, destination) == 0) {
        Pair(TraceInfo, "[VTSU - ReplaceFile]: Src file was successfully renamed (%s -> %s).\n", source,
             destination);
        return ReplaceDone;
    }
    Error("[VTSU - ReplaceFile]: Failed to rename the source file (%s).\n", source);
    if (AddFileToAutomaticRenameList(source, destination)) {
        Pair(TraceInfo, "[VTSU - ReplaceFile]: Src file will be renamed during reboot(%s -> %s).\n", source,
             destination);
        return ReplaceScheduled;
    }
    Pair(TraceError, "[VTSU - ReplaceFile]: Src file cannot be renamed during reboot(%s -> %s).\n", source,
         destination);
    return destinationExisted ? ReplacePartlyDone : ReplaceFailed;
}

ReplaceResult ReplaceFile(const char* directory, const char* name, const char* newName) {
    char source[PathBufferSize];
    char destination[PathBufferSize];
    // A combination too long for the buffers is refused before anything is
    // written to them or done to a file.
    const char* tooLong = !Compose(directory, name, source)                           ? name
                          : newName && !Compose(directory, newName, destination) ? newName
                                                                                 : nullptr;
    if (tooLong) {
        Pair(TraceError, "[VTSU - ReplaceFile]: Path is too long (%s%s).\n", directory, tooLong);
        return ReplaceFailed;
    }
    if (!newName) return DeleteOperation(source);
    return RenameOperation(source, destination);
}
