#include "support/ini_document.h"

#include <string.h>

#include "platform/crt_seam.h"
#include "support/ascii_text.h"

static char* CopyText(const char* text) {
    if (!text) return nullptr;
    size_t size = strlen(text) + 1;
    char* copy = new char[size];
    memcpy(copy, text, size);
    return copy;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The counts live in 8 signed bits: 127 blanks and one more read as -128.
static int8_t CountOneMore(int8_t count) {
    return count == INT8_MAX ? INT8_MIN : static_cast<int8_t>(count + 1);
}

IniEntry::IniEntry(const char* key, const char* text)
    : next(nullptr),
      key(CopyText(key)),
      text(CopyText(text)),
      indent(0),
      blanksBeforeEquals(0),
      blanksAfterEquals(0) {}

IniEntry::~IniEntry() {
    delete[] key;
    delete[] text;
}

IniSection::IniSection(const char* name) : next(nullptr), name(CopyText(name)), entries(nullptr) {}

IniSection::~IniSection() {
    while (entries) {
        IniEntry* entry = entries;
        entries = entry->next;
        delete entry;
    }
    delete[] name;
}

IniSection* FindSection(IniSection* list, const char* name, IniSection** predecessor) {
    IniSection* before = nullptr;
    for (IniSection* section = list; section; section = section->next) {
        if (SameAsciiTextIgnoringCase(section->name, name)) {
            if (predecessor) *predecessor = before;
            return section;
        }
        before = section;
    }
    if (predecessor) *predecessor = before;
    return nullptr;
}

IniEntry* FindEntry(IniEntry* list, const char* key, IniEntry** predecessor, int occurrence) {
    IniEntry* before = nullptr;
    int seen = 0;
    for (IniEntry* entry = list; entry; entry = entry->next) {
        if (key && SameAsciiTextIgnoringCase(entry->key, key)) {
            if (seen == occurrence) {
                if (predecessor) *predecessor = before;
                return entry;
            }
            ++seen;
        }
        before = entry;
    }
    if (predecessor) *predecessor = before;
    return nullptr;
}

static void WriteBlanks(int8_t count, FILE* stream) {
    for (int i = 0; i < count; ++i) fputc(' ', stream);
}

void WriteEntry(const IniEntry* entry, FILE* stream) {
    if (!entry->key) {
        fputs(entry->text ? entry->text : "", stream);
        return;
    }
    WriteBlanks(entry->indent, stream);
    fputs(entry->key, stream);
    WriteBlanks(entry->blanksBeforeEquals, stream);
    fputc('=', stream);
    WriteBlanks(entry->blanksAfterEquals, stream);
    fputs(entry->text ? entry->text : "", stream);
}

IniDocument::IniDocument() : head(nullptr), sections(nullptr) {}

IniDocument::~IniDocument() { Clear(); }

void IniDocument::Clear() {
    delete head;
    head = nullptr;
    while (sections) {
        IniSection* section = sections;
        sections = section->next;
        delete section;
    }
}

namespace {

// A line buffer that grows to hold a whole line: a system file must come back
// from a load and save with its long lines in one piece.
struct LineBuffer {
    char* text;
    size_t size;
};

bool GrowLine(LineBuffer* line) {
    if (line->size > static_cast<size_t>(-1) / 2) return false;
    char* larger = static_cast<char*>(AllocBuffer(line->size * 2));
    if (!larger) return false;
    memcpy(larger, line->text, line->size);
    FreeBuffer(line->text);
    line->text = larger;
    line->size *= 2;
    return true;
}

// 1: a line, without its line feed; 0: the end of the file; -1: the line did
// not fit into memory.
int ReadLine(FILE* stream, LineBuffer* line) {
    size_t length = 0;
    int c = getc(stream);
    if (c == EOF) return 0;
    while (c != EOF && c != '\n') {
        if (length + 1 == line->size && !GrowLine(line)) return -1;
        line->text[length++] = static_cast<char>(c);
        c = getc(stream);
    }
    line->text[length] = '\0';
    return 1;
}

}  // namespace

// One line of the file, parsed into the section that is current (none: the
// head section). A header changes the current section.
static void AddLine(IniDocument* document, IniSection** current, const char* line) {
    const char* start = line;
    int8_t indent = 0;
    while (IsBlank(*start)) {
        indent = CountOneMore(indent);
        ++start;
    }
    IniEntry* entry = nullptr;
    const char* equals = nullptr;
    if (*start == '[') {
        const char* close = strchr(start + 1, ']');
        if (close) {
            // Whatever follows the "]" is dropped, a comment included.
            size_t length = static_cast<size_t>(close - start - 1);
            char* name = new char[length + 1];
            memcpy(name, start + 1, length);
            name[length] = '\0';
            IniSection* section = FindSection(document->sections, name, nullptr);
            if (!section) {
                section = new IniSection(name);
                document->sections = AppendNode(document->sections, section);
            }
            delete[] name;
            *current = section;
            return;
        }
    } else if (*start != '\0' && *start != ';') {
        equals = strchr(start, '=');
    }
    if (!equals) {
        entry = new IniEntry(nullptr, line);
    } else {
        const char* keyEnd = equals;
        int8_t before = 0;
        while (keyEnd > start && IsBlank(keyEnd[-1])) {
            before = CountOneMore(before);
            --keyEnd;
        }
        const char* value = equals + 1;
        int8_t after = 0;
        while (IsBlank(*value)) {
            after = CountOneMore(after);
            ++value;
        }
        size_t keyLength = static_cast<size_t>(keyEnd - start);
        char* key = new char[keyLength + 1];
        memcpy(key, start, keyLength);
        key[keyLength] = '\0';
        entry = new IniEntry(key, value);
        delete[] key;
        entry->indent = indent;
        entry->blanksBeforeEquals = before;
        entry->blanksAfterEquals = after;
    }
    if (!*current) {
        if (!document->head) document->head = new IniSection(nullptr);
        document->head->entries = AppendNode(document->head->entries, entry);
    } else {
        (*current)->entries = AppendNode((*current)->entries, entry);
    }
}

int IniDocument::Load(const char* path) {
    Clear();
    FILE* stream = CrtFopen(path, "rt");
    if (!stream) return 1;
    LineBuffer line = {static_cast<char*>(AllocBuffer(1024)), 1024};
    if (!line.text) {
        fclose(stream);
        return 1;
    }
    IniSection* current = nullptr;
    int got = ReadLine(stream, &line);
    while (got == 1) {
        AddLine(this, &current, line.text);
        got = ReadLine(stream, &line);
    }
    // Half a file saved back would lose the rest of it: report it as unread.
    bool whole = got == 0 && !ferror(stream);
    FreeBuffer(line.text);
    fclose(stream);
    if (!whole) {
        Clear();
        return 1;
    }
    return 0;
}

int IniDocument::Save(const char* path) {
    FILE* stream = CrtFopen(path, "wt");
    if (!stream) return 1;
    if (head) {
        for (IniEntry* entry = head->entries; entry; entry = entry->next) {
            WriteEntry(entry, stream);
            if (entry->next || sections) fputc('\n', stream);
        }
    }
    for (IniSection* section = sections; section; section = section->next) {
        fprintf(stream, "[%s]\n", section->name);
        for (IniEntry* entry = section->entries; entry; entry = entry->next) {
            WriteEntry(entry, stream);
            if (entry->next || section->next) fputc('\n', stream);
        }
    }
    // A file that did not reach the disk whole must not be taken as saved.
    bool written = !ferror(stream);
    if (fclose(stream) != 0) written = false;
    return written ? 0 : 1;
}

void IniDocument::SetEntry(const char* section, const char* key, const char* value,
                           int occurrence) {
    if (!section) return;
    IniSection* sectionBefore = nullptr;
    IniSection* found = FindSection(sections, section, &sectionBefore);
    if (!key) {
        if (found) {
            sections = UnlinkNode(sections, sectionBefore);
            delete found;
        }
        return;
    }
    if (!found) {
        found = new IniSection(section);
        sections = AppendNode(sections, found);
    }
    IniEntry* entryBefore = nullptr;
    IniEntry* entry = FindEntry(found->entries, key, &entryBefore, occurrence);
    if (!value) {
        if (entry) {
            found->entries = UnlinkNode(found->entries, entryBefore);
            delete entry;
        }
        return;
    }
    if (entry) {
        delete[] entry->text;
        entry->text = CopyText(value);
    } else {
        found->entries = AppendNode(found->entries, new IniEntry(key, value));
    }
}
