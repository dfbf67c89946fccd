// The next boot of the simulated workstation: MoveFileExA's list of moves
// left for the boot, and Reboot, which carries out what each family leaves
// for its start-up (the pending moves on NT, the "rename" section of
// WININIT.INI on 9x, then the scanner's rename request file).
#include <string.h>

#include "sim/file_rules.h"
#include "sim/sentrel_service.h"
#include "sim/workstation.h"

using sim::Current;

namespace {

// MoveFileExA's and MoveFileExW's work once both paths are model paths (the
// new one empty for none).
BOOL MoveFileExAt(std::string_view existing, std::string_view newPath, bool hasNewPath, DWORD flags) {
    DWORD error = 0;
    sim::Workstation& ws = Current();
    if (existing.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        if (flags & MOVEFILE_COPY_ALLOWED) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        // 9x has the function but not the boot list behind it.
        if (ws.platformId != VER_PLATFORM_WIN32_NT) {
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return FALSE;
        }
        // The list lives in a registry value that only administrators may
        // write. The source is not looked at, as on Windows and Wine.
        if (!ws.isAdmin || !ws.adminGroupEnabled) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        // Kept under the names the boot sees, which on 64-bit Windows are
        // the ones the calling thread reaches.
        sim::PendingMove move;
        move.from = ws.Absolute(existing);
        move.to = hasNewPath && !newPath.empty() ? ws.Absolute(newPath) : std::string();
        move.replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
        ws.pendingMoves.push_back(move);
        SetLastError(0);
        return TRUE;
    }
    if (!hasNewPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    error = sim::MoveNow(ws, existing, newPath, (flags & MOVEFILE_REPLACE_EXISTING) != 0);
    SetLastError(error);
    return error ? FALSE : TRUE;
}

}  // namespace

BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR newPath, DWORD flags) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    std::string seenFrom, seenTo;
    std::string_view from = existing && existing[0] ? ws.SeenPath(existing, &seenFrom) : std::string_view();
    std::string_view to = newPath ? ws.SeenPath(newPath, &seenTo) : std::string_view();
    return MoveFileExAt(from, to, newPath != nullptr, flags);
}

BOOL WINAPI MoveFileExW(const WCHAR* existing, const WCHAR* newPath, DWORD flags) {
    SIM_FAILABLE(FALSE);
    sim::Workstation& ws = Current();
    std::string seenFrom, seenTo;
    std::string_view from = existing && existing[0] ? ws.SeenWidePath(existing, &seenFrom) : std::string_view();
    std::string_view to = newPath ? ws.SeenWidePath(newPath, &seenTo) : std::string_view();
    return MoveFileExAt(from, to, newPath != nullptr, flags);
}

namespace sim {

namespace {

void ReleaseHeld(FileNode* node) {
    node->held = false;
    for (auto& child : node->children) ReleaseHeld(child.second.get());
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The session manager's work on NT: the moves in the order they were asked
// for. One that cannot be done is skipped.
void RunPendingMoves(Workstation& ws) {
    std::vector<PendingMove> moves;
    moves.swap(ws.pendingMoves);
    for (const PendingMove& move : moves) {
        if (move.to.empty()) {
            DeleteAtBoot(ws, move.from);
        } else {
            MoveNow(ws, move.from, move.to, move.replace);
        }
    }
}

// The 9x start-up's work on WININIT.INI, read with its own simple reading of
// the format rather than the tool's: "target=source" lines of the first
// "rename" section, blanks around both trimmed, "nul" as the target deleting
// the source; then the file is set aside as WININIT.BAK, as Wine's boot does.
void RunWininit(Workstation& ws) {
    std::string iniPath = ws.windowsDirectory + "\\WININIT.INI";
    FileNode* ini = ws.Find(iniPath);
    if (!ini || ini->directory) return;
    std::string text(ini->data.begin(), ini->data.end());
    enum { Before, Inside, After } where = Before;
    size_t start = 0;
    while (start < text.size() && where != After) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = Trim(line);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            bool rename = close != std::string::npos && NoCaseEqual(Trim(line.substr(1, close - 1)), "rename");
            if (where == Inside) {
                where = After;
            } else if (rename) {
                where = Inside;
            }
            continue;
        }
        size_t equals = line.find('=');
        if (where != Inside || equals == std::string::npos) continue;
        std::string target = Trim(line.substr(0, equals));
        std::string source = Trim(line.substr(equals + 1));
        if (source.empty()) continue;
        if (NoCaseEqual(target, "nul")) {
            DeleteAtBoot(ws, source);
        } else if (!target.empty()) {
            MoveNow(ws, source, target, true);
        }
    }
    MoveNow(ws, iniPath, ws.windowsDirectory + "\\WININIT.BAK", true);
}

}  // namespace

void Workstation::Reboot() {
    // The boot is not the tool: its calls are neither counted as the tool's
    // nor hit by the faults a test set up for the tool.
    std::vector<Fault> savedFaults;
    savedFaults.swap(faults);
    std::map<std::string, int, std::less<>> savedCounts;
    savedCounts.swap(callCounts);
    DWORD savedError = lastError;

    // Processes of before the boot are gone, and with them what they held open.
    processes.clear();
    for (auto& drive : drives) ReleaseHeld(drive.second.root.get());

    if (platformId == VER_PLATFORM_WIN32_NT) {
        RunPendingMoves(*this);
    } else {
        pendingMoves.clear();
        RunWininit(*this);
    }
    RunSentrelServiceAtBoot(*this);
    ++bootCount;

    faults.swap(savedFaults);
    callCounts.swap(savedCounts);
    lastError = savedError;
}

}  // namespace sim
