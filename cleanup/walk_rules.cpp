#include "cleanup/walk_rules.h"

#include <string.h>

#include "app/outcome.h"
#include "cleanup/disk_sweep.h"
#include "support/system_library.h"
#include "trace/log_text.h"
#include "trace/trace_log.h"

const char UnlookedFolder[] = "Cannot look into folder %s, error=%ld\n";
const char UncheckedFile[] = "Cannot check file %s, error=%ld\n";

void ReportUnlooked(const char* format, const char* shown, DWORD error) {
    TraceMsg(TraceModule, TraceAllTypes, TraceError, format, Escaped(shown).text, (long)error);
    CountFailure();
}

int IsPassedOver(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void ReportPassedOver(const char* shown, DWORD error) {
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, UnlookedFolder, Escaped(shown).text, (long)error);
}

namespace {

// A reparse point whose tag has this bit stands for another name: a junction,
// a volume mount point (the same tag) or a symbolic link.
const DWORD NameSurrogateTag = 0x20000000;

typedef BOOL(WINAPI* VolumeNameAFunction)(LPCSTR mountPoint, LPSTR volumeName, DWORD size);
typedef BOOL(WINAPI* VolumeNameWFunction)(const WCHAR* mountPoint, WCHAR* volumeName, DWORD size);

// The name of the volume at a mount point or drive root (ending with a
// backslash), in ANSI; 0 when it is none, or the call is missing (before
// Windows 2000).
int VolumeNameOf(const FilePath& mountPoint, char* volume, DWORD size) {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    if (!kernel) return 0;
    if (!mountPoint.wide) {
        VolumeNameAFunction nameOf = BindFunction<VolumeNameAFunction>(kernel, "GetVolumeNameForVolumeMountPointA");
        return nameOf && nameOf(mountPoint.ansi, volume, size) ? 1 : 0;
    }
    VolumeNameWFunction nameOf = BindFunction<VolumeNameWFunction>(kernel, "GetVolumeNameForVolumeMountPointW");
    WCHAR wide[64];
    if (!nameOf || !nameOf(mountPoint.wide, wide, sizeof(wide) / sizeof(wide[0]))) return 0;
    // "\\?\Volume{GUID}\": ASCII alone.
    size_t i = 0;
    for (; wide[i] && i + 1 < size; ++i) volume[i] = static_cast<char>(wide[i] < 0x80 ? wide[i] : '?');
    volume[i] = '\0';
    return 1;
}

// 1 when the folder is a volume mount point of a local fixed disk without a
// drive letter of its own: no drive root leads to its files, so they are
// walked here or nowhere.
int IsLetterlessFixedVolume(const FilePath& folder) {
    char volume[64];
    if (!VolumeNameOf(folder, volume, sizeof(volume)) || GetDriveTypeA(volume) != DRIVE_FIXED) return 0;
    char drives[DriveListBufferSize];
    memset(drives, 0, sizeof(drives));
    DWORD length = GetLogicalDriveStringsA(sizeof(drives), drives);
    if (length == 0 || length >= sizeof(drives)) return 0;  // it may have a letter: walked there
    for (size_t at = 0; at < sizeof(drives) && drives[at]; at += strnlen(drives + at, sizeof(drives) - at) + 1) {
        char other[64];
        if (VolumeNameOf(AnsiFilePath(drives + at), other, sizeof(other)) && strcmp(other, volume) == 0) return 0;
    }
    return 1;
}

// What the file system calls the folder. The handle asks for no access, which
// is enough to read the identity even of a folder whose listing is refused.
// Windows 9x opens no folder at all; its disks have no links either.
int ReadFolderId(const FilePath& folder, FolderId* id, DWORD* error) {
    HANDLE handle = OpenFilePath(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    int known = ReadFileIdentity(handle, id, nullptr, error);
    CloseHandle(handle);
    return known;
}

}  // namespace

int EntersReparseFolder(const WIN32_FIND_DATAA* found, const FilePath& folder, const char* shown) {
    // A junction or symbolic link may lead anywhere: to another volume, a
    // removable disk, another machine's share (where our credentials would
    // go). What it leads to on the fixed disks is walked where it is.
    DWORD tag = found->dwReserved0;
    if (!(found->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || (tag != 0 && !(tag & NameSurrogateTag))) return 1;
    if (tag == static_cast<DWORD>(IO_REPARSE_TAG_MOUNT_POINT) && IsLetterlessFixedVolume(folder)) return 1;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo,
             "Folder %s is a link, not entered: what it leads to is walked where it is\n", Escaped(shown).text);
    return 0;
}

int MayEnterFolder(const FilePath& folder, DWORD attributes, WalkedFolders* walked, FolderVisit* visit) {
    // A link that the listing does not mark and that leads back up the tree
    // would have the walk go round and round, each time deeper, and a
    // folder reached by two roads would be walked twice: each folder is
    // entered once, by the first road the walk comes to.
    DWORD error = 0;
    visit->known = ReadFolderId(folder, &visit->id, &error);
    if (visit->known && HasWalked(walked, visit->id)) {
        TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Folder %s leads to one walked already, not entered again\n",
                 Escaped(folder.shown).text);
        return 0;
    }
    // Without its identity a mount point cannot be told from one that closes
    // a loop, so it is not entered. One that leads nowhere, or is refused to
    // us, would not list either.
    if (!visit->known && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (IsPassedOver(error)) {
            ReportPassedOver(folder.shown, error);
        } else {
            ReportUnlooked(UnlookedFolder, folder.shown, error);
        }
        return 0;
    }
    return 1;
}

int RememberEnteredFolder(const FilePath& folder, WalkedFolders* walked, const FolderVisit* visit) {
    // Remembered only once it lists: a junction refused to us must not keep
    // the real folder behind it from being walked by its own path.
    if (visit->known && !RememberWalked(walked, visit->id)) {
        ReportUnlooked(UnlookedFolder, folder.shown, ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return 1;
}
