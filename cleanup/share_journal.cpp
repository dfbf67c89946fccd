#include "cleanup/share_journal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cleanup/network_shares.h"
#include "support/admin_only_security.h"
#include "support/crc32.h"
#include "support/system_library.h"
#include "support/tool_record.h"
#include "trace/trace_log.h"

KF_PROCESS_STATE int ShareJournalWritten;

static const char JournalName[] = "Kurrelfix-shares.jnl";
static const char JournalHeaderNT[] = "Kurrelfix share journal 1 NT";
static const char JournalHeader9x[] = "Kurrelfix share journal 1 9x";
// A journal of thousands of shares stays far below this; a larger file is
// not one of ours.
static const DWORD MaxJournalSize = 4 * 1024 * 1024;
static const int MaxSetAsideNames = 10;
// On NT on a volume without access lists, the journal is this value of the
// tool's key.
static const char JournalValue[] = "Share journal";
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

// ---- where it lives ------------------------------------------------------

// The journal's place: a file in the Windows folder, or the key's value.
typedef ToolRecordPlace JournalPlace;

static int FilePlace(JournalPlace* place) { return ToolRecordFilePlace(place, JournalName); }

static void KeyPlace(JournalPlace* place) { ToolRecordKeyPlace(place, JournalValue); }

// ---- writing ------------------------------------------------------------

// The journal is put together in memory, first only to count its bytes, then
// into a buffer of that size, and stored in one piece.
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
    PutAnsiText(writer, share->shi50_remark, MaxJournalSize);
    PutAnsiText(writer, share->shi50_path, MaxJournalSize);
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

// What someone other than an administrator may have left: on the console,
// and in the log at level 1, since shares stay off or are not brought back.
static void ReportError(const char* line) {
    printf("%s", line);
    TraceMsg(TraceModule, TraceAllTypes, TraceError, "%s", line);
}

static void ReportNotWritten(const char* path, DWORD error) {
    PrintAndLog("Share journal %s cannot be written, error %ld: no share is removed\n", path,
                (long)error);
}

