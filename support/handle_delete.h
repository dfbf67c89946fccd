// The NT family's way to change a file that is open: its attributes and its
// deletion go through the handle, never through its path again. A path is
// resolved anew by every call, and between two calls a plain user may put a
// junction in place of a folder of theirs; a handle stays on the file it was
// opened on. The calls are NTDLL.DLL's, bound at run time: every NT version
// has them, and Windows 9x, which has no links, keeps deleting by path.
#ifndef KURRELFIX_SUPPORT_HANDLE_DELETE_H
#define KURRELFIX_SUPPORT_HANDLE_DELETE_H

#include "platform/platform.h"
#include "support/file_path.h"

// Opens the file to delete it: for reading (the caller reads it again), for
// its attributes and for deletion, letting others only read it meanwhile, so
// that no writer changes it between the check and the deletion. From Windows
// 2000 on, a reparse point at the last name is opened itself, not followed
// (Windows NT 4.0 knows none, and refuses the flag). INVALID_HANDLE_VALUE
// with the error when it cannot be opened so.
HANDLE OpenFileToDelete(const FilePath& path, DWORD* error);

// Opens the file only to read it and to read and change its attributes, as
// a file in use still lets anyone do who may read it (its holder refused
// others the deletion only), without following a reparse point at its
// name either.
HANDLE OpenFileToInspect(const FilePath& path, DWORD* error);

// Sets the file's attributes through the handle (0 becomes
// FILE_ATTRIBUTE_NORMAL, since 0 means "leave them"). 1, or 0 with a Win32 error.
int SetAttributesOfOpenFile(HANDLE file, DWORD attributes, DWORD* error);

// Marks the file for deletion: it goes when the handle is closed. 1, or 0
// with a Win32 error (ERROR_ACCESS_DENIED for a running program's image or a
// read-only file).
int DeleteOpenFile(HANDLE file, DWORD* error);

// 1 when a failed deletion is of the kind the next boot may still carry
// out: the file is in use, locked, or refused for now.
int IsHeldFileError(DWORD error);

// 1 from Windows 2000 on: the NT versions whose volumes know reparse points.
int KnowsReparsePoints();

#endif
