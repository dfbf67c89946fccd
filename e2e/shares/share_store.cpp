#include "share_store.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

std::wstring WindowsFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::wstring(L"C:\\windows\\") + name;
    std::wstring path(dir, n);
    if (path.back() != L'\\') path += L'\\';
    return path + name;
}

// Another process may hold the file for its own read-modify-write; it lets
// go within milliseconds, so waiting a few seconds is plenty.
HANDLE OpenLocked(const std::wstring& path, DWORD access, DWORD disposition) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        HANDLE file = CreateFileW(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return file;
        Sleep(10);
    }
    return INVALID_HANDLE_VALUE;
}

bool KeepsByte(unsigned char c) { return c > 0x20 && c < 0x7F && c != '%' && c != '='; }

std::string Escape(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (KeepsByte(c)) {
            out += (char)c;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += (char)(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
        if (end > at) words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

unsigned long Number(const std::string& text) { return strtoul(text.c_str(), nullptr, 0); }

std::string Decimal(unsigned long value) {
    char text[16];
    snprintf(text, sizeof text, "%lu", value);
    return text;
}

std::string Hex(unsigned long value) {
    char text[16];
    snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

void SetText(StoredText& field, const std::string& value) {
    field.present = true;
    field.utf8 = Unescape(value);
}

StoredShare ParseShare(const std::vector<std::string>& words) {
    StoredShare share;
    for (size_t i = 1; i < words.size(); ++i) {
        size_t eq = words[i].find('=');
        if (eq == std::string::npos) continue;
        std::string key = words[i].substr(0, eq);
        std::string value = words[i].substr(eq + 1);
        if (key == "name") share.name = Unescape(value);
        else if (key == "type") share.type = Number(value);
        else if (key == "remark") SetText(share.remark, value);
        else if (key == "permissions") share.permissions = Number(value);
        else if (key == "max_uses") share.max_uses = Number(value);
        else if (key == "current_uses") share.current_uses = Number(value);
        else if (key == "path") SetText(share.path, value);
        else if (key == "passwd") SetText(share.passwd, value);
        else if (key == "reserved") share.reserved = Number(value);
        else if (key == "flags") share.flags = Number(value);
        else if (key == "rw_password") SetText(share.rw_password, value);
        else if (key == "ro_password") SetText(share.ro_password, value);
        else if (key == "sd") {
            share.has_sd = true;
            share.sd.clear();
            for (size_t j = 0; j + 1 < value.size(); j += 2) {
                int hi = HexDigit(value[j]), lo = HexDigit(value[j + 1]);
                if (hi < 0 || lo < 0) break;
                share.sd.push_back((unsigned char)(hi * 16 + lo));
            }
        }
    }
    return share;
}

void PutText(std::string& line, const char* key, const StoredText& field) {
    if (!field.present) return;
    line += ' ';
    line += key;
    line += '=';
    line += Escape(field.utf8);
}

std::string ShareLine(const StoredShare& share) {
    std::string line = "share name=" + Escape(share.name);
    line += " type=" + Hex(share.type);
    PutText(line, "remark", share.remark);
    line += " permissions=" + Decimal(share.permissions);
    line += " max_uses=" + Decimal(share.max_uses);
    line += " current_uses=" + Decimal(share.current_uses);
    PutText(line, "path", share.path);
    PutText(line, "passwd", share.passwd);
    line += " reserved=" + Decimal(share.reserved);
    if (share.has_sd) {
        static const char hex[] = "0123456789abcdef";
        line += " sd=";
        for (unsigned char b : share.sd) {
            line += hex[b >> 4];
            line += hex[b & 15];
        }
    }
    line += " flags=" + Decimal(share.flags);
    PutText(line, "rw_password", share.rw_password);
    PutText(line, "ro_password", share.ro_password);
    return line;
}

bool SameName(const std::string& a, const std::string& b) {
    std::wstring wa = WideFromUtf8(a), wb = WideFromUtf8(b);
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, wa.c_str(), (int)wa.size(), wb.c_str(),
                          (int)wb.size()) == CSTR_EQUAL;
}

}  // namespace

std::string EscapeText(const std::string& utf8) { return Escape(utf8); }

bool OpenStore(StoreLock& lock, ShareStore& store) {
    store = ShareStore();
    lock.file = OpenLocked(WindowsFile(L"kurrel-shares.txt"), GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (lock.file == INVALID_HANDLE_VALUE) return false;
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(lock.file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> words = Words(line);
        if (words.empty()) continue;
        if (words[0] == "share") {
            store.shares.push_back(ParseShare(words));
        } else if (words[0] == "switch" && words.size() >= 3) {
            StoredSwitch sw;
            sw.kind = words[1];
            if (words.size() >= 4) {
                sw.name = Unescape(words[2]);
                sw.value = Number(words[3]);
            } else {
                sw.value = Number(words[2]);
            }
            store.switches.push_back(sw);
        } else {
            store.other_lines.push_back(line);
        }
    }
    return true;
}

bool SaveStore(StoreLock& lock, const ShareStore& store) {
    std::string text;
    for (const std::string& line : store.other_lines) text += line + "\n";
    for (const StoredSwitch& sw : store.switches) {
        text += "switch " + sw.kind;
        if (!sw.name.empty()) text += " " + Escape(sw.name);
        text += " " + Decimal(sw.value) + "\n";
    }
    for (const StoredShare& share : store.shares) text += ShareLine(share) + "\n";
    if (SetFilePointer(lock.file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
    DWORD written = 0;
    if (!WriteFile(lock.file, text.data(), (DWORD)text.size(), &written, nullptr) || written != text.size())
        return false;
    return SetEndOfFile(lock.file) != FALSE;
}

void CloseStore(StoreLock& lock) {
    if (lock.file != INVALID_HANDLE_VALUE) CloseHandle(lock.file);
    lock.file = INVALID_HANDLE_VALUE;
}

int FindShare(const ShareStore& store, const std::string& name) {
    for (size_t i = 0; i < store.shares.size(); ++i)
        if (SameName(store.shares[i].name, name)) return (int)i;
    return -1;
}

const StoredSwitch* FindSwitch(const ShareStore& store, const char* kind, const std::string& name) {
    for (const StoredSwitch& sw : store.switches)
        if (sw.kind == kind && (name.empty() || SameName(sw.name, name))) return &sw;
    return nullptr;
}

std::string Utf8FromWide(const wchar_t* text) {
    if (!text || !*text) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    return out;
}

std::string Utf8FromAnsi(const char* text) {
    if (!text || !*text) return std::string();
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
    return Utf8FromWide(wide.c_str());
}

std::string AnsiFromUtf8(const std::string& text) {
    std::wstring wide = WideFromUtf8(text);
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

void LogCall(HMODULE self, const std::string& function_and_details) {
    wchar_t module[MAX_PATH];
    DWORD n = GetModuleFileNameW(self, module, MAX_PATH);
    std::string line = (n > 0 && n < MAX_PATH) ? Utf8FromWide(module) : std::string("?");
    line += " " + function_and_details + "\n";
    HANDLE file = OpenLocked(WindowsFile(L"kurrel-shares.log"), GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, line.data(), (DWORD)line.size(), &written, nullptr);
    CloseHandle(file);
}
