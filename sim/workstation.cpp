// The workstation model: building it, finding things in it, handles, faults
// and the virtual clock.
#include "sim/workstation.h"

#include <algorithm>
#include <stdexcept>

namespace sim {

namespace {

Workstation* g_current = nullptr;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Splits "C:\a\b" into its components after the drive.
template <typename F>
void ForEachComponent(std::string_view rest, F f) {
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && IsSeparator(rest[i])) ++i;
        size_t start = i;
        while (i < rest.size() && !IsSeparator(rest[i])) ++i;
        if (i > start) {
            if (!f(rest.substr(start, i - start))) return;
        }
    }
}

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

Workstation& Current() {
    if (!g_current) throw std::logic_error("no simulated workstation");
    return *g_current;
}

bool HasCurrent() { return g_current != nullptr; }

const char* RootName(HKEY root) {
    if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS) return "HKEY_USERS";
    return nullptr;
}

bool CallFails(const char* function, DWORD* error) {
    Workstation& ws = Current();
    std::string_view name(function);
    auto it = ws.callCounts.find(name);
    if (it == ws.callCounts.end()) it = ws.callCounts.emplace(std::string(name), 0).first;
    ++it->second;
    if (!ws.callHooks.empty()) {
        int count = it->second;
        for (size_t i = 0; i < ws.callHooks.size(); ++i) {
            if (ws.callHooks[i].atCall != count || ws.callHooks[i].function != name) continue;
            // Taken out first: the action may call into the machine again.
            std::function<void()> action = std::move(ws.callHooks[i].action);
            ws.callHooks.erase(ws.callHooks.begin() + static_cast<long>(i));
            action();
            break;
        }
    }
    for (Fault& fault : ws.faults) {
        if (fault.times <= 0 || fault.function != name) continue;
        if (fault.callsToSkip > 0) {
            --fault.callsToSkip;
            continue;
        }
        --fault.times;
        if (error) *error = fault.error;
        return true;
    }
    return false;
}

Workstation::Workstation() {
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS}) {
        roots[RootName(root)].name = RootName(root);
    }
    AddDrive('C', DRIVE_FIXED);
    Dir(windowsDirectory);
    Dir("C:\\Tools");
    handles.reserve(64);
    AddSystemModules();
    g_current = this;
}

Workstation::~Workstation() {
    if (g_current == this) g_current = nullptr;
}

Workstation& Workstation::Nt() {
    platformId = VER_PLATFORM_WIN32_NT;
    majorVersion = 5;
    minorVersion = 1;
    buildNumber = 2600;
    return *this;
}

Workstation& Workstation::Win9x() {
    platformId = VER_PLATFORM_WIN32_WINDOWS;
    majorVersion = 4;
    minorVersion = 10;
    buildNumber = 0x040A07CE;
    return *this;
}

Workstation& Workstation::Platform(DWORD id) {
    platformId = id;
    return *this;
}

Workstation& Workstation::Admin(bool admin) {
    isAdmin = admin;
    return *this;
}

Workstation& Workstation::WindowsDirectory(const std::string& path) {
    windowsDirectory = path;
    if (path.size() >= 2 && path[1] == ':' && drives.count(Upper(path[0]))) MakeDirs(path);
    return *this;
}

Workstation& Workstation::ModulePath(const std::string& path) {
    modulePath = path;
    return *this;
}

Workstation& Workstation::CurrentDirectory(const std::string& path) {
    currentDirectory = path;
    if (currentDirectory.empty() || !IsSeparator(currentDirectory.back())) currentDirectory += '\\';
    MakeDirs(currentDirectory);
    return *this;
}

Workstation& Workstation::AddDrive(char letter, UINT type) {
    Drive& drive = drives[Upper(letter)];
    drive.type = type;
    if (!drive.root) {
        drive.root = std::make_unique<FileNode>();
        drive.root->directory = true;
        drive.root->attributes = FILE_ATTRIBUTE_DIRECTORY;
        drive.root->name = std::string(1, Upper(letter)) + ":";
    }
    return *this;
}

Workstation& Workstation::Dir(const std::string& path) {
    MakeDirs(Absolute(path));
    return *this;
}

Workstation& Workstation::File(const std::string& path, const std::string& bytes,
                               DWORD attributes) {
    return FileBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.end()), attributes);
}

Workstation& Workstation::FileBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                                    DWORD attributes) {
    std::string full = Absolute(path);
    size_t cut = full.find_last_of('\\');
    FileNode* parent = MakeDirs(full.substr(0, cut));
    std::string leaf = full.substr(cut + 1);
    auto& slot = parent->children[leaf];
    if (!slot) {
        slot = std::make_unique<FileNode>();
        slot->name = leaf;
        slot->parent = parent;
    }
    slot->directory = false;
    slot->attributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
    slot->data = bytes;
    return *this;
}

Workstation& Workstation::ShortName(const std::string& path, const std::string& shortName) {
    FileNode* node = Find(path);
    if (!node) throw std::logic_error("ShortName: no such file " + path);
    node->shortName = shortName;
    return *this;
}

Workstation& Workstation::Hold(const std::string& path, DWORD shareGranted) {
    FileNode* node = Find(path);
    if (!node) throw std::logic_error("Hold: no such file " + path);
    node->held = true;
    node->heldShare = shareGranted;
    return *this;
}

