// Finding things in the simulated workstation: paths in its file system,
// keys and values in its registry.
#include "sim/workstation.h"

#include <algorithm>
#include <stdexcept>

#include "sim/code_page.h"
#include "sim/path_text.h"

namespace sim {

namespace {

// A "." or ".." component needs resolving; a name that only starts with a
// dot (".config") does not.
bool HasDotComponent(std::string_view rest) {
    bool dot = false;
    ForEachComponent(rest, [&](std::string_view part) {
        dot = part == "." || part == "..";
        return !dot;
    });
    return dot;
}

}  // namespace

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(Upper(a[i]));
        unsigned char y = static_cast<unsigned char>(Upper(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

bool NoCaseEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) return false;
    }
    return true;
}

std::string Workstation::Absolute(std::string_view path) const {
    std::string result;
    if (path.size() >= 2 && path[1] == ':') {
        if (path.size() == 2 || !IsSeparator(path[2])) {
            // "C:name" is relative to the current directory of that drive; we keep
            // one current directory, so use it when it is on that drive.
            if (!currentDirectory.empty() && Upper(currentDirectory[0]) == Upper(path[0])) {
                result = currentDirectory;
            } else {
                result = std::string(1, Upper(path[0])) + ":\\";
            }
            result.append(path.substr(2));
        } else {
            result = std::string(1, Upper(path[0])) + ":";
            result.append(path.substr(2));
        }
    } else if (!path.empty() && IsSeparator(path[0])) {
        result = currentDirectory.substr(0, 2);
        result.append(path);
    } else {
        result = currentDirectory;
        if (result.empty() || !IsSeparator(result.back())) result += '\\';
        result.append(path);
    }
    // Normalise separators and "." / ".." components.
    std::string out = result.substr(0, 2);
    std::vector<std::string> parts;
    ForEachComponent(std::string_view(result).substr(2), [&](std::string_view part) {
        if (part == ".") return true;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            return true;
        }
        parts.emplace_back(part);
        return true;
    });
    for (const std::string& part : parts) {
        out += '\\';
        out += part;
    }
    if (parts.empty()) out += '\\';
    return out;
}

// Resolves without allocating when the path is absolute, since the disk sweep
// and the matcher resolve a path for every file.
FileNode* Workstation::Find(std::string_view path) { return Find(path, nullptr); }

FileNode* Workstation::Find(std::string_view path, const FileNode** lastLink) {
    if (lastLink) *lastLink = nullptr;
    std::string storage;
    bool simple = path.size() >= 3 && path[1] == ':' && IsSeparator(path[2]) &&
                  !HasDotComponent(path.substr(2));
    if (!simple) {
        storage = Absolute(path);
        path = storage;
    }
    auto drive = drives.find(Upper(path[0]));
    if (drive == drives.end()) return nullptr;
    FileNode* node = drive->second.root.get();
    size_t remoteEnd = std::string_view::npos;
    ForEachComponent(path.substr(2), [&](std::string_view part) {
        if (!node || !node->directory) {
            node = nullptr;
            return false;
        }
        auto it = node->children.find(part);
        if (it == node->children.end()) {
            // Short names are also accepted, as Windows does.
            FileNode* alias = nullptr;
            for (auto& child : node->children) {
                if (!child.second->shortName.empty() && NoCaseEqual(child.second->shortName, part)) {
                    alias = child.second.get();
                    break;
                }
            }
            node = alias;
        } else {
            node = it->second.get();
        }
        if (!node) {
            if (lastLink) *lastLink = nullptr;
            return false;
        }
        bool isLink = node->link || !node->remoteTarget.empty();
        if (lastLink) *lastLink = isLink ? node : nullptr;
        if (!node->remoteTarget.empty()) {
            remoteEnd = static_cast<size_t>(part.data() + part.size() - path.data());
            node = nullptr;
            return false;
        }
        if (node->link) node = node->link;
        if (node->sameFile) node = node->sameFile;
        return true;
    });
    // A path that goes on through a remote link goes on at another machine:
    // nothing of this one is there, and whoever asked has reached that one.
    // (Opening the link itself reaches it only when the opener follows it.)
    if (remoteEnd != std::string_view::npos &&
        path.find_first_not_of("\\/", remoteEnd) != std::string_view::npos) {
        remoteReached.emplace_back(path);
    }
    return node;
}

