#include "support/share_journal_format.h"

#include <stdio.h>
#include <string.h>

#include "support/admin_only_security.h"
#include "support/crc32.h"

static const char JournalHeaderNT[] = "Kurrelfix share journal 1 NT";
static const char JournalHeader9x[] = "Kurrelfix share journal 1 9x";
// What a share line may hold: the longest name, remark, path and password
// NetShareAdd takes, and the types, permissions and flags it knows.
static const size_t MaxNameUnits = 80;
static const size_t MaxRemarkUnits = 256;
static const size_t MaxPathUnits = MAX_PATH;
static const size_t MaxPasswordUnits = 8;
static const DWORD KnownShareTypeFlags = 0x80000000 | 0x40000000 | 0x08000000 | 0x04000000 | 0x02000000;
static const DWORD MaxShareKind = 3;  // disk, printer, device, IPC
static const DWORD KnownPermissions = 0x7F | 0x8000;
static const DWORD KnownFlags9x = 0x0303;

// ---- writing ------------------------------------------------------------

// The text as it is put together: with `out` NULL only counted.
struct JournalWriter {
    char* out;  // nullptr while counting
    DWORD used;
    DWORD crc;
};

static void Put(JournalWriter* writer, const char* text, DWORD length) {
    if (writer->out) memcpy(writer->out + writer->used, text, length);
    writer->used += length;
    writer->crc = Crc32Continue(writer->crc, text, length);
}
static void PutText(JournalWriter* writer, const char* text) {
    Put(writer, text, static_cast<DWORD>(strlen(text)));
}

static void PutNumber(JournalWriter* writer, unsigned long number) {
    char text[16];
    int length = sprintf(text, " %lu", number);
    Put(writer, text, static_cast<DWORD>(length));
}

// Hex in pieces of a small buffer: a descriptor may run to kilobytes.
static void PutHexBytes(JournalWriter* writer, const BYTE* bytes, DWORD count) {
    PutText(writer, " x");
    char piece[129];
    DWORD used = 0;
    for (DWORD i = 0; i < count; ++i) {
        sprintf(piece + used, "%02X", (unsigned)bytes[i]);
        used += 2;
        if (used == sizeof(piece) - 1) {
            Put(writer, piece, used);
            used = 0;
        }
    }
    Put(writer, piece, used);
}

static void PutWideText(JournalWriter* writer, const WCHAR* text) {
    if (!text) {
        PutText(writer, " -");
        return;
    }
    PutText(writer, " x");
    char unit[5];
    for (const WCHAR* at = text; *at; ++at) {
        sprintf(unit, "%04X", (unsigned)*at);
        Put(writer, unit, 4);
    }
}

static void PutAnsiText(JournalWriter* writer, const char* text, size_t limit) {
    if (!text) {
        PutText(writer, " -");
        return;
    }
    size_t length = 0;
    while (length < limit && text[length]) ++length;
    PutHexBytes(writer, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(length));
}

static void PutShareNT(JournalWriter* writer, const SHARE_INFO_502* share) {
    PutText(writer, "share502");
    PutWideText(writer, share->shi502_netname);
    PutNumber(writer, share->shi502_type);
    PutWideText(writer, share->shi502_remark);
    PutNumber(writer, share->shi502_permissions);
    PutNumber(writer, share->shi502_max_uses);
    PutNumber(writer, share->shi502_current_uses);
    PutWideText(writer, share->shi502_path);
    PutWideText(writer, share->shi502_passwd);
    PutNumber(writer, share->shi502_reserved);
    if (share->shi502_security_descriptor) {
        // The system handed the descriptor out, so its length can be asked.
        DWORD length = GetSecurityDescriptorLength(share->shi502_security_descriptor);
        PutHexBytes(writer, static_cast<const BYTE*>(share->shi502_security_descriptor), length);
    } else {
        PutText(writer, " -");
    }
    PutText(writer, "\r\n");
}

