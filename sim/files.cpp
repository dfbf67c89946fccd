// The file system of the simulated workstation: opening, reading, deleting,
// moving and listing files, with Windows' sharing rules and error codes.
#include <string.h>

#include "sim/code_page.h"
#include "sim/file_rules.h"
#include "sim/scanner.h"
#include "sim/workstation.h"

using sim::Current;

namespace sim {

bool Workstation::IsOpen(const FileNode* node) const {
    for (const HandleEntry& entry : handles) {
        if (entry.kind == HandleKind::File && entry.node == node) return true;
    }
    return false;
}

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsShortChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr("!#$%&'()-@^_`{}~", c);
}

// A name that is already a valid 8.3 name keeps its spelling, as on NTFS.
bool IsValidShortName(const std::string& name) {
    size_t dot = name.find('.');
    std::string base = name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
    if (ext.find('.') != std::string::npos) return false;
    for (char c : base + ext) {
        if (!IsShortChar(Upper(c))) return false;
    }
    return true;
}

}  // namespace

const std::string& Workstation::EnsureShortName(FileNode* node) {
    if (!node->shortName.empty() || !node->parent || IsValidShortName(node->name)) {
        return node->shortName.empty() ? node->name : node->shortName;
    }
    // BASE~N.EXT from the first six usable characters, as Windows makes them.
    std::string base, ext;
    size_t dot = node->name.find_last_of('.');
    for (size_t i = 0; i < node->name.size() && i != dot; ++i) {
        char c = Upper(node->name[i]);
        if (c == '.' || c == ' ') continue;
        base += IsShortChar(c) ? c : '_';
    }
    if (dot != std::string::npos) {
        for (size_t i = dot + 1; i < node->name.size() && ext.size() < 3; ++i) {
            char c = Upper(node->name[i]);
            if (c == ' ') continue;
            ext += IsShortChar(c) ? c : '_';
        }
    }
    if (base.size() > 6) base.resize(6);
    if (base.empty()) base = "FILE";
    for (int n = 1;; ++n) {
        std::string candidate = base + "~" + std::to_string(n) + (ext.empty() ? "" : "." + ext);
        bool taken = false;
        for (auto& sibling : node->parent->children) {
            FileNode* other = sibling.second.get();
            if (other == node) continue;
            if (NoCaseEqual(other->shortName.empty() ? other->name : other->shortName, candidate)) {
                taken = true;
                break;
            }
        }
        if (!taken) {
            node->shortName = candidate;
            return node->shortName;
        }
    }
}

// A new opener's access and sharing must agree with every handle already open.
DWORD SharingConflict(const Workstation& ws, const FileNode* node, DWORD access, DWORD share) {
    auto conflicts = [&](DWORD oldAccess, DWORD oldShare) {
        bool reads = access & GENERIC_READ, writes = access & GENERIC_WRITE,
             deletes = access & kDeleteAccess;
        bool oldReads = oldAccess & GENERIC_READ, oldWrites = oldAccess & GENERIC_WRITE,
             oldDeletes = oldAccess & kDeleteAccess;
        if ((reads && !(oldShare & FILE_SHARE_READ)) || (writes && !(oldShare & FILE_SHARE_WRITE)) ||
            (deletes && !(oldShare & FILE_SHARE_DELETE)))
            return true;
        return (oldReads && !(share & FILE_SHARE_READ)) || (oldWrites && !(share & FILE_SHARE_WRITE)) ||
               (oldDeletes && !(share & FILE_SHARE_DELETE));
    };
    // The helper process holding a file has it open for reading.
    if (node->held && conflicts(GENERIC_READ, node->heldShare)) return ERROR_SHARING_VIOLATION;
    for (const HandleEntry& entry : ws.handles) {
        if (entry.kind == HandleKind::File && entry.node == node &&
            conflicts(entry.access, entry.share))
            return ERROR_SHARING_VIOLATION;
    }
    return 0;
}