FileNode* Workstation::FindParent(std::string_view path, std::string* leaf) {
    std::string full = Absolute(path);
    size_t cut = full.find_last_of('\\');
    leaf->clear();
    if (cut == std::string::npos || cut + 1 >= full.size()) return nullptr;
    *leaf = full.substr(cut + 1);
    FileNode* parent = Find(full.substr(0, cut + 1));
    if (!parent || !parent->directory) return nullptr;
    return parent;
}

FileNode* Workstation::MakeDirs(const std::string& absolutePath) {
    std::string full = Absolute(absolutePath);
    auto drive = drives.find(Upper(full[0]));
    if (drive == drives.end()) throw std::logic_error("no drive for " + full);
    FileNode* node = drive->second.root.get();
    ForEachComponent(std::string_view(full).substr(2), [&](std::string_view part) {
        auto& slot = node->children[std::string(part)];
        if (!slot) {
            slot = std::make_unique<FileNode>();
            slot->name = std::string(part);
            slot->directory = true;
            slot->attributes = FILE_ATTRIBUTE_DIRECTORY;
            slot->parent = node;
        }
        node = slot->link ? slot->link : slot.get();
        return true;
    });
    return node;
}

namespace {

// Where a path that no call can reach leads: no name holds "<".
const char kUnreachable[] = "C:\\<no call reaches this path>";

// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9, with any extension and
// blanks before it: Windows' path rules take such a last name for the device.
bool IsDosDeviceName(std::string_view name) {
    size_t dot = name.find('.');
    std::string_view base = name.substr(0, dot);
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    auto is = [&](const char* device) { return NoCaseEqual(base, device); };
    if (is("CON") || is("PRN") || is("AUX") || is("NUL")) return true;
    if (base.size() == 4 && (NoCaseEqual(base.substr(0, 3), "COM") || NoCaseEqual(base.substr(0, 3), "LPT")))
        return base[3] >= '1' && base[3] <= '9';
    return false;
}

}  // namespace

// Win32's rules for a path that is not "\\?\": its last name loses its
// trailing dots and blanks, and a device's name is the device.
std::string_view Workstation::Win32Rules(std::string_view path, std::string* storage) const {
    size_t cut = path.find_last_of("\\/");
    std::string_view last = cut == std::string_view::npos ? path : path.substr(cut + 1);
    if (IsDosDeviceName(last) && !(path.size() >= 4 && path.substr(0, 4) == "\\\\.\\")) {
        std::string device = "\\\\.\\NUL";
        *storage = device;
        return *storage;
    }
    if (last.empty() || last == "." || last == ".." || (last.back() != '.' && last.back() != ' ')) return path;
    size_t keep = path.size();
    while (keep > path.size() - last.size() && (path[keep - 1] == '.' || path[keep - 1] == ' ')) --keep;
    std::string trimmed(path.substr(0, keep));
    *storage = trimmed;
    return *storage;
}

std::string_view Workstation::Redirected(std::string_view path, std::string* storage) const {
    if (!wow64 || !fsRedirected) return path;
    std::string full = Absolute(path);
    std::string system = windowsDirectory + "\\System32";
    if (full.size() < system.size() || !NoCaseEqual(std::string_view(full).substr(0, system.size()), system))
        return path;
    if (full.size() > system.size() && full[system.size()] != '\\') return path;
    *storage = windowsDirectory + "\\SysWOW64" + full.substr(system.size());
    return *storage;
}

std::string_view Workstation::SeenPath(std::string_view path, std::string* storage) const {
    // The ANSI calls take no path of MAX_PATH characters or more.
    if (path.size() >= MAX_PATH) return kUnreachable;
    return Redirected(Win32Rules(Utf8OfAnsi(path, storage), storage), storage);
}

std::string_view Workstation::SeenWidePath(const WCHAR* path, std::string* storage) const {
    size_t length = 0;
    while (path[length]) ++length;
    bool verbatim = length >= 4 && path[0] == '\\' && path[1] == '\\' && path[2] == '?' && path[3] == '\\';
    // The system's own limit; without "\\?\" the old one.
    if (length > 32767 || (!verbatim && length >= MAX_PATH)) return kUnreachable;
    storage->clear();
    size_t skip = verbatim ? 4 : 0;
    // "\\?\UNC\server\share" is another machine's share.
    if (verbatim && length >= 8 && path[4] == 'U' && path[5] == 'N' && path[6] == 'C' && path[7] == '\\') {
        storage->append("\\\\");
        skip = 8;
    }
    AppendUtf8(path + skip, length - skip, storage);
    if (verbatim) return Redirected(*storage, storage);
    return Redirected(Win32Rules(*storage, storage), storage);
}