static void PutShare9x(JournalWriter* writer, const share_info_50* share) {
    PutText(writer, "share50");
    PutAnsiText(writer, share->shi50_netname, sizeof(share->shi50_netname));
    PutNumber(writer, share->shi50_type);
    PutNumber(writer, share->shi50_flags);
    PutAnsiText(writer, share->shi50_remark, MaxShareJournalSize);
    PutAnsiText(writer, share->shi50_path, MaxShareJournalSize);
    PutAnsiText(writer, share->shi50_rw_password, sizeof(share->shi50_rw_password));
    PutAnsiText(writer, share->shi50_ro_password, sizeof(share->shi50_ro_password));
    PutText(writer, "\r\n");
}

static void PutJournal(JournalWriter* writer, int nt, void* const* records, int count) {
    PutText(writer, nt ? JournalHeaderNT : JournalHeader9x);
    PutText(writer, "\r\n");
    for (int i = 0; i < count; ++i) {
        if (nt) {
            PutShareNT(writer, static_cast<const SHARE_INFO_502*>(records[i]));
        } else {
            PutShare9x(writer, static_cast<const share_info_50*>(records[i]));
        }
    }
    char end[48];
    int endLength = sprintf(end, "end %d %08lX\r\n", count, (unsigned long)writer->crc);
    Put(writer, end, static_cast<DWORD>(endLength));
}

DWORD FormatShareJournal(int nt, void* const* records, int count, char* out) {
    JournalWriter writer = {out, 0, 0};
    PutJournal(&writer, nt, records, count);
    return writer.used;
}

// ---- reading --------------------------------------------------------------

// What is left to read of the journal (NextLine) or of one of its lines
// (NextToken: the text up to the next blank or the line's end).
struct Cursor {
    const char* at;
    const char* end;
};

static int NextToken(Cursor* cursor, const char** token, size_t* length) {
    if (cursor->at >= cursor->end) return 0;
    const char* start = cursor->at;
    const char* stop = start;
    while (stop < cursor->end && *stop != ' ') ++stop;
    if (stop == start) return 0;  // two blanks in a row, or one at the end
    *token = start;
    *length = static_cast<size_t>(stop - start);
    cursor->at = stop < cursor->end ? stop + 1 : stop;
    if (stop < cursor->end && cursor->at == cursor->end) return 0;  // a trailing blank
    return 1;
}

