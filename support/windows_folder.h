// The files the tool keeps in the Windows folder: its log, win.ini and its
// backup, the boot-time rename list of Windows 9x (WININIT.INI) and the
// tool's own records. Each is the folder the system reports followed by the
// file's name, joined here once, so that every one of them is cut or refused
// the same way.
#ifndef KURRELFIX_SUPPORT_WINDOWS_FOLDER_H
#define KURRELFIX_SUPPORT_WINDOWS_FOLDER_H

#include "platform/platform.h"

// How the backslash between folder and name is written. The log, the
// rename list and the records have always had it added, also after a drive
// root (C:\\Kurrelfix.log, which Windows reads as C:\Kurrelfix.log);
// win.ini and its backup take it only after a folder longer than a drive
// root (C:\).
enum WindowsFolderSeparator { BackslashAlways, BackslashUnlessRoot };

// What became of the joined path.
enum WindowsFilePath {
    WindowsFileJoined,     // `path` holds the folder and the name
    WindowsFolderUnknown,  // GetWindowsDirectoryA failed; `path` is ""
    WindowsFileTooLong,    // the folder, or the folder and the name, do not fit; `path` is ""
};

// Joins the Windows folder and `name` (given without a backslash) into
// `path` of `size` bytes with one call to GetWindowsDirectoryA. Nothing is
// ever cut: a path that would be cut names some other file.
WindowsFilePath WindowsFolderFile(const char* name, WindowsFolderSeparator separator, char* path,
                                  size_t size);

#endif