std::string Workstation::PathOf(const FileNode* node) const {
    std::vector<const FileNode*> chain;
    for (const FileNode* n = node; n; n = n->parent) chain.push_back(n);
    std::string path = chain.back()->name;  // "C:"
    for (size_t i = chain.size() - 1; i-- > 0;) {
        path += '\\';
        path += chain[i]->name;
    }
    if (chain.size() == 1) path += '\\';
    return path;
}

std::string Workstation::ShortPathOf(const FileNode* node) const {
    std::vector<const FileNode*> chain;
    for (const FileNode* n = node; n; n = n->parent) chain.push_back(n);
    std::string path = chain.back()->name;
    for (size_t i = chain.size() - 1; i-- > 0;) {
        path += '\\';
        path += chain[i]->shortName.empty() ? chain[i]->name : chain[i]->shortName;
    }
    if (chain.size() == 1) path += '\\';
    return path;
}

FileNode* Workstation::FindName(std::string_view path) {
    std::string leaf;
    FileNode* parent = FindParent(path, &leaf);
    if (!parent) return nullptr;
    auto it = parent->children.find(std::string_view(leaf));
    if (it != parent->children.end()) return it->second.get();
    FileNode* node = Find(path);  // a short name, or a root
    return node;
}

namespace {

std::unique_ptr<FileNode>* SlotOf(FileNode* node) {
    for (auto& child : node->parent->children) {
        if (child.second.get() == node) return &child.second;
    }
    return nullptr;
}

}  // namespace

void Workstation::RemoveNode(FileNode* node) {
    if (!node || !node->parent) return;
    if (FileNode* file = node->sameFile) {
        file->otherNames.erase(std::find(file->otherNames.begin(), file->otherNames.end(), node));
    } else if (!node->otherNames.empty()) {
        // The file lives on under its next name, in that name's entry.
        FileNode* next = node->otherNames.front();
        node->otherNames.erase(node->otherNames.begin());
        std::unique_ptr<FileNode>* from = SlotOf(node);
        std::unique_ptr<FileNode>* to = SlotOf(next);
        std::unique_ptr<FileNode> file = std::move(*from);
        FileNode* oldParent = node->parent;
        file->name = next->name;
        file->shortName = next->shortName;
        file->parent = next->parent;
        *to = std::move(file);  // the link's own entry goes
        for (auto it = oldParent->children.begin(); it != oldParent->children.end(); ++it) {
            if (!it->second) {
                oldParent->children.erase(it);
                break;
            }
        }
        return;
    }
    FileNode* parent = node->parent;
    for (auto it = parent->children.begin(); it != parent->children.end(); ++it) {
        if (it->second.get() == node) {
            parent->children.erase(it);
            return;
        }
    }
}

std::string Workstation::Read(std::string_view path) {
    FileNode* node = Find(path);
    if (!node || node->directory) return std::string();
    return std::string(node->data.begin(), node->data.end());
}

RegKey* Workstation::FindKey(HKEY root, std::string_view path) {
    RegKey* key = RootKey(root);
    if (!key) return nullptr;
    ForEachComponent(path, [&](std::string_view part) {
        auto it = key->subkeys.find(part);
        key = it == key->subkeys.end() ? nullptr : it->second.get();
        return key != nullptr;
    });
    return key;
}

const RegValue* Workstation::FindValue(HKEY root, std::string_view key, std::string_view value) {
    RegKey* k = FindKey(root, key);
    if (!k) return nullptr;
    auto it = k->values.find(value);
    return it == k->values.end() ? nullptr : &it->second;
}

std::string Workstation::RegText(HKEY root, std::string_view key, std::string_view value) {
    const RegValue* v = FindValue(root, key, value);
    if (!v) return std::string();
    std::string text(v->data.begin(), v->data.end());
    size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

}  // namespace sim
