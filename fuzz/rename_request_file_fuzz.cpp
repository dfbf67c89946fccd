// Any bytes as "VTSL.REN": the reader must either reject them with a status
// and no stream left open, or hand out a body whose list ends in two NULs
// within the body. The scanner's service then walks that list at the boot.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "sim/workstation.h"
#include "support/rename_request_file.h"

namespace {

const char InstallDir[] = "C:\\Ombrel";
const char RequestPath[] = "C:\\Ombrel\\VTSL.REN";

bool AllHandlesClosed(const sim::Workstation& ws) {
    for (const sim::HandleEntry& entry : ws.handles) {
        if (entry.kind != sim::HandleKind::Free) return false;
    }
    return true;
}

// The list: strings up to the first NUL that follows a NUL, an even number
// of them, all within the body.
bool ListIsWellFormed(const char* body, size_t length) {
    size_t strings = 0;
    for (size_t i = 0; i < length; ++i) {
        if (body[i] != '\0') continue;
        if (i > 0 && body[i - 1] == '\0') return strings % 2 == 0;
        ++strings;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::Workstation ws;
    ws.RegString(HKEY_LOCAL_MACHINE, "Software\\Ombrel Works\\Common\\Paths", "Common", InstallDir);
    ws.FileBytes(RequestPath, std::vector<uint8_t>(data, data + size));

    char* body = nullptr;
    RenameFileStatus status = -1;
    FILE* stream = OpenRenameRequestFile(0, &body, &status);
    if (stream) {
        if (status != RenameFileOk || !body || size <= 16 || size > 8192) abort();
        if (!ListIsWellFormed(body, size - 16)) abort();
        FreeBuffer(body);
        fclose(stream);
    } else {
        if (body || status == RenameFileOk) abort();
        if ((size <= 16) != (status == RenameFileTooShort)) abort();
        if (size > 8192 && status != RenameFileTooLong) abort();
    }
    if (!AllHandlesClosed(ws)) abort();

    // The service reads the same file at boot and carries out what it accepts.
    ws.Service("Veltrane Sentrel", SERVICE_RUNNING);
    ws.Reboot();
    if (!AllHandlesClosed(ws)) abort();
    return 0;
}
