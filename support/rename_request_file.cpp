#include "support/rename_request_file.h"

#include <string.h>

#include "support/crc32.h"

// Chosen once and shared with the scanner's service. No byte value appears in
// both tables, so that a key byte of one table never cancels the other's and
// every body byte is changed at every index.
const unsigned char RenameKeyA[16] = {0x3B, 0xA7, 0x5E, 0xC1, 0x92, 0x0D, 0xF4, 0x68,
                                      0x2F, 0xB6, 0x71, 0xE9, 0x44, 0x8A, 0xD3, 0x17};
const unsigned char RenameKeyB[17] = {0x6C, 0x05, 0xDA, 0x83, 0x4F, 0xB1, 0x29, 0xFE, 0x70,
                                      0x9D, 0x36, 0xE2, 0x58, 0xC7, 0x1A, 0xAB, 0x94};

static const char InstallPathKey[] = "Software\\Ombrel Works\\Common\\Paths";
static const char InstallPathValue[] = "Common";
static const char RenameRequestName[] = "VTSL.REN";

// The file is little-endian whatever the machine, so the numbers are laid out
// byte by byte rather than by the record's layout in memory.
static void StoreDword(DWORD value, unsigned char* bytes) {
    bytes[0] = static_cast<unsigned char>(value & 0xFF);
    bytes[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
    bytes[2] = static_cast<unsigned char>((value >> 16) & 0xFF);
    bytes[3] = static_cast<unsigned char>((value >> 24) & 0xFF);
}

static DWORD LoadDword(const unsigned char* bytes) {
    return static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
           (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
}

void StoreRenameRequestHeader(const RenameRequestHeader& header,
                              unsigned char bytes[RenameRequestHeaderSize]) {
    StoreDword(header.tickCount, bytes + 0);
    StoreDword(header.oemId, bytes + 4);
    StoreDword(header.bodyCrc, bytes + 8);
    StoreDword(header.processorType, bytes + 12);
}

RenameRequestHeader LoadRenameRequestHeader(const unsigned char bytes[RenameRequestHeaderSize]) {
    RenameRequestHeader header;
    header.tickCount = LoadDword(bytes + 0);
    header.oemId = LoadDword(bytes + 4);
    header.bodyCrc = LoadDword(bytes + 8);
    header.processorType = LoadDword(bytes + 12);
    return header;
}

void ScrambleRenameBody(unsigned char* buffer, DWORD length) {
    for (DWORD i = 0; i < length; ++i) {
        buffer[i] = static_cast<unsigned char>(buffer[i] ^ RenameKeyA[i % sizeof(RenameKeyA)] ^
                                               RenameKeyB[i % sizeof(RenameKeyB)]);
    }
}

int ReadInstallPath(char* buffer, DWORD size) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, InstallPathKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return -1;
    DWORD type = 0;
    DWORD dataSize = size;
    LONG result = RegQueryValueExA(key, InstallPathValue, nullptr, &type,
                                   reinterpret_cast<LPBYTE>(buffer), &dataSize);
    RegCloseKey(key);
    if (result == ERROR_MORE_DATA) return -2;
    if (result != ERROR_SUCCESS || type != REG_SZ) return -1;
    // A stored string need not carry its terminator; ours must have one, and
    // within the buffer.
    if (dataSize > 0 && buffer[dataSize - 1] == '\0') return 0;
    if (dataSize >= size) return -2;
    buffer[dataSize] = '\0';
    return 0;
}

int ComposeRenameRequestPath(const char* installPath, char* path, size_t size) {
    size_t length = strlen(installPath);
    // A folder already ending in a backslash gets none, and so does a bare
    // drive such as "C:", which names the current folder of that drive.
    const char* lastBackslash = strrchr(installPath, '\\');
    size_t separator = (lastBackslash && lastBackslash[1] != '\0') ? 1 : 0;
    size_t needed = length + separator + strlen(RenameRequestName) + 1;
    if (needed > size) return 0;
    memcpy(path, installPath, length);
    if (separator) path[length] = '\\';
    memcpy(path + length + separator, RenameRequestName, strlen(RenameRequestName) + 1);
    return 1;
}

// Rule 3: the list ends at the first NUL that follows another NUL, after an
// even number of strings.
static bool PairListIsWellFormed(const unsigned char* body, DWORD length) {
    DWORD strings = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (body[i] != 0) continue;
        if (i > 0 && body[i - 1] == 0) return strings % 2 == 0;
        ++strings;
    }
    return false;
}

static void WriteHeader(FILE* stream, RenameFileStatus* status) {
    RenameRequestHeader header;
    header.tickCount = GetTickCount();
    SYSTEM_INFO info;
    memset(&info, 0, sizeof(info));
    GetSystemInfo(&info);
    // dwOemId is the record's first field; copying it from there does not
    // depend on how the union around it is declared.
    memcpy(&header.oemId, &info, sizeof(header.oemId));
    header.bodyCrc = 0;  // CloseRenameRequestFile writes the real one
    header.processorType = info.dwProcessorType & 0xFFFF;
    unsigned char bytes[RenameRequestHeaderSize];
    StoreRenameRequestHeader(header, bytes);
    if (fwrite(bytes, sizeof(bytes), 1, stream) != 1) *status = RenameFileIoFailed;
}

