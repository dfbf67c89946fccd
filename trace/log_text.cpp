#include "trace/log_text.h"

#include <string.h>

static bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

size_t AppendCodePointEscape(unsigned long codePoint, char* out, size_t used, size_t size) {
    static const char Hex[] = "0123456789ABCDEF";
    char digits[8];
    int count = 0;
    // At least four digits, as code points are usually written.
    do {
        digits[count++] = Hex[codePoint & 0xF];
        codePoint >>= 4;
    } while ((codePoint != 0 || count < 4) && count < 8);
    size_t length = 3 + static_cast<size_t>(count) + 1;  // "<U+" digits ">"
    if (size == 0 || used + length > size - 1) return used;
    out[used++] = '<';
    out[used++] = 'U';
    out[used++] = '+';
    while (count > 0) out[used++] = digits[--count];
    out[used++] = '>';
    out[used] = '\0';
    return used;
}

size_t EscapeForLog(const char* text, size_t length, char* out, size_t size) {
    if (size == 0) return 0;
    size_t used = 0;
    out[0] = '\0';
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsControl(c)) {
            size_t grown = AppendCodePointEscape(c, out, used, size);
            if (grown == used) break;
            used = grown;
            continue;
        }
        if (used + 1 > size - 1) break;
        out[used++] = static_cast<char>(c);
    }
    out[used] = '\0';
    return used;
}

LogText Escaped(const char* text) {
    LogText escaped;
    if (!text) text = "";
    EscapeForLog(text, strlen(text), escaped.text, sizeof(escaped.text));
    return escaped;
}
