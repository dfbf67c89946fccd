// Any bytes as WININIT.INI: load, save, load again. The second document must
// be the first one, except for what the file format cannot carry:
// - a blank count of 0 or less (128 or more blanks, counted in 8 bits) writes
//   no blanks, so counts are compared by the blanks they write;
// - Save puts line ends between lines and Load ends a line at one, so an empty
//   last line leaves nothing on disk and does not come back.
// And every line of the file is one line of the first document: a header, an
// entry or a plain line, however long it is.
// What text mode does to the bytes (CR LF read as LF, Ctrl+Z ending the file)
// happens at the first load already and is the same at the second.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "sim/workstation.h"
#include "support/ini_document.h"

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The file as the text-mode stream hands it over: up to Ctrl+Z, CR LF as LF.
static std::string AsRead(const uint8_t* data, size_t size) {
    std::string text;
    for (size_t i = 0; i < size && data[i] != 0x1A; ++i) {
        if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
        text += static_cast<char>(data[i]);
    }
    return text;
}

// How many lines the file has, and how many of them are section headers.
static void CountLines(const std::string& text, size_t* lines, size_t* headers) {
    *lines = 0;
    *headers = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        line = line.substr(0, line.find('\0'));  // a text ends at a NUL byte
        size_t first = 0;
        while (first < line.size() && IsBlank(line[first])) ++first;
        if (first < line.size() && line[first] == '[' && line.find(']', first) != std::string::npos)
            ++*headers;
        ++*lines;
        start = end + 1;
    }
}

static size_t CountEntries(const IniSection* section) {
    size_t count = 0;
    for (; section; section = section->next) {
        for (const IniEntry* entry = section->entries; entry; entry = entry->next) ++count;
    }
    return count;
}

static bool SameText(const char* a, const char* b) {
    if (!a || !b) return a == b;
    return strcmp(a, b) == 0;
}

static int BlanksWritten(int8_t count) { return count > 0 ? count : 0; }

static bool SameEntries(const IniEntry* a, const IniEntry* b) {
    for (; a && b; a = a->next, b = b->next) {
        if (!SameText(a->key, b->key) || !SameText(a->text, b->text)) return false;
        if (!a->key) continue;  // a plain line's counts play no part
        if (BlanksWritten(a->indent) != BlanksWritten(b->indent) ||
            BlanksWritten(a->blanksBeforeEquals) != BlanksWritten(b->blanksBeforeEquals) ||
            BlanksWritten(a->blanksAfterEquals) != BlanksWritten(b->blanksAfterEquals))
            return false;
    }
    return a == b;
}

static bool SameSections(const IniSection* a, const IniSection* b) {
    for (; a && b; a = a->next, b = b->next) {
        if (!SameText(a->name, b->name) || !SameEntries(a->entries, b->entries)) return false;
    }
    return a == b;
}

// The document as it comes back from its file: without an empty last line,
// and without a head section that held only that line.
static void DropEmptyLastLine(IniDocument* document) {
    IniSection* last = document->sections;
    while (last && last->next) last = last->next;
    if (!last) last = document->head;
    if (!last || !last->entries) return;
    IniEntry* before = nullptr;
    IniEntry* entry = last->entries;
    while (entry->next) {
        before = entry;
        entry = entry->next;
    }
    if (entry->key || (entry->text && entry->text[0])) return;
    last->entries = UnlinkNode(last->entries, before);
    delete entry;
    if (last == document->head && !last->entries) {
        delete document->head;
        document->head = nullptr;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = "C:\\WINDOWS\\WININIT.INI";
    sim::Workstation ws;
    ws.FileBytes(path, std::vector<uint8_t>(data, data + size));
    IniDocument first;
    if (first.Load(path) != 0) __builtin_trap();
    size_t lines = 0, headers = 0;
    CountLines(AsRead(data, size), &lines, &headers);
    if (CountEntries(first.head) + CountEntries(first.sections) + headers != lines)
        __builtin_trap();
    if (first.Save(path) != 0) __builtin_trap();
    IniDocument second;
    if (second.Load(path) != 0) __builtin_trap();
    DropEmptyLastLine(&first);
    if (!SameSections(first.head, second.head) || !SameSections(first.sections, second.sections))
        __builtin_trap();
    return 0;
}
