// Text conversions of the simulated workstation, and WideCharToMultiByte and
// MultiByteToWideChar over them.
#include "sim/code_page.h"

#include <stdint.h>
#include <string.h>

#include "sim/workstation.h"

namespace sim {

namespace {

// Windows-1252's bytes 0x80 to 0x9F; the five it leaves undefined map to the
// control code point of the same number, as Windows maps them.
const uint16_t kHighTable[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The byte of a code point, or -1 when the code page lacks it.
int ByteOf(uint32_t point) {
    if (point < 0x80 || (point >= 0xA0 && point <= 0xFF)) return static_cast<int>(point);
    for (int i = 0; i < 32; ++i) {
        if (kHighTable[i] == point) return 0x80 + i;
    }
    return -1;
}

// A near letter that best fit gives, or -1.
int BestFit(uint32_t point) {
    if (point >= 0xFF01 && point <= 0xFF5E) return static_cast<int>(point - 0xFF01 + 0x21);  // fullwidth forms
    struct Near {
        uint32_t point;
        char letter;
    };
    static const Near kNear[] = {{0x0100, 'A'}, {0x0101, 'a'}, {0x0106, 'C'}, {0x0107, 'c'},
                                 {0x0141, 'L'}, {0x0142, 'l'}, {0x0150, 'O'}, {0x0151, 'o'}};
    for (const Near& near : kNear) {
        if (near.point == point) return static_cast<unsigned char>(near.letter);
    }
    return -1;
}

// Decodes one UTF-8 sequence at `at`, moving it on.
uint32_t NextPoint(std::string_view text, size_t* at) {
    unsigned char first = static_cast<unsigned char>(text[*at]);
    int length = first < 0x80 ? 1 : (first >> 5) == 6 ? 2 : (first >> 4) == 14 ? 3 : (first >> 3) == 30 ? 4 : 0;
    if (length == 0 || *at + length > text.size()) {
        ++*at;
        return 0xFFFD;
    }
    uint32_t point = length == 1 ? first : first & (0x7F >> length);
    for (int i = 1; i < length; ++i) point = (point << 6) | (static_cast<unsigned char>(text[*at + i]) & 0x3F);
    *at += length;
    return point;
}

// Decodes one UTF-16 code point at `at`, moving it on.
uint32_t NextPoint(const WCHAR* text, size_t length, size_t* at) {
    uint32_t point = text[(*at)++];
    if (point >= 0xD800 && point < 0xDC00 && *at < length && text[*at] >= 0xDC00 && text[*at] < 0xE000) {
        point = 0x10000 + ((point - 0xD800) << 10) + (text[(*at)++] - 0xDC00);
    }
    return point;
}

void PutUtf8(uint32_t point, std::string* out) {
    if (point < 0x80) {
        *out += static_cast<char>(point);
    } else if (point < 0x800) {
        *out += static_cast<char>(0xC0 | (point >> 6));
        *out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        *out += static_cast<char>(0xE0 | (point >> 12));
        *out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (point >> 18));
        *out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

// The ANSI byte of a code point and whether the default was used.
char AnsiByte(uint32_t point, bool bestFit, bool* usedDefault) {
    int byte = ByteOf(point);
    if (byte < 0 && bestFit) byte = BestFit(point);
    if (byte >= 0) return static_cast<char>(byte);
    *usedDefault = true;
    return '?';
}

}  // namespace

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

size_t Utf16Into(std::string_view utf8, WCHAR* out, size_t size) {
    if (size == 0) return 0;
    size_t used = 0;
    for (size_t at = 0; at < utf8.size();) {
        uint32_t point = NextPoint(utf8, &at);
        size_t units = point >= 0x10000 ? 2 : 1;
        if (used + units > size - 1) break;
        if (units == 2) {
            point -= 0x10000;
            out[used++] = static_cast<WCHAR>(0xD800 + (point >> 10));
            out[used++] = static_cast<WCHAR>(0xDC00 + (point & 0x3FF));
        } else {
            out[used++] = static_cast<WCHAR>(point);
        }
    }
    out[used] = 0;
    return used;
}

void AppendUtf8(const WCHAR* utf16, size_t length, std::string* out) {
    for (size_t at = 0; at < length;) PutUtf8(NextPoint(utf16, length, &at), out);
}

std::u16string Utf16(std::string_view utf8) {
    std::u16string out(utf8.size() + 1, u'\0');
    size_t used = Utf16Into(utf8, reinterpret_cast<WCHAR*>(&out[0]), out.size());
    out.resize(used);
    return out;
}

std::string Utf8(std::u16string_view utf16) {
    std::string out;
    AppendUtf8(reinterpret_cast<const WCHAR*>(utf16.data()), utf16.size(), &out);
    return out;
}

size_t AnsiInto(std::string_view utf8, bool bestFit, char* out, size_t size, bool* usedDefault) {
    bool used = false;
    size_t written = 0;
    for (size_t at = 0; at < utf8.size() && written + 1 < size;) out[written++] = AnsiByte(NextPoint(utf8, &at), bestFit, &used);
    if (size) out[written] = '\0';
    if (usedDefault) *usedDefault = used;
    return written;
}

std::string AnsiOf(std::string_view utf8, bool bestFit, bool* usedDefault) {
    std::string out(utf8.size() + 1, '\0');
    out.resize(AnsiInto(utf8, bestFit, &out[0], out.size(), usedDefault));
    return out;
}

std::string_view Utf8OfAnsi(std::string_view ansi, std::string* storage) {
    if (IsAscii(ansi)) return ansi;
    storage->clear();
    for (char c : ansi) {
        unsigned char byte = static_cast<unsigned char>(c);
        PutUtf8(byte < 0x80 || byte >= 0xA0 ? byte : kHighTable[byte - 0x80], storage);
    }
    return *storage;
}

}  // namespace sim

// CP_ACP only, with or without best fit; the bytes written (with the
// terminator for a length of -1), or 0 with ERROR_INSUFFICIENT_BUFFER when
// they do not fit. A size of 0 asks for the count.
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideLength, LPSTR ansi,
                               int ansiSize, LPCSTR defaultChar, BOOL* usedDefault) {
    SIM_FAILABLE(0);
    (void)defaultChar;
    if (codePage != CP_ACP || !wide || ansiSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = 0;
    if (wideLength < 0) {
        while (wide[length]) ++length;
        ++length;  // the terminator too
    } else {
        length = static_cast<size_t>(wideLength);
    }
    bool used = false;
    bool bestFit = !(flags & WC_NO_BEST_FIT_CHARS);
    size_t written = 0;
    for (size_t at = 0; at < length;) {
        char byte = sim::AnsiByte(sim::NextPoint(wide, length, &at), bestFit, &used);
        if (ansiSize != 0) {
            if (written >= static_cast<size_t>(ansiSize)) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            ansi[written] = byte;
        }
        ++written;
    }
    if (usedDefault) *usedDefault = used ? TRUE : FALSE;
    return static_cast<int>(written);
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR ansi, int ansiLength, WCHAR* wide, int wideSize) {
    SIM_FAILABLE(0);
    (void)flags;
    if (codePage != CP_ACP || !ansi || wideSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = ansiLength < 0 ? strlen(ansi) + 1 : static_cast<size_t>(ansiLength);
    if (wideSize == 0) return static_cast<int>(length);
    if (length > static_cast<size_t>(wideSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(ansi[i]);
        wide[i] = static_cast<WCHAR>(byte < 0x80 || byte >= 0xA0 ? byte : sim::kHighTable[byte - 0x80]);
    }
    return static_cast<int>(length);
}
