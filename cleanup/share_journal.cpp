#include "cleanup/share_journal.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "support/crc32.h"
#include "trace/trace_log.h"

KF_PROCESS_STATE int ShareJournalWritten;

static const char JournalName[] = "\\Kurrelfix-shares.jnl";
static const char JournalHeaderNT[] = "Kurrelfix share journal 1 NT";
static const char JournalHeader9x[] = "Kurrelfix share journal 1 9x";
// A journal of thousands of shares stays far below this; a larger file is
// not one of ours.
static const DWORD MaxJournalSize = 4 * 1024 * 1024;
static const int MaxSetAsideNames = 10;

int ShareJournalPath(char* path, size_t size) {
    char directory[MAX_PATH];
    memset(directory, 0, sizeof(directory));
    UINT length = GetWindowsDirectoryA(directory, sizeof(directory));
    if (length == 0 || length >= sizeof(directory)) return 0;
    if (strlen(directory) + strlen(JournalName) + 1 > size) return 0;
    strcpy(path, directory);
    strcat(path, JournalName);
    return 1;
}

// ---- writing ------------------------------------------------------------

struct JournalWriter {
    HANDLE file;
    DWORD crc;
    int failed;
    DWORD error;
};

static void Put(JournalWriter* writer, const char* text, DWORD length) {
    if (writer->failed) return;
    DWORD written = 0;
    if (!WriteFile(writer->file, text, length, &written, nullptr) || written != length) {
        writer->failed = 1;
        writer->error = GetLastError();
        return;
    }
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

// A descriptor that lets Administrators and SYSTEM alone at the file: the
// journal holds share passwords and permissions. The folder's inheritable
// entries (users may read files of the Windows directory) are kept out.
struct AdminOnlySecurity {
    SECURITY_DESCRIPTOR descriptor;
    DWORD acl[32];  // DWORD-aligned room for the ACL and its two entries
    PSID administrators;
    PSID system;
    SECURITY_ATTRIBUTES attributes;
};

static int MakeAdminOnlySecurity(AdminOnlySecurity* security) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    security->administrators = nullptr;
    security->system = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &security->administrators) ||
        !AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                  &security->system)) {
        return 0;
    }
    PACL acl = reinterpret_cast<PACL>(security->acl);
    if (!InitializeAcl(acl, sizeof(security->acl), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, security->administrators) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, security->system) ||
        !InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE)) {
        return 0;
    }
    // Set in the record itself: the call that sets it is missing before Windows 2000.
    security->descriptor.Control |= SE_DACL_PROTECTED;
    security->attributes.nLength = sizeof(security->attributes);
    security->attributes.lpSecurityDescriptor = &security->descriptor;
    security->attributes.bInheritHandle = FALSE;
    return 1;
}

static void FreeAdminOnlySecurity(AdminOnlySecurity* security) {
    if (security->administrators) FreeSid(security->administrators);
    if (security->system) FreeSid(security->system);
}

static void ReportNotWritten(const char* path, DWORD error) {
    PrintAndLog("Share journal %s cannot be written, error %ld: no share is removed\n", path,
                (long)error);
}

int WriteShareJournal(int nt, void* const* records, int count) {
    char path[MAX_PATH];
    if (!ShareJournalPath(path, sizeof(path))) {
        ReportNotWritten(JournalName + 1, ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    AdminOnlySecurity security;
    memset(&security, 0, sizeof(security));
    if (nt && !MakeAdminOnlySecurity(&security)) {
        DWORD error = GetLastError();
        FreeAdminOnlySecurity(&security);
        ReportNotWritten(path, error);
        return 0;
    }
    // A new file only: an older journal is never written over.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nt ? &security.attributes : nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    DWORD createError = GetLastError();
    FreeAdminOnlySecurity(&security);
    if (file == INVALID_HANDLE_VALUE) {
        ReportNotWritten(path, createError);
        return 0;
    }
    JournalWriter writer = {file, 0, 0, 0};
    PutText(&writer, nt ? JournalHeaderNT : JournalHeader9x);
    PutText(&writer, "\r\n");
    for (int i = 0; i < count; ++i) {
        if (nt) {
            PutShareNT(&writer, static_cast<const SHARE_INFO_502*>(records[i]));
        } else {
            PutShare9x(&writer, static_cast<const share_info_50*>(records[i]));
        }
    }
    char end[48];
    int endLength = sprintf(end, "end %d %08lX\r\n", count, (unsigned long)writer.crc);
    Put(&writer, end, static_cast<DWORD>(endLength));
    if (!writer.failed && !FlushFileBuffers(file)) {
        writer.failed = 1;
        writer.error = GetLastError();
    }
    if (!CloseHandle(file) && !writer.failed) {
        writer.failed = 1;
        writer.error = GetLastError();
    }
    if (writer.failed) {
        // No share has been deleted yet, so a part-written journal holds
        // nothing that is not still on the machine.
        DeleteFileA(path);
        ReportNotWritten(path, writer.error);
        return 0;
    }
    ShareJournalWritten = 1;
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Share journal %s written, %d shares\n", path,
             count);
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
        // A descriptor's header alone is 20 bytes; its length must be all of it.
        if (sdPresent && (sdCount < 20 || GetSecurityDescriptorLength(descriptor) != sdCount)) return 0;
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
static const char* CheckJournal(const char* text, DWORD size, int nt, int* count) {
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

// Reads the whole journal. 1 read; 0 absent; 2 too large to be ours; -1
// there but unreadable, with the error.
static int LoadJournal(const char* path, char** text, DWORD* size, DWORD* error) {
    *text = nullptr;
    *size = 0;
    *error = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND) return 0;
        return -1;
    }
    DWORD length = SetFilePointer(file, 0, nullptr, FILE_END);
    int result = -1;
    if (length == INVALID_SET_FILE_POINTER || SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0) {
        *error = GetLastError();
    } else if (length > MaxJournalSize) {
        result = 2;
    } else {
        char* buffer = static_cast<char*>(AllocBuffer(length + 1));
        DWORD read = 0;
        if (!buffer) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
        } else if (!ReadFile(file, buffer, length, &read, nullptr) || read != length) {
            *error = GetLastError();
            if (*error == 0) *error = ERROR_HANDLE_EOF;
            FreeBuffer(buffer);
        } else {
            buffer[length] = '\0';
            *text = buffer;
            *size = length;
            result = 1;
        }
    }
    CloseHandle(file);
    return result;
}

