// An INI file held in memory, so that single entries can be changed and the
// file written back with every other line as it was: comments, blank lines,
// lines that are not entries, and the blanks around each "=". We use it to add
// entries to the "rename" section of WININIT.INI on Windows 9x.
#ifndef KURRELFIX_SUPPORT_INI_DOCUMENT_H
#define KURRELFIX_SUPPORT_INI_DOCUMENT_H

#include <stdint.h>
#include <stdio.h>

// One line of a section: an entry ("key = value") or a plain line (anything
// else, kept as read). The counts record how many blanks there were, in 8
// bits: they wrap while counting, and a count of 0 or less writes no blanks.
class IniEntry {
public:
    IniEntry(const char* key, const char* text);
    ~IniEntry();
    IniEntry(const IniEntry&) = delete;
    IniEntry& operator=(const IniEntry&) = delete;

    IniEntry* next;
    char* key;   // none for a plain line
    char* text;  // the value, or the whole plain line without its line end
    int8_t indent;
    int8_t blanksBeforeEquals;
    int8_t blanksAfterEquals;
};

// One section; it owns its entries. The head section (lines before the first
// header) has no name.
class IniSection {
public:
    explicit IniSection(const char* name);
    ~IniSection();
    IniSection(const IniSection&) = delete;
    IniSection& operator=(const IniSection&) = delete;

    IniSection* next;
    char* name;
    IniEntry* entries;
};

class IniDocument {
public:
    IniDocument();
    ~IniDocument();
    IniDocument(const IniDocument&) = delete;
    IniDocument& operator=(const IniDocument&) = delete;

    void Clear();
    // 0 when the file was read, 1 when it could not be opened or read whole;
    // the document is then empty.
    int Load(const char* path);
    // 0 when the file was written, 1 when it could not be opened or written.
    int Save(const char* path);
    // Adds, replaces or (with no value) removes the occurrence-th entry of the
    // key in the section; with no key removes the whole section.
    void SetEntry(const char* section, const char* key, const char* value, int occurrence);

    IniSection* head;      // lines before the first header, or none
    IniSection* sections;  // named sections in the order of their first header
};

// Section names and keys match without regard to the case of A to Z only.

// The first section named so, or none. *predecessor gets the section before
// it (none for the first), or the last section when nothing matches.
IniSection* FindSection(IniSection* list, const char* name, IniSection** predecessor);

// The occurrence-th entry (from 0) of the key, counting only entries of that
// key; plain lines never match. *predecessor works as for FindSection.
IniEntry* FindEntry(IniEntry* list, const char* key, IniEntry** predecessor, int occurrence);

// Attaches the node at the end of the list; returns the list's first node.
template <typename Node>
Node* AppendNode(Node* list, Node* node) {
    if (!list) return node;
    Node* last = list;
    while (last->next) last = last->next;
    last->next = node;
    return list;
}

// Takes the node after the predecessor (with none, the first node) out of the
// list without releasing it; returns the list's first node.
template <typename Node>
Node* UnlinkNode(Node* list, Node* predecessor) {
    Node* taken = predecessor ? predecessor->next : list;
    if (!taken) return list;
    if (predecessor) {
        predecessor->next = taken->next;
    } else {
        list = taken->next;
    }
    taken->next = nullptr;
    return list;
}

// Writes the entry as one line, without its line end.
void WriteEntry(const IniEntry* entry, FILE* stream);

#endif
