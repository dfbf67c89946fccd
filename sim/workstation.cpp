// The workstation model: building it (the fluent setters) and the one
// machine that the Win32 functions act on.
#include "sim/workstation.h"

#include <stdexcept>

#include "sim/file_rules.h"
#include "sim/path_text.h"

namespace sim {

namespace {

Workstation* g_current = nullptr;

}  // namespace

Workstation& Current() {
    if (!g_current) throw std::logic_error("no simulated workstation");
    return *g_current;
}

bool HasCurrent() { return g_current != nullptr; }

RegKey* Workstation::RootKey(HKEY root) {
    const char* rootName = RootName(root);
    if (!rootName) return nullptr;
    if (root != HKEY_CURRENT_USER) return &roots[rootName];
    auto& hive = roots["HKEY_USERS"].subkeys[ToolUserSid];
    if (!hive) {
        hive = std::make_unique<RegKey>();
        hive->name = ToolUserSid;
    }
    return hive.get();
}

const char* RootName(HKEY root) {
    if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS) return "HKEY_USERS";
    return nullptr;
}

Workstation::Workstation() {
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_USERS}) {
        roots[RootName(root)].name = RootName(root);
    }
    // The hives every Windows has loaded: the default user's, and the
    // account the tool runs as, which HKEY_CURRENT_USER stands for.
    RegKeyOnly(HKEY_USERS, ".DEFAULT");
    RegKeyOnly(HKEY_USERS, ToolUserSid);
    AddDrive('C', DRIVE_FIXED);
    Dir(windowsDirectory);
    Dir("C:\\Tools");
    handles.reserve(64);
    AddSystemModules();
    AddShareModules();
    g_current = this;
}

Workstation::~Workstation() {
    ReportUnfiredFaults();
    while (!netBuffers.empty()) ReleaseNetBuffer(netBuffers.back());
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
        drive.root->fileIndex = 5;
        drive.serial = 0x4B460000u | static_cast<unsigned char>(Upper(letter));
    }
    return *this;
}

Workstation& Workstation::VolumeSerial(char letter, DWORD serial) {
    auto drive = drives.find(Upper(letter));
    if (drive == drives.end()) throw std::logic_error("VolumeSerial: no drive");
    drive->second.serial = serial;
    return *this;
}