DWORD MissingError(Workstation& ws, std::string_view path) {
    std::string leaf;
    return ws.FindParent(path, &leaf) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD CanDelete(Workstation& ws, FileNode* node) {
    if (node->directory || (node->attributes & FILE_ATTRIBUTE_READONLY)) return ERROR_ACCESS_DENIED;
    // A running program's image cannot be deleted on NT.
    for (const Process& process : ws.processes) {
        if (process.running && process.holdsExe && ws.Find(process.exePath) == node)
            return ERROR_ACCESS_DENIED;
    }
    if (ws.IsOpen(node)) return ERROR_SHARING_VIOLATION;
    return SharingConflict(ws, node, kDeleteAccess, FILE_SHARE_READ | FILE_SHARE_WRITE);
}

DWORD OpenFile(Workstation& ws, std::string_view path, DWORD access, DWORD share,
               DWORD disposition, HANDLE* handle) {
    FileNode* node = ws.Find(path);
    if (node && node->directory) return ERROR_ACCESS_DENIED;
    // Windows refuses every open of a file whose deletion is pending.
    if (node && node->deletePending) return ERROR_ACCESS_DENIED;
    if (node) {
        if (disposition == CREATE_NEW) return ERROR_FILE_EXISTS;
        if ((access & GENERIC_WRITE) && (node->attributes & FILE_ATTRIBUTE_READONLY))
            return ERROR_ACCESS_DENIED;
        if (DWORD conflict = SharingConflict(ws, node, access, share)) return conflict;
        if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) node->data.clear();
    } else {
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return MissingError(ws, path);
        std::string leaf;
        FileNode* parent = ws.FindParent(path, &leaf);
        if (!parent || leaf.empty()) return ERROR_PATH_NOT_FOUND;
        auto& slot = parent->children[std::string(leaf)];
        slot = std::make_unique<FileNode>();
        slot->name = std::string(leaf);
        slot->parent = parent;
        node = slot.get();
    }
    HandleEntry entry;
    entry.kind = HandleKind::File;
    entry.node = node;
    entry.access = access;
    entry.share = share;
    *handle = ws.NewHandle(entry);
    return 0;
}

}  // namespace sim

