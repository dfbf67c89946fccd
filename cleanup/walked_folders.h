// The folders that one sweep has walked, known by what the file system calls
// them (volume and file index) rather than by path: a junction or link that
// leads back up the tree gives the same folder a new path every time round,
// and only its identity shows that it was walked already.
#ifndef KURRELFIX_CLEANUP_WALKED_FOLDERS_H
#define KURRELFIX_CLEANUP_WALKED_FOLDERS_H

#include "platform/platform.h"
#include "support/file_identity.h"

typedef FileIdentity FolderId;

struct WalkedFolderSlot;

// Slots of the table when the first folder comes; it doubles whenever it
// would be more than half full.
const size_t WalkedFoldersFirstCapacity = 1024;

// An open-addressed table in one heap buffer, grown by doubling. All zero is
// the empty set; ForgetWalkedFolders releases the buffer.
struct WalkedFolders {
    WalkedFolderSlot* slots;
    size_t capacity;  // a power of two, or 0 before the first folder
    size_t count;
};

// 1 when the folder is in the set.
int HasWalked(const WalkedFolders* set, const FolderId& id);

// Adds the folder: 1 when added (or there already), 0 when the table could not
// grow for lack of memory; the set is then unchanged.
int RememberWalked(WalkedFolders* set, const FolderId& id);

void ForgetWalkedFolders(WalkedFolders* set);

#endif