Workstation& Workstation::Wow64(bool shared) {
    wow64 = true;
    sharedClasses = shared;
    fsRedirected = true;
    Dir(windowsDirectory + "\\System32");
    Dir(windowsDirectory + "\\SysWOW64");
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

// The node at the path, its folders made; a new one when there was none
// (`*made` says which).
static FileNode* Place(Workstation& ws, const std::string& path, bool* made) {
    std::string full = ws.Absolute(path);
    size_t cut = full.find_last_of('\\');
    FileNode* parent = ws.MakeDirs(full.substr(0, cut));
    std::string leaf = full.substr(cut + 1);
    auto& slot = parent->children[leaf];
    *made = !slot;
    if (!slot) {
        slot = std::make_unique<FileNode>();
        slot->name = leaf;
        slot->parent = parent;
    }
    return slot.get();
}

Workstation& Workstation::FileBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                                    DWORD attributes) {
    bool made = false;
    FileNode* node = Place(*this, path, &made);
    node->directory = false;
    node->attributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
    node->data = bytes;
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

Workstation& Workstation::FolderLink(const std::string& path, const std::string& target,
                                     bool reparsePoint, bool refusesListing) {
    FileNode* to = MakeDirs(Absolute(target));
    bool made = false;
    FileNode* node = Place(*this, path, &made);
    if (!made) throw std::logic_error("FolderLink: something is already at " + path);
    node->directory = true;
    node->attributes = FILE_ATTRIBUTE_DIRECTORY | (reparsePoint ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    node->reparseTag = reparsePoint ? static_cast<DWORD>(IO_REPARSE_TAG_MOUNT_POINT) : 0;
    node->link = to;
    node->unlistable = refusesListing;
    return *this;
}

Workstation& Workstation::HardLink(const std::string& path, const std::string& existing) {
    FileNode* file = Find(existing);
    if (!file || file->directory) throw std::logic_error("HardLink: no file at " + existing);
    bool made = false;
    FileNode* node = Place(*this, path, &made);
    if (!made) throw std::logic_error("HardLink: something is already at " + path);
    node->sameFile = file;
    file->otherNames.push_back(node);
    return *this;
}

Workstation& Workstation::Link(const std::string& path, LinkKind kind, const std::string& target) {
    FileNode* to = nullptr;
    if (kind == LinkKind::MountPoint) {
        auto drive = drives.find(Upper(target.empty() ? '?' : target[0]));
        if (drive == drives.end()) throw std::logic_error("Link: no volume " + target);
        to = drive->second.root.get();
    } else if (kind != LinkKind::RemoteLink) {
        to = MakeDirs(Absolute(target));
    }
    bool made = false;
    FileNode* node = Place(*this, path, &made);
    if (!made) throw std::logic_error("Link: something is already at " + path);
    node->directory = true;
    node->attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    node->link = to;
    node->reparseTag = kind == LinkKind::SymbolicLink || kind == LinkKind::RemoteLink
                           ? static_cast<DWORD>(IO_REPARSE_TAG_SYMLINK)
                           : static_cast<DWORD>(IO_REPARSE_TAG_MOUNT_POINT);
    if (kind == LinkKind::RemoteLink) node->remoteTarget = target;
    return *this;
}

Workstation& Workstation::LetterlessVolume(char key, UINT type) {
    if (key < '0' || key > '9') throw std::logic_error("LetterlessVolume: the key is a digit");
    AddDrive(key, type);
    drives[key].hasLetter = false;
    return *this;
}

void Workstation::SwapFolderForJunction(const std::string& path, const std::string& target) {
    if (DWORD error = MoveNow(*this, path, path + ".away", false))
        throw std::logic_error("SwapFolderForJunction: cannot move " + path + ", error " + std::to_string(error));
    Link(path, LinkKind::Junction, target);
}

void Workstation::ReuseProcessId(DWORD pid, Process newcomer) {
    Process* old = FindProcess(pid);
    if (!old) throw std::logic_error("ReuseProcessId: no process " + std::to_string(pid));
    old->running = false;
    newcomer.pid = pid;
    AddProcess(newcomer);
}

Workstation& Workstation::NoShortName(const std::string& path) {
    FileNode* node = Find(path);
    if (!node) throw std::logic_error("NoShortName: no such file " + path);
    node->noShortName = true;
    return *this;
}

Workstation& Workstation::NoShortNames(char letter) {
    auto drive = drives.find(Upper(letter));
    if (drive == drives.end()) throw std::logic_error("NoShortNames: no drive");
    drive->second.shortNames = false;
    return *this;
}

static RegKey* MakeKey(Workstation& ws, HKEY root, const std::string& path) {
    RegKey* key = ws.RootKey(root);
    if (!key) throw std::logic_error("not a root key");
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

Workstation& Workstation::Security(const std::string& path, const ObjectSecurity& security) {
    FileNode* node = Find(path);
    if (!node) throw std::invalid_argument("no such file: " + path);
    node->security = security;
    node->security.set = true;
    return *this;
}

Workstation& Workstation::KeySecurity(HKEY root, const std::string& key,
                                      const ObjectSecurity& security) {
    RegKey* made = MakeKey(*this, root, key);
    made->security = security;
    made->security.set = true;
    return *this;
}

Workstation& Workstation::NoAcls(char letter) {
    drives[static_cast<char>(toupper(static_cast<unsigned char>(letter)))].persistentAcls = false;
    return *this;
}

Workstation& Workstation::Service(const std::string& name, DWORD state) {
    services[name] = state;
    return *this;
}

Workstation& Workstation::AddProcess(const Process& process) {
    processes.push_back(process);
    processes.back().serial = nextProcessSerial++;
    return *this;
}

Workstation& Workstation::AnswerBoxes(std::initializer_list<int> answers) {
    boxAnswers.insert(boxAnswers.end(), answers.begin(), answers.end());
    return *this;
}

void Workstation::RaiseCtrlEvent(DWORD type) {
    // The system calls the handlers last-installed first, until one handles it.
    for (auto it = ctrlHandlers.rbegin(); it != ctrlHandlers.rend(); ++it) {
        if ((*it)(type)) return;
    }
    throw std::runtime_error("console control event not handled: the process would end");
}

}  // namespace sim