static int ParseNumber(Cursor* cursor, DWORD limit, DWORD* value) {
    const char* token = nullptr;
    size_t length = 0;
    if (!NextToken(cursor, &token, &length) || length > 10) return 0;
    unsigned long long number = 0;
    for (size_t i = 0; i < length; ++i) {
        if (token[i] < '0' || token[i] > '9') return 0;
        number = number * 10 + static_cast<unsigned>(token[i] - '0');
    }
    if (number > limit) return 0;
    *value = static_cast<DWORD>(number);
    return 1;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A text token: "-" (none) or "x" and hex. Its bytes go to `out` (room for
// `room` bytes); `present` says whether there was a text at all.
static int ParseHex(Cursor* cursor, BYTE* out, size_t room, size_t* count, int* present) {
    const char* token = nullptr;
    size_t length = 0;
    if (!NextToken(cursor, &token, &length)) return 0;
    if (length == 1 && token[0] == '-') {
        *present = 0;
        *count = 0;
        return 1;
    }
    if (token[0] != 'x' || (length - 1) % 2 != 0 || (length - 1) / 2 > room) return 0;
    for (size_t i = 1; i < length; i += 2) {
        int high = HexDigit(token[i]);
        int low = HexDigit(token[i + 1]);
        if (high < 0 || low < 0) return 0;
        out[(i - 1) / 2] = static_cast<BYTE>(high * 16 + low);
    }
    *present = 1;
    *count = (length - 1) / 2;
    return 1;
}

// A UTF-16 text: hex of big-endian units, terminated in `out`.
static int ParseWideText(Cursor* cursor, WCHAR* out, size_t roomUnits, WCHAR** text) {
    BYTE* bytes = reinterpret_cast<BYTE*>(out);
    size_t count = 0;
    int present = 0;
    if (roomUnits == 0 || !ParseHex(cursor, bytes, (roomUnits - 1) * 2, &count, &present)) return 0;
    if (count % 2 != 0) return 0;
    // Turned into units from the back, so that no byte is read after it was written.
    size_t units = count / 2;
    for (size_t i = units; i-- > 0;) {
        WCHAR unit = static_cast<WCHAR>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
        out[i] = unit;
    }
    out[units] = 0;
    for (size_t i = 0; i < units; ++i) {
        if (out[i] == 0) return 0;
    }
    *text = present ? out : nullptr;
    return 1;
}

static int ParseAnsiText(Cursor* cursor, char* out, size_t room, int nullable, char** text) {
    size_t count = 0;
    int present = 0;
    if (room == 0 || !ParseHex(cursor, reinterpret_cast<BYTE*>(out), room - 1, &count, &present))
        return 0;
    if (!present && !nullable) return 0;
    out[count] = '\0';
    if (strlen(out) != count) return 0;
    if (text) *text = present ? out : nullptr;
    return 1;
}

// Room for the texts and the descriptor of a share line of `length` characters.
static size_t ScratchSize(size_t length) { return 3 * length + 64; }


static size_t Units(const WCHAR* text) {
    size_t units = 0;
    while (text && text[units]) ++units;
    return units;
}

// A share line is used only with values NetShareAdd takes.
static int FitsNetShareAdd(const SHARE_INFO_502* record) {
    return Units(record->shi502_netname) <= MaxNameUnits &&
           Units(record->shi502_remark) <= MaxRemarkUnits &&
           Units(record->shi502_path) <= MaxPathUnits &&
           Units(record->shi502_passwd) <= MaxPasswordUnits &&
           (record->shi502_type & 0xFFFF) <= MaxShareKind &&
           (record->shi502_type & ~KnownShareTypeFlags & ~0xFFFFu) == 0 &&
           (record->shi502_permissions & ~KnownPermissions) == 0;
}

static int TakeWords(Cursor* cursor, const char* word) {
    size_t length = strlen(word);
    if (static_cast<size_t>(cursor->end - cursor->at) <= length) return 0;
    if (memcmp(cursor->at, word, length) != 0 || cursor->at[length] != ' ') return 0;
    cursor->at += length + 1;
    return 1;
}

static int ParseShareLine(const char* line, size_t length, int nt, JournalShare* share,
                          BYTE* scratch, size_t scratchSize) {
    memset(share, 0, sizeof(*share));
    Cursor cursor = {line, line + length};
    if (nt) {
        if (!TakeWords(&cursor, "share502")) return 0;
        // No text holds more units than a quarter of the line's characters,
        // nor the descriptor more bytes than half of them.
        size_t units = length / 4 + 2;
        WCHAR* texts = reinterpret_cast<WCHAR*>(scratch);
        BYTE* descriptor = scratch + 4 * units * sizeof(WCHAR);
        if (4 * units * sizeof(WCHAR) + length / 2 + 1 > scratchSize) return 0;
        SHARE_INFO_502* record = &share->nt;
        WCHAR* name = nullptr;
        size_t sdCount = 0;
        int sdPresent = 0;
        if (!ParseWideText(&cursor, texts, units, &name) || !name || !name[0] ||
            !ParseNumber(&cursor, 0xFFFFFFFF, &record->shi502_type) ||
            !ParseWideText(&cursor, texts + units, units, &record->shi502_remark) ||
            !ParseNumber(&cursor, 0xFFFFFFFF, &record->shi502_permissions) ||
            !ParseNumber(&cursor, 0xFFFFFFFF, &record->shi502_max_uses) ||
            !ParseNumber(&cursor, 0xFFFFFFFF, &record->shi502_current_uses) ||
            !ParseWideText(&cursor, texts + 2 * units, units, &record->shi502_path) ||
            !ParseWideText(&cursor, texts + 3 * units, units, &record->shi502_passwd) ||
            !ParseNumber(&cursor, 0xFFFFFFFF, &record->shi502_reserved) ||
            !ParseHex(&cursor, descriptor, length / 2 + 1, &sdCount, &sdPresent)) {
            return 0;
        }
        record->shi502_netname = name;
        record->shi502_security_descriptor = sdPresent ? descriptor : nullptr;
        if (!FitsNetShareAdd(record)) return 0;
        // Every offset of the descriptor is checked before the system looks
        // into it, and its length must be all of its bytes.
        if (sdPresent && (!IsSoundSelfRelativeDescriptor(descriptor, static_cast<DWORD>(sdCount)) ||
                          !IsValidSecurityDescriptor(descriptor) ||
                          GetSecurityDescriptorLength(descriptor) != sdCount)) {
            return 0;
        }
    } else {
        if (!TakeWords(&cursor, "share50")) return 0;
        share_info_50* record = &share->nine;
        size_t room = length / 2 + 2;
        if (2 * room > scratchSize) return 0;
        char* remark = reinterpret_cast<char*>(scratch);
        char* path = remark + room;
        DWORD type = 0;
        DWORD flags = 0;
        if (!ParseAnsiText(&cursor, record->shi50_netname, sizeof(record->shi50_netname), 0,
                           nullptr) ||
            !record->shi50_netname[0] || !ParseNumber(&cursor, 0xFF, &type) ||
            !ParseNumber(&cursor, 0xFFFF, &flags) ||
            !ParseAnsiText(&cursor, remark, room, 1, &record->shi50_remark) ||
            !ParseAnsiText(&cursor, path, room, 1, &record->shi50_path) ||
            !ParseAnsiText(&cursor, record->shi50_rw_password, sizeof(record->shi50_rw_password),
                           0, nullptr) ||
            !ParseAnsiText(&cursor, record->shi50_ro_password, sizeof(record->shi50_ro_password),
                           0, nullptr)) {
            return 0;
        }
        record->shi50_type = static_cast<unsigned char>(type);
        record->shi50_flags = static_cast<unsigned short>(flags);
        if (type > MaxShareKind || (flags & ~KnownFlags9x) != 0 ||
            (record->shi50_remark && strlen(record->shi50_remark) > MaxRemarkUnits) ||
            (record->shi50_path && strlen(record->shi50_path) > MaxPathUnits)) {
            return 0;
        }
    }
    return cursor.at == cursor.end;
}

// The journal's lines, one after the other: `line` and `length` without the
// CR LF. 0 at the end, or at a line without its CR LF.
static int NextLine(Cursor* walk, const char** line, size_t* length) {
    if (walk->at >= walk->end) return 0;
    const char* start = walk->at;
    const char* stop = start;
    while (stop + 1 < walk->end && !(stop[0] == '\r' && stop[1] == '\n')) ++stop;
    if (stop + 1 >= walk->end) return 0;
    *line = start;
    *length = static_cast<size_t>(stop - start);
    walk->at = stop + 2;
    return 1;
}

static int SameLine(const char* line, size_t length, const char* text) {
    return length == strlen(text) && memcmp(line, text, length) == 0;
}

const char* CheckShareJournalText(const char* text, DWORD size, int nt, int* count) {
    if (size < 2 || text[size - 2] != '\r' || text[size - 1] != '\n') return "cut short";
    // The last line: "end COUNT CRC".
    DWORD lastStart = size - 2;
    while (lastStart > 0 && text[lastStart - 1] != '\n') --lastStart;
    unsigned long declaredCount = 0;
    unsigned long declaredCrc = 0;
    char tail = 0;
    char lastLine[48];
    size_t lastLength = size - 2 - lastStart;
    if (lastLength >= sizeof(lastLine)) return "cut short";
    memcpy(lastLine, text + lastStart, lastLength);
    lastLine[lastLength] = '\0';
    if (sscanf(lastLine, "end %lu %8lX%c", &declaredCount, &declaredCrc, &tail) != 2)
        return "cut short";
    // Written back exactly as the writer writes it, or it is not the end line.
    char expected[48];
    sprintf(expected, "end %lu %08lX", declaredCount, declaredCrc);
    if (strcmp(expected, lastLine) != 0) return "cut short";
    if (Crc32(text, lastStart) != declaredCrc) return "checksum does not match";

    Cursor walk = {text, text + lastStart};
    const char* line = nullptr;
    size_t length = 0;
    if (!NextLine(&walk, &line, &length)) return "not a share journal";
    if (!SameLine(line, length, nt ? JournalHeaderNT : JournalHeader9x)) {
        if (SameLine(line, length, nt ? JournalHeader9x : JournalHeaderNT))
            return "written on the other Windows family";
        return "not a share journal";
    }
    unsigned long shares = 0;
    while (NextLine(&walk, &line, &length)) {
        size_t scratchSize = ScratchSize(length);
        BYTE* scratch = static_cast<BYTE*>(AllocBuffer(scratchSize));
        if (!scratch) return "too large to read";
        JournalShare share;
        int parsed = ParseShareLine(line, length, nt, &share, scratch, scratchSize);
        FreeBuffer(scratch);
        if (!parsed) return "a share line cannot be read";
        ++shares;
    }
    // Bytes left before the end line without their CR LF are a line too:
    // the replay would meet them where it looks for the next share.
    if (walk.at != walk.end) return "a share line cannot be read";
    if (shares != declaredCount) return "count does not match";
    *count = static_cast<int>(shares);
    return nullptr;
}

void StartShareJournalWalk(ShareJournalWalk* walk, const char* text, DWORD size, int nt) {
    walk->at = text;
    walk->end = text + size;
    walk->nt = nt;
    Cursor lines = {walk->at, walk->end};
    const char* line = nullptr;
    size_t length = 0;
    if (NextLine(&lines, &line, &length)) walk->at = lines.at;  // the header, checked already
}

int NextJournalShare(ShareJournalWalk* walk, JournalShare* share) {
    memset(share, 0, sizeof(*share));
    Cursor lines = {walk->at, walk->end};
    const char* line = nullptr;
    size_t length = 0;
    if (!NextLine(&lines, &line, &length)) return 0;
    if (length >= 4 && memcmp(line, "end ", 4) == 0) return 0;
    walk->at = lines.at;
    size_t scratchSize = ScratchSize(length);
    BYTE* scratch = static_cast<BYTE*>(AllocBuffer(scratchSize));
    // The text was found sound before the walk: only memory can be short now.
    if (!scratch || !ParseShareLine(line, length, walk->nt, share, scratch, scratchSize)) {
        if (scratch) FreeBuffer(scratch);
        memset(share, 0, sizeof(*share));
        return -1;
    }
    share->scratch = scratch;
    return 1;
}

void FreeJournalShare(JournalShare* share) {
    if (share->scratch) FreeBuffer(share->scratch);
    share->scratch = nullptr;
}

// ---- the names, from any text ----------------------------------------------

void ListShareJournalNames(int nt, const char* text, DWORD size, char* names, size_t room) {
    size_t used = 0;
    names[0] = '\0';
    Cursor walk = {text, text + size};
    const char* line = nullptr;
    size_t length = 0;
    NextLine(&walk, &line, &length);  // the header
    WCHAR wide[MaxNameUnits + 1];
    char name[3 * MaxNameUnits + 1];
    while (NextLine(&walk, &line, &length)) {
        Cursor cursor = {line, line + length};
        name[0] = '\0';
        if (nt && TakeWords(&cursor, "share502")) {
            WCHAR* parsed = nullptr;
            if (ParseWideText(&cursor, wide, MaxNameUnits + 1, &parsed) && parsed) {
                ShareNameToAnsi(parsed, name, sizeof(name));
            }
        } else if (!nt && TakeWords(&cursor, "share50")) {
            ParseAnsiText(&cursor, name, 13, 0, nullptr);
        } else {
            continue;
        }
        if (!name[0]) continue;
        for (char* at = name; *at; ++at) {
            if (static_cast<unsigned char>(*at) < 0x20 || *at == 0x7F) *at = '?';
        }
        size_t needed = strlen(name) + 1;
        if (used + needed + 4 >= room) {
            strcpy(names + used, " ...");
            return;
        }
        names[used++] = ' ';
        strcpy(names + used, name);
        used += needed - 1;
    }
    if (used == 0) strcpy(names, " (none)");
}
