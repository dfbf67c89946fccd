#include "support/ascii_text.h"

static char FoldLetter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

int SameAsciiTextIgnoringCase(const char* a, const char* b) {
    if (!a || !b) return 0;
    for (;; ++a, ++b) {
        if (FoldLetter(*a) != FoldLetter(*b)) return 0;
        if (!*a) return 1;
    }
}