Workstation& Workstation::Release(const std::string& path) {
    FileNode* node = Find(path);
    if (node) node->held = false;
    return *this;
}

Workstation& Workstation::Unlistable(const std::string& path) {
    FileNode* node = MakeDirs(Absolute(path));
    node->unlistable = true;
    return *this;
}

static RegKey* MakeKey(Workstation& ws, HKEY root, const std::string& path) {
    const char* rootName = RootName(root);
    if (!rootName) throw std::logic_error("not a root key");
    RegKey* key = &ws.roots[rootName];
    ForEachComponent(path, [&](std::string_view part) {
        auto& slot = key->subkeys[std::string(part)];
        if (!slot) {
            slot = std::make_unique<RegKey>();
            slot->name = std::string(part);
        }
        key = slot.get();
        return true;
    });
    return key;
}

Workstation& Workstation::RegString(HKEY root, const std::string& key, const std::string& value,
                                    const std::string& text, DWORD type) {
    std::vector<uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return RegData(root, key, value, type, data);
}

Workstation& Workstation::RegData(HKEY root, const std::string& key, const std::string& value,
                                  DWORD type, const std::vector<uint8_t>& data) {
    RegValue& v = MakeKey(*this, root, key)->values[value];
    v.type = type;
    v.data = data;
    return *this;
}

Workstation& Workstation::RegKeyOnly(HKEY root, const std::string& key) {
    MakeKey(*this, root, key);
    return *this;
}

Workstation& Workstation::Service(const std::string& name, DWORD state) {
    services[name] = state;
    return *this;
}

Workstation& Workstation::AddProcess(const Process& process) {
    processes.push_back(process);
    return *this;
}

Workstation& Workstation::AnswerBoxes(std::initializer_list<int> answers) {
    boxAnswers.insert(boxAnswers.end(), answers.begin(), answers.end());
    return *this;
}

Workstation& Workstation::FailCall(const std::string& function, DWORD error, int callsToSkip,
                                   int times) {
    faults.push_back(Fault{function, callsToSkip, error, times});
    return *this;
}

Workstation& Workstation::OnCall(const std::string& function, int atCall,
                                 std::function<void()> action) {
    callHooks.push_back(CallHook{function, atCall, std::move(action)});
    return *this;
}

Workstation& Workstation::At(DWORD atMs, std::function<void()> action) {
    clockEvents.push_back(ClockEvent{atMs, std::move(action)});
    return *this;
}

void Workstation::AdvanceClock(DWORD ms) {
    DWORD end = clockMs + ms;
    for (;;) {
        // Run the earliest due event first, so that events see the clock at their time.
        auto next = clockEvents.end();
        for (auto it = clockEvents.begin(); it != clockEvents.end(); ++it) {
            if (it->atMs <= end && (next == clockEvents.end() || it->atMs < next->atMs)) next = it;
        }
        if (next == clockEvents.end()) break;
        ClockEvent event = std::move(*next);
        clockEvents.erase(next);
        if (event.atMs > clockMs) clockMs = event.atMs;
        event.action();
    }
    clockMs = end;
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
FileNode* Workstation::Find(std::string_view path) {
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
            return node != nullptr;
        }
        node = it->second.get();
        return true;
    });
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
        node = slot.get();
        return true;
    });
    return node;
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

// Handles are small fake pointers: slot index + 1, times 4, as Windows
// handles are multiples of 4. Slots are reused, so that opening and closing
// a file allocates nothing once the table has grown.
HANDLE Workstation::NewHandle(const HandleEntry& entry) {
    for (size_t i = 0; i < handles.size(); ++i) {
        if (handles[i].kind == HandleKind::Free) {
            handles[i] = entry;
            return reinterpret_cast<HANDLE>(static_cast<uintptr_t>((i + 1) * 4 + 0x100));
        }
    }
    handles.push_back(entry);
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handles.size() * 4 + 0x100));
}

HandleEntry* Workstation::Lookup(HANDLE handle, HandleKind kind) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value < 0x104 || (value - 0x100) % 4 != 0) return nullptr;
    size_t index = (value - 0x100) / 4 - 1;
    if (index >= handles.size() || handles[index].kind != kind) return nullptr;
    return &handles[index];
}

void Workstation::FreeHandle(HANDLE handle) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value < 0x104) return;
    size_t index = (value - 0x100) / 4 - 1;
    if (index < handles.size()) {
        handles[index].kind = HandleKind::Free;
    }
}

void Workstation::RemoveNode(FileNode* node) {
    if (!node || !node->parent) return;
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
    const char* rootName = RootName(root);
    if (!rootName) return nullptr;
    RegKey* key = &roots[rootName];
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

int Workstation::Calls(std::string_view function) const {
    auto it = callCounts.find(function);
    return it == callCounts.end() ? 0 : it->second;
}

void Workstation::RaiseCtrlEvent(DWORD type) {
    // The system calls the handlers last-installed first, until one handles it.
    for (auto it = ctrlHandlers.rbegin(); it != ctrlHandlers.rend(); ++it) {
        if ((*it)(type)) return;
    }
    throw std::runtime_error("console control event not handled: the process would end");
}

}  // namespace sim
