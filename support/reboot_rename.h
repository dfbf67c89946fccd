// Leaves a file's deletion or rename for the next boot: with MoveFileExA on NT
// for an administrator, through the scanner's service on NT otherwise (renames
// only), through the "rename" section of WININIT.INI on Windows 9x.
#ifndef KURRELFIX_SUPPORT_REBOOT_RENAME_H
#define KURRELFIX_SUPPORT_REBOOT_RENAME_H

#include "platform/platform.h"

// With a new path the existing file is renamed to it at the next boot,
// replacing a file of that name; with none it is deleted. 1 when the request
// has been placed, 0 when not.
int AddFileToAutomaticRenameList(const char* existingPath, const char* newPath);

// The deletion at the next boot of a file that only its wide "\\?\" path
// reaches (NT only): MoveFileExW for an administrator, with the same lines;
// nothing otherwise, as the scanner's service renames only.
int AddFileToAutomaticDeleteListWide(const WCHAR* existingPath);

#endif
