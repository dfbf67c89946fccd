// The Windows C runtime's file calls on the simulated workstation: fopen hands
// back a real FILE* over a simulated file, with the Windows runtime's text
// mode (CR LF on disk, Ctrl+Z ends a text read) and its errno mapping.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "sim/crt_errno.h"
#include "sim/file_rules.h"
#include "sim/workstation.h"

namespace {

struct Stream {
    HANDLE handle;
    bool text;
    bool append;
};

std::vector<uint8_t>& DataOf(Stream* s, sim::HandleEntry** entry) {
    *entry = sim::Current().Lookup(s->handle, sim::HandleKind::File);
    return (*entry)->node->data;
}

ssize_t CrtRead(void* cookie, char* buffer, size_t size) {
    SIM_FAULT(fault, error);
    if (fault) {
        errno = sim::ErrnoOfWin32(error ? error : ERROR_READ_FAULT);
        return -1;
    }
    Stream* s = static_cast<Stream*>(cookie);
    sim::HandleEntry* entry = nullptr;
    std::vector<uint8_t>& data = DataOf(s, &entry);
    size_t count = 0;
    while (count < size && entry->position < data.size()) {
        uint8_t c = data[entry->position];
        if (s->text) {
            if (c == 0x1A) break;  // Ctrl+Z ends a text file
            if (c == '\r' && entry->position + 1 < data.size() && data[entry->position + 1] == '\n') {
                ++entry->position;
                continue;
            }
        }
        buffer[count++] = static_cast<char>(c);
        ++entry->position;
    }
    return static_cast<ssize_t>(count);
}

ssize_t CrtWrite(void* cookie, const char* buffer, size_t size) {
    SIM_FAULT(fault, error);
    (void)error;
    if (fault) {
        errno = EIO;
        return -1;
    }
    Stream* s = static_cast<Stream*>(cookie);
    sim::HandleEntry* entry = nullptr;
    std::vector<uint8_t>& data = DataOf(s, &entry);
    if (s->append) entry->position = data.size();
    for (size_t i = 0; i < size; ++i) {
        auto put = [&](uint8_t c) {
            if (entry->position < data.size()) {
                data[entry->position] = c;
            } else {
                data.resize(entry->position);
                data.push_back(c);
            }
            ++entry->position;
        };
        if (s->text && buffer[i] == '\n') put('\r');
        put(static_cast<uint8_t>(buffer[i]));
    }
    return static_cast<ssize_t>(size);
}

int CrtSeek(void* cookie, off64_t* offset, int whence) {
    SIM_FAULT(fault, error);
    (void)error;
    if (fault) {
        errno = EINVAL;
        return -1;
    }
    Stream* s = static_cast<Stream*>(cookie);
    sim::HandleEntry* entry = nullptr;
    std::vector<uint8_t>& data = DataOf(s, &entry);
    int64_t base = whence == SEEK_SET ? 0
                   : whence == SEEK_CUR ? static_cast<int64_t>(entry->position)
                                        : static_cast<int64_t>(data.size());
    int64_t target = base + *offset;
    if (target < 0) {
        errno = EINVAL;
        return -1;
    }
    entry->position = static_cast<uint64_t>(target);
    *offset = target;
    return 0;
}

int CrtClose(void* cookie) {
    Stream* s = static_cast<Stream*>(cookie);
    if (!sim::HasCurrent()) {  // the workstation went first; nothing left to release
        delete s;
        return 0;
    }
    SIM_FAULT(fails, error);
    (void)error;
    sim::Current().FreeHandle(s->handle);
    delete s;
    if (fails) {
        errno = EIO;
        return -1;
    }
    return 0;
}

}  // namespace

namespace sim {

int ErrnoOfWin32(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case 16:
        case 65:
        case 82:
        case 83:
        case 108:
        case 132:
        case 158:
        case 167:
            return EACCES;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_NOT_ENOUGH_MEMORY:
            return ENOMEM;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        default:
            if (error >= 19 && error <= 36) return EACCES;  // write-protect to sharing buffer
            return EINVAL;
    }
}

}  // namespace sim

FILE* CrtFopen(const char* path, const char* mode) {
    SIM_FAULT(fault, error);
    sim::Workstation& ws = sim::Current();
    if (fault) {
        errno = sim::ErrnoOfWin32(error);
        return nullptr;
    }
    bool plus = strchr(mode, '+') != nullptr;
    bool binary = strchr(mode, 'b') != nullptr;
    DWORD access = 0, disposition = 0;
    switch (mode[0]) {
        case 'r':
            access = GENERIC_READ | (plus ? GENERIC_WRITE : 0);
            disposition = OPEN_EXISTING;
            break;
        case 'w':
            access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
            disposition = CREATE_ALWAYS;
            break;
        case 'a':
            access = GENERIC_WRITE | (plus ? GENERIC_READ : 0);
            disposition = OPEN_ALWAYS;
            break;
        default:
            errno = EINVAL;
            return nullptr;
    }
    // The Windows runtime opens files shared for reading and writing.
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string redirected;
    error = sim::OpenFile(ws, ws.SeenPath(path, &redirected), access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition, &handle);
    if (error) {
        ws.lastError = error;
        errno = sim::ErrnoOfWin32(error);
        return nullptr;
    }
    Stream* stream = new Stream{handle, !binary, mode[0] == 'a'};
    if (stream->append) {
        sim::HandleEntry* entry = ws.Lookup(handle, sim::HandleKind::File);
        entry->position = entry->node->data.size();
    }
    cookie_io_functions_t functions = {CrtRead, CrtWrite, CrtSeek, CrtClose};
    const char* glibcMode = (access & GENERIC_READ) && (access & GENERIC_WRITE) ? "r+"
                            : (access & GENERIC_READ)                          ? "r"
                                                                               : "w";
    FILE* file = fopencookie(stream, glibcMode, functions);
    if (!file) {
        ws.FreeHandle(handle);
        delete stream;
    }
    return file;
}

FILE* CrtStreamOnHandle(HANDLE file, const char* mode) {
    SIM_FAULT(fault, error);
    sim::Workstation& ws = sim::Current();
    sim::HandleEntry* entry = ws.Lookup(file, sim::HandleKind::File);
    if (fault || !entry) {
        if (entry) ws.FreeHandle(file);
        errno = fault ? sim::ErrnoOfWin32(error) : EBADF;
        return nullptr;
    }
    bool append = mode[0] == 'a';
    Stream* stream = new Stream{file, strchr(mode, 'b') == nullptr, append};
    if (append) entry->position = entry->node->data.size();
    cookie_io_functions_t functions = {CrtRead, CrtWrite, CrtSeek, CrtClose};
    FILE* opened = fopencookie(stream, strchr(mode, '+') ? "r+" : (mode[0] == 'r' ? "r" : "w"), functions);
    if (!opened) {
        ws.FreeHandle(file);
        delete stream;
    }
    return opened;
}

int CrtRemove(const char* path) {
    if (DeleteFileA(path)) return 0;
    errno = sim::ErrnoOfWin32(GetLastError());
    return -1;
}

int CrtRename(const char* oldPath, const char* newPath) {
    if (MoveFileA(oldPath, newPath)) return 0;
    errno = sim::ErrnoOfWin32(GetLastError());
    return -1;
}

void* AllocBuffer(size_t size) {
    SIM_FAULT(fault, error);
    (void)error;
    if (fault) return nullptr;
    return malloc(size);
}

void FreeBuffer(void* buffer) { free(buffer); }
