// Resets the run lists of the stages; each stage with a process-wide list
// adds its reset here.
#include "cleanup/process_sweep.h"

// The paths of the terminated worm processes: a new process starts with none.
static void ResetInfectedProcessFiles() {
    InfectedProcessFile* node = InfectedProcessFiles.head;
    while (node) {
        InfectedProcessFile* next = node->next;
        FreeBuffer(node->path);
        FreeBuffer(node);
        node = next;
    }
    InfectedProcessFiles.head = nullptr;
    InfectedProcessFiles.tail = nullptr;
}

void ResetRunLists() {
    ResetInfectedProcessFiles();
}
