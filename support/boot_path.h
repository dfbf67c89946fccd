// Whether a path may be handed to the next boot. What the system carries out
// at the boot it carries out by path, resolving it once more then; a plain
// user who may rename or replace one of the folders on the way (a folder of
// their own, replaced by a junction to the system folder after the run)
// would make the boot delete a file that never matched. So a file is left
// for the boot only when no one but administrators can change its path.
#ifndef KURRELFIX_SUPPORT_BOOT_PATH_H
#define KURRELFIX_SUPPORT_BOOT_PATH_H

#include <stddef.h>

#include "platform/platform.h"
#include "support/file_path.h"

// nullptr when no one but Administrators, SYSTEM, TrustedInstaller and the
// account the tool runs as may delete, rename, re-point or change the access
// list or owner of any folder from the volume's root to the file's own (each
// read from its own handle, a reparse point opened itself); otherwise why
// not, with the folder it concerns in `folder` as the log shows it (cut to
// fit) and the error of a call that failed in `error` (0 when none did).
// Windows NT 4.0 knows no junctions: there every path of a local disk may be.
const char* WhyBootPathUnsafe(const FilePath& path, char* folder, size_t folderSize, DWORD* error);

#endif
