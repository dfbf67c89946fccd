#include "support/wide_names.h"

#include <string.h>

#include "trace/log_text.h"

namespace {

WCHAR UpperAscii(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

bool SameAscii(const WCHAR* name, size_t length, const char* word) {
    for (size_t i = 0; i < length; ++i) {
        if (!word[i] || UpperAscii(name[i]) != static_cast<WCHAR>(word[i])) return false;
    }
    return word[length] == '\0';
}

}  // namespace

int AnsiNameExactly(const WCHAR* name, char* ansi, size_t size, size_t* length) {
    *length = 0;
    if (size == 0) return 0;
    BOOL usedDefault = FALSE;
    int written = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, ansi, static_cast<int>(size),
                                      nullptr, &usedDefault);
    if (written <= 0) {
        // Too long for the buffer (or a failed call): the readable form names it.
        ansi[0] = '\0';
        return 0;
    }
    ansi[written - 1] = '\0';
    *length = static_cast<size_t>(written - 1);
    return usedDefault ? 0 : 1;
}

int OpensAsItself(const WCHAR* name) {
    size_t length = 0;
    while (name[length]) ++length;
    if (length == 0 || name[length - 1] == '.' || name[length - 1] == ' ') return 0;
    size_t base = 0;
    while (base < length && name[base] != '.') ++base;
    while (base > 0 && name[base - 1] == ' ') --base;
    if (SameAscii(name, base, "CON") || SameAscii(name, base, "PRN") || SameAscii(name, base, "AUX") ||
        SameAscii(name, base, "NUL")) {
        return 0;
    }
    if (base == 4 && (SameAscii(name, 3, "COM") || SameAscii(name, 3, "LPT")) && name[3] >= '1' && name[3] <= '9')
        return 0;
    return 1;
}

int AnsiPathReachesItself(const WCHAR* path, const char* ansi) {
    char exact[MAX_PATH];
    size_t length = 0;
    if (!AnsiNameExactly(path, exact, sizeof(exact), &length) || strcmp(exact, ansi) != 0) return 0;
    // Each name after the drive, one at a time (the drive's own "C:" is none).
    WCHAR name[MAX_PATH];
    for (const WCHAR* at = path; *at;) {
        const WCHAR* end = at;
        while (*end && *end != '\\') ++end;
        size_t size = static_cast<size_t>(end - at);
        bool drive = size == 2 && at[1] == ':';
        if (size > 0 && !drive) {
            if (size >= MAX_PATH) return 0;
            memcpy(name, at, size * sizeof(WCHAR));
            name[size] = 0;
            if (!OpensAsItself(name)) return 0;
        }
        at = *end ? end + 1 : end;
    }
    return 1;
}

size_t AppendShownName(const WCHAR* name, size_t length, char* out, size_t used, size_t size) {
    if (size == 0) return 0;
    for (size_t at = 0; at < length;) {
        size_t units = 1;
        unsigned long point = name[at];
        if (point >= 0xD800 && point < 0xDC00 && at + 1 < length && name[at + 1] >= 0xDC00 && name[at + 1] < 0xE000) {
            point = 0x10000 + ((point - 0xD800) << 10) + (name[at + 1] - 0xDC00);
            units = 2;
        }
        char bytes[8];
        BOOL usedDefault = FALSE;
        int written = point < 0x20 || point == 0x7F
                          ? 0
                          : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name + at, static_cast<int>(units),
                                                bytes, sizeof(bytes), nullptr, &usedDefault);
        if (written > 0 && !usedDefault) {
            if (used + static_cast<size_t>(written) > size - 1) break;
            memcpy(out + used, bytes, static_cast<size_t>(written));
            used += static_cast<size_t>(written);
        } else {
            size_t grown = AppendCodePointEscape(point, out, used, size);
            if (grown == used) break;
            used = grown;
        }
        at += units;
    }
    out[used] = '\0';
    return used;
}