namespace {

// CreateFileA's and CreateFileW's work once the path is a model path.
HANDLE CreateFileAt(const char* path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                    DWORD disposition, DWORD flags) {
    sim::Workstation& ws = Current();
    DWORD error = 0;
    // A descriptor applies only to a file that the call makes. (Find, which
    // makes no copy of an absolute path: the benchmark counts allocations.)
    const sim::FileNode* lastLink = nullptr;
    sim::FileNode* existing = ws.Find(path, &lastLink);
    bool nt = ws.platformId == VER_PLATFORM_WIN32_NT;
    if (lastLink && (lastLink->attributes & FILE_ATTRIBUTE_REPARSE_POINT) && nt) {
        if (flags & FILE_FLAG_OPEN_REPARSE_POINT) {
            // The link itself, not what it leads to.
            existing = const_cast<sim::FileNode*>(lastLink);
        } else if (!lastLink->remoteTarget.empty()) {
            ws.remoteReached.emplace_back(path);
        }
    }
    bool existed = existing != nullptr;
    HANDLE handle = INVALID_HANDLE_VALUE;
    sim::FileNode* folder = existing;
    if (folder && folder->directory && (flags & FILE_FLAG_BACKUP_SEMANTICS) && nt &&
        disposition == OPEN_EXISTING) {
        // NT opens a folder itself, to read what it is; Windows 9x opens none.
        sim::HandleEntry entry;
        entry.kind = sim::HandleKind::Folder;
        entry.node = folder;
        entry.access = access;
        entry.share = share;
        SetLastError(0);
        return ws.NewHandle(entry);
    }
    if (strcmp(path, "\\\\.\\NUL") == 0) {
        // A file's name that Win32's rules take for a device ("nul.exe"):
        // what is opened is the device, which reads as empty.
        sim::HandleEntry entry;
        entry.kind = sim::HandleKind::File;
        entry.node = &ws.nullDevice;
        entry.access = access;
        entry.share = share;
        SetLastError(0);
        return ws.NewHandle(entry);
    }
    if (sim::IsDevicePath(path)) {
        error = sim::OpenDevice(ws, path, access, share, disposition, flags, &handle);
    } else if (existing && existing->directory) {
        error = ERROR_ACCESS_DENIED;  // a folder is no file, not even a link to one
    } else {
        error = sim::OpenFile(ws, path, access, share, disposition, &handle);
    }
    if (error) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (!existed && security) {
        sim::ApplyFileSecurity(ws.Lookup(handle, sim::HandleKind::File)->node, security);
    }
    // As Windows says that OPEN_ALWAYS and CREATE_ALWAYS found the file there.
    SetLastError(existed && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS : 0);
    return handle;
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    SIM_FAILABLE(INVALID_HANDLE_VALUE);
    if (!path || templateFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string seen;
    return CreateFileAt(Current().SeenPath(path, &seen).data(), access, share, security, disposition, flags);
}

HANDLE WINAPI CreateFileW(const WCHAR* path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile) {
    SIM_FAILABLE(INVALID_HANDLE_VALUE);
    if (!path || templateFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Kept from call to call: the sweep opens every folder and many files
    // by wide paths, and the benchmark counts allocations.
    static std::string seen;
    return CreateFileAt(Current().SeenWidePath(path, &seen).data(), access, share, security, disposition, flags);
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(file, sim::HandleKind::File);
    if (!entry) entry = ws.Lookup(file, sim::HandleKind::Folder);
    if (!entry || !information) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    sim::FileNode* node = entry->node;
    if (node == &ws.nullDevice) {
        SetLastError(ERROR_INVALID_FUNCTION);  // a device has no file index
        return FALSE;
    }
    const sim::FileNode* root = node;
    while (root->parent) root = root->parent;
    sim::Drive& drive = ws.drives[root->name[0]];
    if (node->fileIndex == 0) node->fileIndex = drive.nextFileIndex++;
    memset(information, 0, sizeof(*information));
    information->dwFileAttributes =
        node->attributes | (node->directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    information->dwVolumeSerialNumber = drive.serial;
    information->nFileIndexLow = node->fileIndex;
    uint64_t size = node->directory ? 0 : node->data.size();
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    information->nNumberOfLinks = 1 + static_cast<DWORD>(node->otherNames.size());
    SetLastError(0);
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
    SIM_FAILABLE(INVALID_SET_FILE_POINTER);
    sim::HandleEntry* entry = Current().Lookup(file, sim::HandleKind::File);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t move = distanceHigh ? (static_cast<int64_t>(*distanceHigh) << 32) |
                                      static_cast<uint32_t>(distance)
                                : static_cast<int64_t>(distance);
    int64_t base = method == FILE_BEGIN     ? 0
                   : method == FILE_CURRENT ? static_cast<int64_t>(entry->position)
                                            : static_cast<int64_t>(entry->node->data.size());
    int64_t target = base + move;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    entry->position = static_cast<uint64_t>(target);
    if (distanceHigh) *distanceHigh = static_cast<LONG>(target >> 32);
    SetLastError(0);
    return static_cast<DWORD>(target & 0xFFFFFFFF);
}

// A fault with error 0 makes a short read: half of what was asked, and success.
namespace {

// The open file behind a handle for ReadFile and WriteFile, which need the
// given access; nullptr with the last error set when there is none.
sim::HandleEntry* TransferEntry(HANDLE file, LPOVERLAPPED overlapped, DWORD access) {
    sim::HandleEntry* entry = Current().Lookup(file, sim::HandleKind::File);
    if (!entry || overlapped) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((entry->access & access) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return entry;
}

}  // namespace

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read,
                     LPOVERLAPPED overlapped) {
    SIM_FAULT(fault, error);
    if (read) *read = 0;
    if (fault && error) {
        SetLastError(error);
        return FALSE;
    }
    sim::HandleEntry* entry = TransferEntry(file, overlapped, GENERIC_READ);
    if (!entry) return FALSE;
    const std::vector<uint8_t>& data = entry->node->data;
    uint64_t available = entry->position < data.size() ? data.size() - entry->position : 0;
    DWORD count = static_cast<DWORD>(available < toRead ? available : toRead);
    if (fault) count /= 2;
    if (count) memcpy(buffer, data.data() + entry->position, count);
    entry->position += count;
    if (read) *read = count;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      LPOVERLAPPED overlapped) {
    SIM_FAULT(fault, error);
    if (written) *written = 0;
    if (fault) {
        SetLastError(error);
        return FALSE;
    }
    sim::HandleEntry* entry = TransferEntry(file, overlapped, GENERIC_WRITE);
    if (!entry) return FALSE;
    std::vector<uint8_t>& data = entry->node->data;
    if (data.size() < entry->position + toWrite) data.resize(entry->position + toWrite);
    if (toWrite) memcpy(data.data() + entry->position, buffer, toWrite);
    entry->position += toWrite;
    if (written) *written = toWrite;
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
    SIM_FAILABLE(FALSE);
    DWORD error = 0;
    sim::Workstation& ws = Current();
    std::string redirected;
    path = ws.SeenPath(path, &redirected).data();
    // The name goes: a hard link's other names keep the file.
    sim::FileNode* node = ws.Find(path) ? ws.FindName(path) : nullptr;
    if (!node) {
        SetLastError(sim::MissingError(ws, path));
        return FALSE;
    }
    if ((error = sim::CanDelete(ws, node->sameFile ? node->sameFile : node)) != 0) {
        SetLastError(error);
        return FALSE;
    }
    ws.RemoveNode(node);
    SetLastError(0);
    return TRUE;
}

namespace sim {

// Moves a file or directory now, between two model paths; MoveFileA and the
// immediate MoveFileEx, the boot's moves, and the builders.
DWORD MoveNow(Workstation& ws, std::string_view from, std::string_view to, bool replace) {
    // A name is moved: a hard link's own entry, not the file's other names.
    FileNode* file = ws.Find(from);
    if (!file) return MissingError(ws, from);
    FileNode* node = ws.FindName(from);
    std::string leaf;
    FileNode* parent = ws.FindParent(to, &leaf);
    if (!parent || leaf.empty()) return ERROR_PATH_NOT_FOUND;
    FileNode* existing = ws.Find(to) ? ws.FindName(to) : nullptr;
    if (existing == node) return 0;
    if (existing) {
        if (!replace) return ERROR_ALREADY_EXISTS;
        if (existing->directory) return ERROR_ACCESS_DENIED;
        if (DWORD refused = CanDelete(ws, existing->sameFile ? existing->sameFile : existing)) return refused;
    }
    if (ws.IsOpen(file)) return ERROR_SHARING_VIOLATION;
    if (DWORD conflict = SharingConflict(ws, file, kDeleteAccess, FILE_SHARE_READ | FILE_SHARE_WRITE))
        return conflict;
    for (FileNode* up = parent; up; up = up->parent) {
        if (up == node) return ERROR_ACCESS_DENIED;  // into itself
    }
    if (node->directory && ws.PathOf(parent).substr(0, 2) != ws.PathOf(node).substr(0, 2))
        return ERROR_NOT_SAME_DEVICE;
    std::string newName(leaf);
    if (existing) ws.RemoveNode(existing);
    std::unique_ptr<FileNode> taken;
    for (auto it = node->parent->children.begin(); it != node->parent->children.end(); ++it) {
        if (it->second.get() == node) {
            taken = std::move(it->second);
            node->parent->children.erase(it);
            break;
        }
    }
    taken->name = newName;
    taken->shortName.clear();
    taken->parent = parent;
    parent->children[newName] = std::move(taken);
    return 0;
}

}  // namespace sim

BOOL WINAPI MoveFileA(LPCSTR existing, LPCSTR newPath) {
    SIM_FAILABLE(FALSE);
    DWORD error = 0;
    sim::Workstation& ws = Current();
    std::string seenFrom, seenTo;
    error = sim::MoveNow(ws, ws.SeenPath(existing, &seenFrom), ws.SeenPath(newPath, &seenTo), false);
    SetLastError(error);
    return error ? FALSE : TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR newPath, BOOL failIfExists) {
    SIM_FAILABLE(FALSE);
    DWORD error = 0;
    sim::Workstation& ws = Current();
    std::string redirectedFrom, redirectedTo;
    existing = ws.SeenPath(existing, &redirectedFrom).data();
    newPath = ws.SeenPath(newPath, &redirectedTo).data();
    sim::FileNode* source = ws.Find(existing);
    if (!source) {
        SetLastError(sim::MissingError(ws, existing));
        return FALSE;
    }
    if (source->directory) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if ((error = sim::SharingConflict(ws, source, GENERIC_READ, FILE_SHARE_READ)) != 0) {
        SetLastError(error);
        return FALSE;
    }
    sim::FileNode* target = ws.Find(newPath);
    if (target && failIfExists) {
        SetLastError(ERROR_FILE_EXISTS);
        return FALSE;
    }
    if (target && (target->directory || (target->attributes & FILE_ATTRIBUTE_READONLY))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    error = sim::OpenFile(ws, newPath, GENERIC_WRITE, 0, CREATE_ALWAYS, &handle);
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    sim::HandleEntry* entry = ws.Lookup(handle, sim::HandleKind::File);
    entry->node->data = source->data;
    entry->node->attributes = source->attributes | FILE_ATTRIBUTE_ARCHIVE;
    ws.FreeHandle(handle);
    SetLastError(0);
    return TRUE;
}

namespace {

DWORD AttributesAt(sim::Workstation& ws, const char* path) {
    sim::FileNode* node = ws.Find(path);
    if (!node) {
        SetLastError(sim::MissingError(ws, path));
        return INVALID_FILE_ATTRIBUTES;
    }
    return node->attributes | (node->directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
}

}  // namespace

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
    SIM_FAILABLE(INVALID_FILE_ATTRIBUTES);
    sim::Workstation& ws = Current();
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string seen;
    return AttributesAt(ws, ws.SeenPath(path, &seen).data());
}

DWORD WINAPI GetFileAttributesW(const WCHAR* path) {
    SIM_FAILABLE(INVALID_FILE_ATTRIBUTES);
    sim::Workstation& ws = Current();
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    static std::string seen;  // as CreateFileW's
    return AttributesAt(ws, ws.SeenWidePath(path, &seen).data());
}

// Sets the attributes that a file may carry; the folder bit is its own.
BOOL WINAPI SetFileAttributesA(LPCSTR path, DWORD attributes) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    std::string redirected;
    path = ws.SeenPath(path, &redirected).data();
    sim::FileNode* node = ws.Find(path);
    if (!node) {
        SetLastError(sim::MissingError(ws, path));
        return FALSE;
    }
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE;
    DWORD kept = node->attributes & ~settable;
    node->attributes = kept | (attributes & settable);
    return TRUE;
}

DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
    SIM_FAILABLE(0);
    sim::Workstation& ws = Current();
    std::string redirected;
    longPath = ws.SeenPath(longPath, &redirected).data();
    sim::FileNode* node = ws.Find(longPath);
    if (!node) {
        SetLastError(sim::MissingError(ws, longPath));
        return 0;
    }
    for (sim::FileNode* n = node; n->parent; n = n->parent) ws.EnsureShortName(n);
    std::string text = ws.ShortPathOf(node);
    if (text.size() + 1 > size) return static_cast<DWORD>(text.size() + 1);
    memcpy(shortPath, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

DWORD WINAPI GetLogicalDriveStringsA(DWORD size, LPSTR buffer) {
    SIM_FAILABLE(0);
    sim::Workstation& ws = Current();
    std::string list;
    for (auto& drive : ws.drives) {
        if (!drive.second.hasLetter) continue;
        list += drive.first;
        list += ":\\";
        list += '\0';
    }
    if (list.size() + 1 > size) return static_cast<DWORD>(list.size() + 1);
    memcpy(buffer, list.data(), list.size());
    buffer[list.size()] = '\0';
    return static_cast<DWORD>(list.size());
}

UINT WINAPI GetDriveTypeA(LPCSTR root) {
    SIM_COUNTED();
    sim::Workstation& ws = Current();
    if (root && strncmp(root, "\\\\?\\Volume{", 11) == 0) {
        // A volume by its name, as GetVolumeNameForVolumeMountPointA gives it.
        for (auto& drive : ws.drives) {
            if (sim::VolumeName(drive.first) == root) return drive.second.type;
        }
    }
    if (!root || !root[0] || root[1] != ':') return DRIVE_NO_ROOT_DIR;
    char letter = root[0] >= 'a' && root[0] <= 'z' ? static_cast<char>(root[0] - 32) : root[0];
    auto it = ws.drives.find(letter);
    return it == ws.drives.end() ? static_cast<UINT>(DRIVE_NO_ROOT_DIR) : it->second.type;
}

namespace {

// What both listings say of an entry, but its names.
template <typename FindData>
void FillCommon(const sim::FileNode* node, FindData* data) {
    memset(data, 0, sizeof(*data));
    if (node->sameFile) node = node->sameFile;  // a hard link shows its file
    data->dwFileAttributes = node->attributes | (node->directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    // Windows puts a reparse point's tag here.
    if (node->attributes & FILE_ATTRIBUTE_REPARSE_POINT) data->dwReserved0 = node->reparseTag;
    uint64_t size = node->directory ? 0 : node->data.size();
    data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
}

// The 8.3 name the listing shows beside a long one: none on a volume that
// makes none, for "." and "..", or where the name is 8.3 already.
const std::string* AliasOf(sim::Workstation& ws, const sim::HandleEntry* search, sim::FileNode* node,
                           const char* name) {
    if (name[0] == '.' || node->noShortName || !search->shortNames) return nullptr;
    const std::string& alias = ws.EnsureShortName(node);
    return alias != node->name ? &alias : nullptr;
}

// The ANSI listing: names in the code page, with best fit, as Windows'
// ANSI calls convert them; "?" for a letter with no near one.
void FillFindData(sim::Workstation& ws, const sim::HandleEntry* search, sim::FileNode* node, const char* name,
                  LPWIN32_FIND_DATAA data) {
    FillCommon(node, data);
    sim::AnsiInto(name, true, data->cFileName, MAX_PATH, nullptr);
    if (const std::string* alias = AliasOf(ws, search, node, name)) strncpy(data->cAlternateFileName, alias->c_str(), 13);
}

void FillFindData(sim::Workstation& ws, const sim::HandleEntry* search, sim::FileNode* node, const char* name,
                  LPWIN32_FIND_DATAW data) {
    FillCommon(node, data);
    sim::Utf16Into(name, data->cFileName, MAX_PATH);
    if (const std::string* alias = AliasOf(ws, search, node, name)) sim::Utf16Into(*alias, data->cAlternateFileName, 14);
}

// Hands out the next entry of a search: ".", "..", then the children in
// their fixed order. The last name is remembered rather than a position, so
// that deleting a file during the walk skips nothing.
template <typename FindData>
bool NextEntry(sim::Workstation& ws, sim::HandleEntry* search, FindData* data) {
    sim::FileNode* dir = search->node;
    if (search->onlyName[0]) {
        if (search->stage != 0) return false;
        search->stage = 3;
        auto it = dir->children.find(std::string_view(search->onlyName));
        if (it == dir->children.end()) return false;
        FillFindData(ws, search, it->second.get(), it->second->name.c_str(), data);
        return true;
    }
    if (search->stage == 0 && dir->parent) {
        search->stage = 1;
        FillFindData(ws, search, dir, ".", data);
        return true;
    }
    if (search->stage <= 1 && dir->parent) {
        search->stage = 2;
        FillFindData(ws, search, dir->parent, "..", data);
        return true;
    }
    auto it = search->stage < 3 ? dir->children.begin()
                                : dir->children.upper_bound(std::string_view(search->lastName));
    search->stage = 3;
    if (it == dir->children.end()) return false;
    strncpy(search->lastName, it->second->name.c_str(), sizeof(search->lastName) - 1);
    FillFindData(ws, search, it->second.get(), it->second->name.c_str(), data);
    return true;
}

// FindFirstFileA and FindFirstFileW, once the pattern is a model path.
template <typename FindData>
HANDLE FindFirst(sim::Workstation& ws, std::string_view text, FindData* data) {
    size_t cut = text.find_last_of("\\/");
    std::string_view dirPath = cut == std::string_view::npos ? std::string_view() : text.substr(0, cut + 1);
    std::string_view mask = cut == std::string_view::npos ? text : text.substr(cut + 1);
    const sim::FileNode* link = nullptr;
    sim::FileNode* dir = dirPath.empty() ? ws.Find(ws.currentDirectory) : ws.Find(dirPath, &link);
    if (!dir || !dir->directory) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (dir->unlistable || (link && link->unlistable)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    sim::HandleEntry entry;
    entry.kind = sim::HandleKind::Search;
    entry.node = dir;
    const sim::FileNode* root = dir;
    while (root->parent) root = root->parent;
    auto drive = ws.drives.find(root->name[0]);
    entry.shortNames = drive == ws.drives.end() || drive->second.shortNames;
    if (mask != "*" && mask != "*.*") {
        if (mask.size() >= sizeof(entry.onlyName) || mask.find_first_of("*?") != std::string_view::npos) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        memcpy(entry.onlyName, mask.data(), mask.size());
    }
    HANDLE handle = ws.NewHandle(entry);
    if (!NextEntry(ws, ws.Lookup(handle, sim::HandleKind::Search), data)) {
        ws.FreeHandle(handle);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(0);
    return handle;
}

template <typename FindData>
BOOL FindNext(HANDLE search, FindData* data) {
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(search, sim::HandleKind::Search);
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!NextEntry(ws, entry, data)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    SIM_FAILABLE(INVALID_HANDLE_VALUE);
    sim::Workstation& ws = Current();
    std::string redirected;
    return FindFirst(ws, ws.SeenPath(pattern, &redirected), data);
}

HANDLE WINAPI FindFirstFileW(const WCHAR* pattern, LPWIN32_FIND_DATAW data) {
    SIM_FAILABLE(INVALID_HANDLE_VALUE);
    sim::Workstation& ws = Current();
    // Kept from call to call, so that a folder's listing allocates nothing
    // once the longest path has been seen (the benchmark counts allocations).
    static std::string converted;
    return FindFirst(ws, ws.SeenWidePath(pattern, &converted), data);
}

BOOL WINAPI FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
    SIM_FAILABLE(FALSE);
    return FindNext(search, data);
}

BOOL WINAPI FindNextFileW(HANDLE search, LPWIN32_FIND_DATAW data) {
    SIM_FAILABLE(FALSE);
    return FindNext(search, data);
}

BOOL WINAPI FindClose(HANDLE search) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    if (!ws.Lookup(search, sim::HandleKind::Search)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ws.FreeHandle(search);
    return TRUE;
}

namespace sim {

std::string VolumeName(char key) {
    char name[64];
    snprintf(name, sizeof(name), "\\\\?\\Volume{%08x-0000-0000-0000-0000000000%02x}\\",
             0x4B460000u, static_cast<unsigned>(static_cast<unsigned char>(key)));
    return name;
}

}  // namespace sim

namespace {

// The volume at a mount point (ending with a backslash), given as a model path.
BOOL VolumeAtMountPoint(sim::Workstation& ws, std::string_view text, std::string* name) {
    if (text.empty() || text.back() != '\\') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const sim::FileNode* root = nullptr;
    if (text.size() == 3 && text[1] == ':') {
        auto drive = ws.drives.find(sim::Upper(text[0]));
        if (drive != ws.drives.end() && drive->second.hasLetter) root = drive->second.root.get();
    } else {
        const sim::FileNode* link = nullptr;
        ws.Find(text.substr(0, text.size() - 1), &link);
        // Only a mount point leads to a volume's root; a junction leads to a folder.
        if (link && link->link && !link->link->parent) root = link->link;
    }
    if (!root) {
        SetLastError(ERROR_NOT_A_REPARSE_POINT);
        return FALSE;
    }
    *name = sim::VolumeName(root->name[0]);
    SetLastError(0);
    return TRUE;
}

}  // namespace

BOOL WINAPI GetVolumeNameForVolumeMountPointA(LPCSTR mountPoint, LPSTR volumeName, DWORD size) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    std::string seen, name;
    if (!mountPoint || !VolumeAtMountPoint(ws, ws.SeenPath(mountPoint, &seen), &name)) return FALSE;
    if (name.size() + 1 > size) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    memcpy(volumeName, name.c_str(), name.size() + 1);
    return TRUE;
}

BOOL WINAPI GetVolumeNameForVolumeMountPointW(const WCHAR* mountPoint, WCHAR* volumeName, DWORD size) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    std::string seen, name;
    if (!mountPoint || !VolumeAtMountPoint(ws, ws.SeenWidePath(mountPoint, &seen), &name)) return FALSE;
    if (name.size() + 1 > size) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    sim::Utf16Into(name, volumeName, size);
    return TRUE;
}

// Through a handle: a file's attributes, and its deletion when the handle
// closes. A fault's Win32 error is handed back in a status of its own that
// RtlNtStatusToDosError turns back into it.
NTSTATUS WINAPI NtSetInformationFile(HANDLE file, PVOID ioStatus, PVOID information, ULONG length,
                                     int informationClass) {
    SIM_FAULT(fault, error);
    if (fault) return static_cast<NTSTATUS>(sim::kFaultStatus | (error & 0xFFFF));
    sim::Workstation& ws = Current();
    sim::HandleEntry* entry = ws.Lookup(file, sim::HandleKind::File);
    if (!entry || !ioStatus || !information) return static_cast<NTSTATUS>(sim::kStatusInvalidHandle);
    sim::FileNode* node = entry->node;
    if (informationClass == 13) {  // FileDispositionInformation
        if (length < 1) return static_cast<NTSTATUS>(sim::kStatusInfoLengthMismatch);
        if (!(entry->access & sim::kDeleteAccess)) return static_cast<NTSTATUS>(sim::kStatusAccessDenied);
        bool remove = *static_cast<const BYTE*>(information) != 0;
        if (remove) {
            // A read-only file, and a running program's image, are refused.
            if (node->attributes & FILE_ATTRIBUTE_READONLY) return static_cast<NTSTATUS>(sim::kStatusCannotDelete);
            for (const sim::Process& process : ws.processes) {
                if (process.running && process.holdsExe && ws.Find(process.exePath) == node)
                    return static_cast<NTSTATUS>(sim::kStatusCannotDelete);
            }
        }
        node->deletePending = remove;
        return 0;
    }
    if (informationClass == 4) {  // FileBasicInformation
        if (length < 40) return static_cast<NTSTATUS>(sim::kStatusInfoLengthMismatch);
        if (!(entry->access & FILE_WRITE_ATTRIBUTES)) return static_cast<NTSTATUS>(sim::kStatusAccessDenied);
        DWORD attributes = 0;
        memcpy(&attributes, static_cast<const BYTE*>(information) + 32, sizeof(attributes));
        if (attributes) {
            const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE;
            node->attributes = (node->attributes & ~settable) | (attributes & settable);
        }
        return 0;
    }
    return static_cast<NTSTATUS>(sim::kStatusInvalidInfoClass);
}

ULONG WINAPI RtlNtStatusToDosError(NTSTATUS status) {
    SIM_COUNTED();
    uint32_t code = static_cast<uint32_t>(status);
    if (code == 0) return 0;
    if (code == sim::kStatusAccessDenied || code == sim::kStatusCannotDelete) return ERROR_ACCESS_DENIED;
    if (code == sim::kStatusInvalidHandle) return ERROR_INVALID_HANDLE;
    if ((code & 0xFFFF0000u) == sim::kFaultStatus) return code & 0xFFFF;
    return ERROR_INVALID_PARAMETER;
}