int WriteShareJournal(int nt, void* const* records, int count) {
    JournalPlace place;
    if (nt && WindowsVolumeKeepsNoAcls()) {
        KeyPlace(&place);
    } else if (!FilePlace(&place)) {
        ReportNotWritten(JournalName, ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    JournalWriter writer = {nullptr, 0, 0};
    PutJournal(&writer, nt, records, count);
    DWORD size = writer.used;
    if (size > MaxJournalSize) {
        ReportNotWritten(place.name, ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    writer = {static_cast<char*>(AllocBuffer(size)), 0, 0};
    if (!writer.out) {
        ReportNotWritten(place.name, ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    PutJournal(&writer, nt, records, count);
    DWORD error = 0;
    const char* distrust = nullptr;
    int stored = place.inRegistry ? StoreToolRecordInKey(&place, writer.out, size, &error, &distrust)
                                  : StoreToolRecordInFile(&place, nt, writer.out, size, &error);
    FreeBuffer(writer.out);
    if (!stored) {
        if (distrust) {
            char line[MAX_PATH + 128];
            snprintf(line, sizeof(line),
                     "Share journal %s cannot be written, the key is not trusted (%s): no share is removed\n",
                     place.name, distrust);
            ReportError(line);
        } else {
            ReportNotWritten(place.name, error);
        }
        return 0;
    }
    ShareJournalWritten = place.inRegistry ? 2 : 1;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Share journal %s written, %d shares\n",
             place.name, count);
    return 1;
}

// ---- reading --------------------------------------------------------------

// One token of a line: the text up to the next blank or the line's end.
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

// Room for the texts of a share line of `length` characters.
static size_t ScratchSize(size_t length) { return 3 * length + 64; }

// One share of the journal, rebuilt as the family's record. Its texts live
// in `scratch`, which the caller sizes by the line's length.
struct JournalShare {
    SHARE_INFO_502 nt;
    share_info_50 nine;
};

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
struct LineWalk {
    const char* at;
    const char* end;
};

static int NextLine(LineWalk* walk, const char** line, size_t* length) {
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

// Why the journal cannot be used, or nullptr when every line is sound; the
// count of its shares.
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

    LineWalk walk = {text, text + lastStart};
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
    if (shares != declaredCount) return "count does not match";
    *count = static_cast<int>(shares);
    return nullptr;
}

static void ReportKept(const char* path, int missing) {
    PrintAndLog("Share journal %s kept: %d shares did not come back\n", path, missing);
}

// The share's name as 8-bit text, for the log.
static void JournalShareName(int nt, const JournalShare* share, char* name, size_t size) {
    if (nt) {
        ShareNameToAnsi(share->nt.shi502_netname, name, size);
    } else {
        snprintf(name, size, "%s", share->nine.shi50_netname);
    }
}

// Re-creates every share of a sound journal. The count of shares that did
// not come back; -1 when the library or its function is missing.
static int ReplayShares(int nt, const char* text, DWORD size) {
    HMODULE library = LoadShareLibrary(nt);
    if (!library) return -1;
    // NetShareAdd, as the family's library declares it.
    NetShareAddNTFunction addNT = nt ? BindFunction<NetShareAddNTFunction>(library, "NetShareAdd") : nullptr;
    NetShareAdd9xFunction add9x = nt ? nullptr : BindFunction<NetShareAdd9xFunction>(library, "NetShareAdd");
    if (!addNT && !add9x) {
        PrintAndLog("%s %ld", "there is no funcNetShareAdd", (long)GetLastError());
        FreeLibrary(library);
        return -1;
    }

    int missing = 0;
    LineWalk walk = {text, text + size};
    const char* line = nullptr;
    size_t length = 0;
    NextLine(&walk, &line, &length);  // the header, checked already
    while (NextLine(&walk, &line, &length)) {
        if (length >= 4 && memcmp(line, "end ", 4) == 0) break;
        size_t scratchSize = ScratchSize(length);
        BYTE* scratch = static_cast<BYTE*>(AllocBuffer(scratchSize));
        JournalShare share;
        if (!scratch || !ParseShareLine(line, length, nt, &share, scratch, scratchSize)) {
            // Sound a moment ago; only memory can be short now.
            PrintAndLog("%s %ld", "NO MEMORY for a journal share", (long)ERROR_NOT_ENOUGH_MEMORY);
            if (scratch) FreeBuffer(scratch);
            ++missing;
            continue;
        }
        NET_API_STATUS status;
        if (nt) {
            DWORD parameterError = 0;
            status = addNT(nullptr, 502, reinterpret_cast<LPBYTE>(&share.nt), &parameterError);
        } else {
            status = add9x(nullptr, 50, reinterpret_cast<const char*>(&share.nine),
                           sizeof(share_info_50));
        }
        char name[256];
        JournalShareName(nt, &share, name, sizeof(name));
        PrintAndLog("Journal share %s created %ld\n", name, (long)status);
        // A share that exists already is there: the earlier run's deletion
        // of it failed, or it came back another way.
        if (status != NERR_Success && status != ShareExistsStatus) ++missing;
        FreeBuffer(scratch);
    }
    FreeLibrary(library);
    return missing;
}

// ---- the journal's place, read and set aside ----------------------------

// Moves a journal out of the way under the first free name of
// Kurrelfix-shares.bad (or .untrusted), then .bad1 ... .bad9: an older one
// is kept too. A journal in the key becomes a value of that name beside it.
static int SetAside(const JournalPlace* place, const char* suffix, const char* text, DWORD size,
                    char* asideName, size_t asideSize, DWORD* error) {
    if (place->inRegistry) {
        snprintf(asideName, asideSize, "%s.%s", place->name, suffix);
        char value[64];
        snprintf(value, sizeof(value), "%s.%s", JournalValue, suffix);
        HKEY key = nullptr;
        LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ToolRecordKey, 0, KEY_READ | KEY_WRITE, &key);
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExA(key, value, 0, REG_BINARY, reinterpret_cast<const BYTE*>(text), size);
            if (status == ERROR_SUCCESS) status = RegDeleteValueA(key, JournalValue);
            RegCloseKey(key);
        }
        *error = static_cast<DWORD>(status);
        return status == ERROR_SUCCESS;
    }
    size_t stem = strlen(place->name) - strlen(".jnl");
    if (stem + 1 + strlen(suffix) + 2 > asideSize) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    for (int i = 0; i < MaxSetAsideNames; ++i) {
        memcpy(asideName, place->name, stem);
        if (i == 0) {
            sprintf(asideName + stem, ".%s", suffix);
        } else {
            sprintf(asideName + stem, ".%s%d", suffix, i);
        }
        if (MoveFileA(place->name, asideName)) return 1;
        *error = GetLastError();
        if (*error != ERROR_ALREADY_EXISTS && *error != ERROR_FILE_EXISTS) return 0;
    }
    return 0;
}

// The names of the shares a journal not to be trusted holds, for the log
// line that says what was not re-created: each line's first text, as far as
// it can be read, with anything that is not printable shown as "?".
static void ListShareNames(int nt, const char* text, DWORD size, char* names, size_t room) {
    size_t used = 0;
    names[0] = '\0';
    LineWalk walk = {text, text + size};
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

// One place's journal: 1 when the removal may go on from it, 0 when not.
static int ReplayFrom(const JournalPlace* place, int nt) {
    char* text = nullptr;
    DWORD size = 0;
    DWORD error = 0;
    const char* distrust = nullptr;
    int loaded = LoadToolRecord(place, nt, MaxJournalSize, &text, &size, &error, &distrust);
    if (loaded == 0) return 1;
    if (loaded < 0) {
        PrintAndLog("Share journal %s cannot be read, error %ld: no share is removed\n", place->name,
                    (long)error);
        return 0;
    }
    char aside[MAX_PATH + 32];
    if (distrust) {
        // Someone other than an administrator could have written it: none
        // of its shares is created, and this run removes none either, so
        // that the administrator can look at it first.
        char names[512];
        if (text) {
            ListShareNames(nt, text, size, names, sizeof(names));
        } else {
            strcpy(names, " (too large to read)");
        }
        int setAside = SetAside(place, "untrusted", text, size, aside, sizeof(aside), &error);
        if (text) FreeBuffer(text);
        char line[1200];
        if (!setAside) {
            snprintf(line, sizeof(line),
                     "Share journal %s is not trusted (%s) and cannot be set aside, error %ld; its shares are not re-created:%s; no share is removed\n",
                     place->name, distrust, (long)error, names);
        } else {
            snprintf(line, sizeof(line),
                     "Share journal %s is not trusted (%s), set aside as %s; its shares are not re-created:%s; no share is removed\n",
                     place->name, distrust, aside, names);
        }
        ReportError(line);
        return 0;
    }
    int count = 0;
    const char* damage = loaded == 2 ? "too large" : CheckShareJournalText(text, size, nt, &count);
    if (damage) {
        int setAside = SetAside(place, "bad", text, size, aside, sizeof(aside), &error);
        if (text) FreeBuffer(text);
        if (!setAside) {
            PrintAndLog("Share journal %s is damaged (%s) and cannot be set aside, error %ld: no share is removed\n",
                        place->name, damage, (long)error);
            return 0;
        }
        PrintAndLog("Share journal %s is damaged (%s), set aside as %s\n", place->name, damage, aside);
        return 1;
    }
    PrintAndLog("Share journal %s found: re-creating %d shares\n", place->name, count);
    int missing = ReplayShares(nt, text, size);
    FreeBuffer(text);
    if (missing != 0) {
        PrintAndLog("Share journal %s kept: %d shares did not come back; no share is removed\n",
                    place->name, missing < 0 ? count : missing);
        return 0;
    }
    if (!DeleteToolRecord(place, &error)) {
        PrintAndLog("Share journal %s cannot be deleted, error %ld: no share is removed\n", place->name,
                    (long)error);
        return 0;
    }
    PrintAndLog("Share journal %s done, every share is back\n", place->name);
    return 1;
}

int ReplayShareJournal(int nt) {
    // The file first; on NT also the key, where a run on a volume without
    // access lists left it. Both are looked at, whatever the volume is now.
    JournalPlace place;
    int mayGoOn = 1;
    if (FilePlace(&place) && !ReplayFrom(&place, nt)) mayGoOn = 0;
    if (nt) {
        KeyPlace(&place);
        if (!ReplayFrom(&place, nt)) mayGoOn = 0;
    }
    return mayGoOn;
}

void SettleShareJournal(int everyShareBack, int sharesMissing) {
    if (!ShareJournalWritten) return;
    JournalPlace place;
    if (ShareJournalWritten == 2) {
        KeyPlace(&place);
    } else if (!FilePlace(&place)) {
        ShareJournalWritten = 0;
        return;
    }
    ShareJournalWritten = 0;
    if (!everyShareBack) {
        ReportKept(place.name, sharesMissing);
        return;
    }
    DWORD error = 0;
    if (!DeleteToolRecord(&place, &error)) {
        PrintAndLog("Share journal %s cannot be deleted, error %ld\n", place.name, (long)error);
        return;
    }
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Share journal %s deleted\n", place.name);
}