// Moves a damaged journal out of the way under the first free name of
// Kurrelfix-shares.bad, .bad1 ... .bad9: an older damaged one is kept too.
static int SetAside(const char* path, char* asideName, size_t size, DWORD* error) {
    size_t stem = strlen(path) - strlen(".jnl");
    if (stem + strlen(".bad9") + 1 > size) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    for (int i = 0; i < MaxSetAsideNames; ++i) {
        memcpy(asideName, path, stem);
        if (i == 0) {
            strcpy(asideName + stem, ".bad");
        } else {
            sprintf(asideName + stem, ".bad%d", i);
        }
        if (MoveFileA(path, asideName)) return 1;
        *error = GetLastError();
        if (*error != ERROR_ALREADY_EXISTS && *error != ERROR_FILE_EXISTS) return 0;
    }
    return 0;
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
    HMODULE library = nt ? LoadLibraryW(NetapiDllName) : LoadLibraryA("svrapi.dll");
    if (!library) {
        PrintAndLog("%s %ld", nt ? "cannot load netapi32.dll library" : "cannot load svrapi.dll library",
                    (long)GetLastError());
        return -1;
    }
    FARPROC add = GetProcAddress(library, "NetShareAdd");
    if (!add) {
        PrintAndLog("%s %ld", "there is no funcNetShareAdd", (long)GetLastError());
        FreeLibrary(library);
        return -1;
    }
    NetShareAddNTFunction addNT =
        reinterpret_cast<NetShareAddNTFunction>(reinterpret_cast<void (*)(void)>(add));
    NetShareAdd9xFunction add9x =
        reinterpret_cast<NetShareAdd9xFunction>(reinterpret_cast<void (*)(void)>(add));

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

int ReplayShareJournal(int nt) {
    char path[MAX_PATH];
    if (!ShareJournalPath(path, sizeof(path))) return 1;  // nowhere to have left one either
    char* text = nullptr;
    DWORD size = 0;
    DWORD error = 0;
    int loaded = LoadJournal(path, &text, &size, &error);
    if (loaded == 0) return 1;
    if (loaded < 0) {
        PrintAndLog("Share journal %s cannot be read, error %ld: no share is removed\n", path,
                    (long)error);
        return 0;
    }
    int count = 0;
    const char* damage = loaded == 2 ? "too large" : CheckJournal(text, size, nt, &count);
    if (damage) {
        FreeBuffer(text);
        char aside[MAX_PATH];
        if (!SetAside(path, aside, sizeof(aside), &error)) {
            PrintAndLog("Share journal %s is damaged (%s) and cannot be set aside, error %ld: no share is removed\n",
                        path, damage, (long)error);
            return 0;
        }
        PrintAndLog("Share journal %s is damaged (%s), set aside as %s\n", path, damage, aside);
        return 1;
    }
    PrintAndLog("Share journal %s found: re-creating %d shares\n", path, count);
    int missing = ReplayShares(nt, text, size);
    FreeBuffer(text);
    if (missing != 0) {
        PrintAndLog("Share journal %s kept: %d shares did not come back; no share is removed\n",
                    path, missing < 0 ? count : missing);
        return 0;
    }
    if (!DeleteFileA(path)) {
        PrintAndLog("Share journal %s cannot be deleted, error %ld: no share is removed\n", path,
                    (long)GetLastError());
        return 0;
    }
    PrintAndLog("Share journal %s done, every share is back\n", path);
    return 1;
}

void SettleShareJournal(int everyShareBack, int sharesMissing) {
    if (!ShareJournalWritten) return;
    ShareJournalWritten = 0;
    char path[MAX_PATH];
    if (!ShareJournalPath(path, sizeof(path))) return;
    if (!everyShareBack) {
        ReportKept(path, sharesMissing);
        return;
    }
    if (!DeleteFileA(path)) {
        PrintAndLog("Share journal %s cannot be deleted, error %ld\n", path, (long)GetLastError());
        return;
    }
    TraceMsg(TraceModule, TraceAllTypes, TraceInfo, "Share journal %s deleted\n", path);
}
