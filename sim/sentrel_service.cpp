#include "sim/sentrel_service.h"

#include <stdint.h>
#include <string.h>

#include <vector>

#include "sim/file_rules.h"

namespace sim {

const char* const SentrelServiceName = "Veltrane Sentrel";

namespace {

// The service's own copy of the file's description, never the tool's reader:
// a mistake that the tool's reader and writer share must show here.
const size_t HeaderSize = 16;
const size_t MaxFileSize = 8192;
// The two scrambling tables the service and the maker's products share.
const uint8_t KeyA[16] = {0x3B, 0xA7, 0x5E, 0xC1, 0x92, 0x0D, 0xF4, 0x68,
                          0x2F, 0xB6, 0x71, 0xE9, 0x44, 0x8A, 0xD3, 0x17};
const uint8_t KeyB[17] = {0x6C, 0x05, 0xDA, 0x83, 0x4F, 0xB1, 0x29, 0xFE, 0x70,
                          0x9D, 0x36, 0xE2, 0x58, 0xC7, 0x1A, 0xAB, 0x94};

// The standard CRC-32, bit by bit.
uint32_t Crc(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

// "VTSL.REN" in the shared install folder named by the registry: a
// backslash goes between only when the folder's text holds one that is not
// its last character.
std::string RequestPath(Workstation& ws) {
    const RegValue* value = ws.FindValue(HKEY_LOCAL_MACHINE, "Software\\Ombrel Works\\Common\\Paths", "Common");
    if (!value || value->type != REG_SZ) return "";
    std::string folder = ws.RegText(HKEY_LOCAL_MACHINE, "Software\\Ombrel Works\\Common\\Paths", "Common");
    size_t last = folder.rfind('\\');
    bool separator = last != std::string::npos && last + 1 != folder.size();
    return folder + (separator ? "\\" : "") + "VTSL.REN";
}

// The pairs of an accepted file, or none: longer than its header and at
// most 8192 bytes, the unscrambled body's CRC-32 as the header says, and a
// list that a NUL after a NUL ends after an even number of strings.
bool ReadRequests(const std::string& file, std::vector<std::string>* paths) {
    if (file.size() <= HeaderSize || file.size() > MaxFileSize) return false;
    std::vector<uint8_t> body(file.begin() + HeaderSize, file.end());
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(body[i] ^ KeyA[i % 16] ^ KeyB[i % 17]);
    uint32_t declared = 0;
    for (int i = 0; i < 4; ++i) declared |= static_cast<uint32_t>(static_cast<uint8_t>(file[8 + i])) << (8 * i);
    if (Crc(body) != declared) return false;
    std::string current;
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != 0) {
            current += static_cast<char>(body[i]);
            continue;
        }
        if (i > 0 && body[i - 1] == 0) return paths->size() % 2 == 0;
        paths->push_back(current);
        current.clear();
    }
    return false;
}

}  // namespace

void RunSentrelServiceAtBoot(Workstation& ws) {
    if (ws.platformId != VER_PLATFORM_WIN32_NT || ws.services.count(SentrelServiceName) == 0) return;
    std::string path = RequestPath(ws);
    if (path.empty() || !ws.Exists(path)) return;
    std::vector<std::string> paths;
    // A file that fails the rules changes nothing.
    if (!ReadRequests(ws.Read(path), &paths)) return;
    for (size_t i = 0; i + 1 < paths.size(); i += 2) MoveNow(ws, paths[i], paths[i + 1], true);
    DeleteAtBoot(ws, path);
}

bool DeleteAtBoot(Workstation& ws, const std::string& path) {
    FileNode* node = ws.Find(path);
    if (!node) return true;
    if (node->directory) {
        if (!node->children.empty() || !node->parent) return false;
    } else if (CanDelete(ws, node) != 0) {
        return false;
    }
    ws.RemoveNode(node);
    return true;
}

}  // namespace sim
