#include "support/replace_file.h"

#include <errno.h>
#include <string.h>

#include "platform/platform.h"
#include "support/boot_path.h"
#include "support/handle_delete.h"
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

// ---- a file the caller matched -------------------------------------------

// A file held now goes at the boot, by its path: only when nobody but
// administrators can make that path lead elsewhere before then.
static ReplaceResult ScheduleMatched(const FilePath& source) {
    char folder[MAX_PATH];
    DWORD error = 0;
    if (const char* why = WhyBootPathUnsafe(source, folder, sizeof(folder), &error)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError,
                 "File %s is not left for the next boot: folder %s %s, error=%ld\n", Escaped(source.shown).text,
                 Escaped(folder).text, why, (long)error);
        Error("[VTSU - ReplaceFile]: File cannot be deleted during reboot (%s).\n", source.shown);
        return ReplaceFailed;
    }
    int scheduled = source.wide ? AddFileToAutomaticDeleteListWide(source.wide)
                                : AddFileToAutomaticRenameList(source.ansi, nullptr);
    if (scheduled) {
        Info("[VTSU - ReplaceFile]: File will be deleted during reboot (%s).\n", source.shown);
        return ReplaceScheduled;
    }
    Error("[VTSU - ReplaceFile]: File cannot be deleted during reboot (%s).\n", source.shown);
    return ReplaceFailed;
}

// The handle is on the file that matched, and the file still matches.
static int IsTheMatchedFile(HANDLE file, const char* shown, const MatchedFile* matched, DWORD* attributes) {
    FileIdentity identity;
    DWORD error = 0;
    if (!matched->identified || !ReadFileIdentity(file, &identity, attributes, &error)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError,
                 "File %s cannot be told to be the file that matched, error=%ld: it is left alone\n",
                 Escaped(shown).text, (long)(matched->identified ? error : ERROR_INVALID_HANDLE));
        return 0;
    }
    if (!SameFileIdentity(identity, matched->identity)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError,
                 "File %s is not the file that matched (another file is at its path now): it is left alone\n",
                 Escaped(shown).text);
        return 0;
    }
    if (!matched->stillMatches(file)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceError,
                 "File %s no longer matches (its contents changed): it is left alone\n", Escaped(shown).text);
        return 0;
    }
    return 1;
}

// No delete takes a read-only file, not even the boot's: the attribute goes
// first, through the handle that was checked.
static void ClearReadOnly(HANDLE file, const char* shown, DWORD attributes, int* readOnlyStays) {
    if (!(attributes & FILE_ATTRIBUTE_READONLY)) return;
    DWORD error = 0;
    if (SetAttributesOfOpenFile(file, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), &error)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Cleared the read-only attribute of \"%s\"\n",
                 Escaped(shown).text);
    } else {
        TraceMsg(TraceModule, TraceAllTypes, TraceError, "Cannot clear the read-only attribute of \"%s\", error=%ld\n",
                 Escaped(shown).text, (long)error);
        *readOnlyStays = 1;
    }
}

// A file in use cannot be opened to be deleted, but it can still be opened
// to be looked at and to have its attributes changed by anyone who may read
// it: it goes to the boot only as the file that matched, and not read-only.
// One that cannot be opened even so goes on its path alone.
static ReplaceResult ScheduleHeld(const FilePath& source, const MatchedFile* matched, int* readOnlyStays) {
    DWORD error = 0;
    HANDLE file = OpenFileToInspect(source, &error);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD attributes = 0;
        if (!IsTheMatchedFile(file, source.shown, matched, &attributes)) {
            CloseHandle(file);
            return ReplaceFailed;
        }
        ClearReadOnly(file, source.shown, attributes, readOnlyStays);
        CloseHandle(file);
    }
    return ScheduleMatched(source);
}

static ReplaceResult DeleteMatchedNT(const FilePath& source, const MatchedFile* matched, int* readOnlyStays) {
    Info("[VTSU - ReplaceFile]: Delete operation (%s).\n", source.shown);
    if (!FileExistAt(source)) {
        Error("[VTSU - ReplaceFile]: Src file does not exist (%s).\n", source.shown);
        return ReplaceNothingToDo;
    }
    Info("[VTSU - ReplaceFile]: Src file exists (%s).\n", source.shown);
    DWORD error = 0;
    HANDLE file = OpenFileToDelete(source, &error);
    if (file == INVALID_HANDLE_VALUE) {
        // In use without delete sharing, or refused: the boot may do it.
        Error("[VTSU - ReplaceFile]: Failed to delete the file (%s).\n", source.shown);
        if (!IsHeldFileError(error)) {
            Error("[VTSU - ReplaceFile]: File not found or it is a directory (%s).\n", source.shown);
            return ReplaceNothingToDo;
        }
        return ScheduleHeld(source, matched, readOnlyStays);
    }
    DWORD attributes = 0;
    if (!IsTheMatchedFile(file, source.shown, matched, &attributes)) {
        CloseHandle(file);
        return ReplaceFailed;
    }
    ClearReadOnly(file, source.shown, attributes, readOnlyStays);
    int deleted = DeleteOpenFile(file, &error);
    // The deletion is carried out as the handle closes.
    CloseHandle(file);
    if (deleted) {
        Info("[VTSU - ReplaceFile]: File was deleted (%s).\n", source.shown);
        return ReplaceDone;
    }
    Error("[VTSU - ReplaceFile]: Failed to delete the file (%s).\n", source.shown);
    if (!IsHeldFileError(error)) {
        Error("[VTSU - ReplaceFile]: File not found or it is a directory (%s).\n", source.shown);
        return ReplaceNothingToDo;
    }
    // A running program's image: checked already, its path goes to the boot.
    return ScheduleMatched(source);
}

ReplaceResult ReplaceMatchedFile(const FilePath& path, const MatchedFile* matched, int* readOnlyStays) {
    *readOnlyStays = 0;
    // A file that only its wide path reaches was met by the NT family's walk.
    if (path.wide) return DeleteMatchedNT(path, matched, readOnlyStays);
    if (!IsWindowsNT()) return ReplaceFile("", path.ansi, nullptr);
    char source[PathBufferSize];
    if (!Compose("", path.ansi, source)) {
        Error("[VTSU - ReplaceFile]: Path is too long (%s).\n", path.ansi);
        return ReplaceFailed;
    }
    return DeleteMatchedNT(AnsiFilePath(source), matched, readOnlyStays);
}