static void ReadAndCheck(FILE* stream, char** body, RenameFileStatus* status) {
    long size = -1;
    if (fseek(stream, 0, SEEK_END) != 0 || (size = ftell(stream)) == -1 ||
        fseek(stream, 0, SEEK_SET) != 0) {
        *status = RenameFileIoFailed;
        return;
    }
    if (size <= static_cast<long>(RenameRequestHeaderSize)) {
        *status = RenameFileTooShort;
        return;
    }
    if (size > RenameRequestMaxFileSize) {
        *status = RenameFileTooLong;
        return;
    }
    DWORD length = static_cast<DWORD>(size) - RenameRequestHeaderSize;
    unsigned char* buffer = static_cast<unsigned char*>(AllocBuffer(length));
    if (!buffer) {
        *status = RenameFileNoMemory;
        return;
    }
    unsigned char headerBytes[RenameRequestHeaderSize];
    size_t headerRead = fread(headerBytes, sizeof(headerBytes), 1, stream);
    size_t bodyRead = fread(buffer, length, 1, stream);
    if (headerRead != 1 || bodyRead != 1) {
        *status = RenameFileIoFailed;
    } else {
        ScrambleRenameBody(buffer, length);
        if (Crc32(buffer, length) != LoadRenameRequestHeader(headerBytes).bodyCrc) {
            *status = RenameFileBadChecksum;
        } else if (!PairListIsWellFormed(buffer, length)) {
            *status = RenameFileBadList;
        }
    }
    if (*status == RenameFileOk && body) {
        *body = reinterpret_cast<char*>(buffer);
    } else {
        FreeBuffer(buffer);
    }
}

FILE* OpenRenameRequestFile(int write, char** body, RenameFileStatus* status) {
    *status = RenameFileOk;
    if (body) *body = nullptr;
    char installPath[MAX_PATH];
    char path[MAX_PATH];
    FILE* stream = nullptr;
    // An install path too long to take the file name is as good as none.
    if (ReadInstallPath(installPath, sizeof(installPath)) != 0 ||
        !ComposeRenameRequestPath(installPath, path, sizeof(path))) {
        *status = RenameFileNoInstallPath;
    } else {
        stream = CrtFopen(path, write ? "w+b" : "rb");
        if (!stream) *status = RenameFileCannotOpen;
    }
    if (*status == RenameFileOk) {
        if (write) {
            WriteHeader(stream, status);
        } else {
            ReadAndCheck(stream, body, status);
        }
    }
    if (*status != RenameFileOk && stream) {
        fclose(stream);
        return nullptr;
    }
    return stream;
}

int AddRenameRequest(FILE* stream, const char* existingPath, const char* newPath,
                     RenameFileStatus* status) {
    *status = RenameFileOk;
    if (!stream || !existingPath || !newPath) {
        *status = RenameFileIoFailed;
        return 0;
    }
    // Both strings are written even when the first write fails.
    size_t existingWritten = fwrite(existingPath, strlen(existingPath) + 1, 1, stream);
    size_t newWritten = fwrite(newPath, strlen(newPath) + 1, 1, stream);
    if (existingWritten == 1 && newWritten == 1) return 1;
    *status = RenameFileIoFailed;
    return 0;
}

int CloseRenameRequestFile(FILE* stream, RenameFileStatus* status) {
    *status = RenameFileOk;
    if (!stream) {
        *status = RenameFileIoFailed;
        return 0;
    }
    if (fputc(0, stream) == EOF) *status = RenameFileIoFailed;

    long position = 0;
    if (*status == RenameFileOk) {
        position = ftell(stream);
        if (position <= static_cast<long>(RenameRequestHeaderSize) ||
            fseek(stream, static_cast<long>(RenameRequestHeaderSize), SEEK_SET) != 0)
            *status = RenameFileIoFailed;
    }
    DWORD length = *status == RenameFileOk ? static_cast<DWORD>(position) - RenameRequestHeaderSize : 0;

    unsigned char* buffer = nullptr;
    if (*status == RenameFileOk) {
        buffer = static_cast<unsigned char*>(AllocBuffer(length));
        if (!buffer) {
            *status = RenameFileNoMemory;
        } else if (fread(buffer, length, 1, stream) != 1) {
            *status = RenameFileIoFailed;
        }
    }
    DWORD crc = 0;
    if (*status == RenameFileOk) {
        crc = Crc32(buffer, length);
        ScrambleRenameBody(buffer, length);
        if (fseek(stream, static_cast<long>(RenameRequestHeaderSize), SEEK_SET) != 0 ||
            fwrite(buffer, length, 1, stream) != 1)
            *status = RenameFileIoFailed;
    }
    FreeBuffer(buffer);

    if (*status == RenameFileOk) {
        unsigned char crcBytes[4];
        StoreDword(crc, crcBytes);
        if (fseek(stream, 8, SEEK_SET) != 0 || fwrite(crcBytes, sizeof(crcBytes), 1, stream) != 1)
            *status = RenameFileIoFailed;
    }
    // The stream is ours to release on every path: the caller has no way to
    // tell a finished stream from one still open.
    if (*status == RenameFileOk) {
        if (fclose(stream) != 0) *status = RenameFileCloseFailed;
    } else {
        fclose(stream);
    }
    return *status == RenameFileOk ? 1 : 0;
}
