#include "sim/sentrel_service.h"

#include <string.h>

#include "sim/file_rules.h"
#include "support/rename_request_file.h"

namespace sim {

const char* const SentrelServiceName = "Veltrane Sentrel";

void RunSentrelServiceAtBoot(Workstation& ws) {
    if (ws.platformId != VER_PLATFORM_WIN32_NT || ws.services.count(SentrelServiceName) == 0) return;
    RenameFileStatus status = RenameFileOk;
    char* body = nullptr;
    FILE* stream = OpenRenameRequestFile(0, &body, &status);
    if (!stream) return;  // no file, or one that fails the rules: nothing happens
    fclose(stream);
    // The reader has checked that the list ends in two NULs within the body.
    for (const char* existing = body; *existing;) {
        const char* newPath = existing + strlen(existing) + 1;
        MoveNow(ws, existing, newPath, true);
        existing = newPath + strlen(newPath) + 1;
    }
    FreeBuffer(body);
    char installPath[MAX_PATH];
    char path[MAX_PATH];
    if (ReadInstallPath(installPath, sizeof(installPath)) == 0 &&
        ComposeRenameRequestPath(installPath, path, sizeof(path)))
        DeleteAtBoot(ws, path);
}

bool DeleteAtBoot(Workstation& ws, const std::string& path) {
    FileNode* node = ws.Find(path);
    if (!node) return true;
    if (node->directory) {
        if (!node->children.empty() || !node->parent) return false;
    } else if (CanDelete(ws, node) != 0) {
        return false;
    }
    ws.RemoveNode(node);
    return true;
}

}  // namespace sim
