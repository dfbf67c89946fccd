// win.ini of the simulated workstation through the profile functions: a small
// INI reader and writer of the simulation's own. A write changes only the one
// line it concerns and keeps every other line as it was; lines end in CR LF.
//
// On the NT family the section "windows" is not in the file at all: the
// system maps it to the values of one registry key of the current user, as
// both Windows NT and Wine do (Wine reads no fallback from the file when a
// value is missing there, and neither do we). Windows 9x keeps it in the file.
#include <string.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sim/file_rules.h"
#include "sim/workstation.h"

using sim::Current;

namespace {

std::string WinIniPath(const sim::Workstation& ws) {
    std::string path = ws.windowsDirectory;
    if (path.empty() || path.back() != '\\') path += '\\';
    return path + "win.ini";
}

std::string Trim(const std::string& text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return std::string();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(start, end - start + 1);
}

std::vector<std::string> SplitLines(const std::vector<uint8_t>& data) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < data.size(); ++i) {
        char c = static_cast<char>(data[i]);
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// "[name]" with blanks allowed around the name.
bool IsSection(const std::string& line, std::string* name) {
    std::string text = Trim(line);
    if (text.size() < 2 || text.front() != '[') return false;
    size_t close = text.find(']');
    if (close == std::string::npos) return false;
    *name = Trim(text.substr(1, close - 1));
    return true;
}

// "key=value"; comment lines (;) are no entries.
bool IsEntry(const std::string& line, std::string* key, std::string* value) {
    std::string text = Trim(line);
    if (text.empty() || text[0] == ';') return false;
    size_t equals = text.find('=');
    if (equals == std::string::npos) return false;
    *key = Trim(text.substr(0, equals));
    *value = Trim(text.substr(equals + 1));
    return true;
}

// Where a section and an entry of it stand: indexes into the lines, or -1.
struct Place {
    int section = -1;
    int sectionEnd = -1;  // one past its last line
    int entry = -1;
};

Place Locate(const std::vector<std::string>& lines, const char* section, const char* key) {
    Place place;
    std::string name, entryKey, entryValue;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        if (IsSection(lines[i], &name)) {
            if (place.section >= 0) {
                place.sectionEnd = i;
                return place;
            }
            if (sim::NoCaseEqual(name, section)) place.section = i;
            continue;
        }
        if (place.section >= 0 && place.entry < 0 && key && IsEntry(lines[i], &entryKey, &entryValue) &&
            sim::NoCaseEqual(entryKey, key))
            place.entry = i;
    }
    if (place.section >= 0) place.sectionEnd = static_cast<int>(lines.size());
    return place;
}

const char* const kMappedSection = "windows";
const char* const kMappedKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

bool IsMapped(const sim::Workstation& ws, const char* section) {
    return ws.platformId == VER_PLATFORM_WIN32_NT && sim::NoCaseEqual(section, kMappedSection);
}

// Copies as much as fits with its NUL; the count of characters copied.
DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD size) {
    if (!buffer || size == 0) return 0;
    size_t count = text.size() < size - 1 ? text.size() : size - 1;
    memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

}  // namespace

// The value of an entry, blanks around it removed and one pair of matching
// quotes taken off, as Windows does; the default when the entry, its section
// or win.ini is missing or cannot be read. Returns the count of characters
// copied without the NUL. Listing a section's keys (a null key) is not modelled.
DWORD WINAPI GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR buffer,
                               DWORD size) {
    SIM_FAULT(fault, error);
    if (!section || !key) throw std::logic_error("GetProfileStringA: listing is not modelled");
    std::string fallback = Trim(defaultText ? defaultText : "");
    if (fault) {
        SetLastError(error);
        return CopyOut(fallback, buffer, size);
    }
    sim::Workstation& ws = Current();
    if (IsMapped(ws, section)) {
        const sim::RegValue* value = ws.FindValue(HKEY_CURRENT_USER, kMappedKey, key);
        if (!value) return CopyOut(fallback, buffer, size);
        std::string text(value->data.begin(), value->data.end());
        size_t nul = text.find('\0');
        if (nul != std::string::npos) text.resize(nul);
        return CopyOut(text, buffer, size);
    }
    sim::FileNode* node = ws.Find(WinIniPath(ws));
    if (!node || node->directory || sim::SharingConflict(ws, node, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE))
        return CopyOut(fallback, buffer, size);
    std::vector<std::string> lines = SplitLines(node->data);
    Place place = Locate(lines, section, key);
    if (place.entry < 0) return CopyOut(fallback, buffer, size);
    std::string entryKey, value;
    IsEntry(lines[place.entry], &entryKey, &value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return CopyOut(value, buffer, size);
}

// Sets an entry (a null value deletes it, a null key the whole section),
// making win.ini and the section when they are missing.
BOOL WINAPI WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value) {
    SIM_FAILABLE(FALSE);
    if (!section) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    sim::Workstation& ws = Current();
    if (IsMapped(ws, section)) {
        if (!key) {
            if (sim::RegKey* mapped = ws.FindKey(HKEY_CURRENT_USER, kMappedKey)) mapped->values.clear();
        } else if (!value) {
            if (sim::RegKey* mapped = ws.FindKey(HKEY_CURRENT_USER, kMappedKey)) mapped->values.erase(key);
        } else {
            ws.RegString(HKEY_CURRENT_USER, kMappedKey, key, value);
        }
        return TRUE;
    }
    std::string path = WinIniPath(ws);
    sim::FileNode* node = ws.Find(path);
    if (node) {
        if (node->directory || (node->attributes & FILE_ATTRIBUTE_READONLY)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (DWORD conflict = sim::SharingConflict(ws, node, GENERIC_READ | GENERIC_WRITE, 0)) {
            SetLastError(conflict);
            return FALSE;
        }
    } else {
        std::string leaf;
        if (!ws.FindParent(path, &leaf)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        if (!key || !value) return TRUE;  // nothing to delete
        ws.File(path, "");
        node = ws.Find(path);
    }
    std::vector<std::string> lines = SplitLines(node->data);
    Place place = Locate(lines, section, key);
    if (!key) {
        if (place.section >= 0) lines.erase(lines.begin() + place.section, lines.begin() + place.sectionEnd);
    } else if (place.entry >= 0) {
        if (value) {
            std::string entryKey, oldValue;
            IsEntry(lines[place.entry], &entryKey, &oldValue);
            lines[place.entry] = entryKey + "=" + value;
        } else {
            lines.erase(lines.begin() + place.entry);
        }
    } else if (value) {
        std::string line = std::string(key) + "=" + value;
        if (place.section < 0) {
            lines.push_back(std::string("[") + section + "]");
            lines.push_back(line);
        } else {
            // After the section's last entry, before the blank lines that part it from the next.
            int at = place.sectionEnd;
            while (at - 1 > place.section && Trim(lines[at - 1]).empty()) --at;
            lines.insert(lines.begin() + at, line);
        }
    }
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    node->data.assign(text.begin(), text.end());
    return TRUE;
}
