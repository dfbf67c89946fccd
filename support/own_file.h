// The files the tool makes in the Windows folder (the log, win.bak, the
// share journal, the scanner record). On NT 4.0 everyone may change that
// folder, on 2000 and XP Power Users may, and on a FAT system drive anyone
// may: a name the tool uses there may already be someone else's hard link or
// symbolic link to another file, which a write through the name would
// change with the administrator's rights. So a file of the tool's is written
// only through a handle that shows it is the tool's: a plain file, not a
// link, with one name, that only administrators could have written. A name
// planted in its place is set aside, never written through nor deleted: it
// may be someone's evidence.
#ifndef KURRELFIX_SUPPORT_OWN_FILE_H
#define KURRELFIX_SUPPORT_OWN_FILE_H

#include <stddef.h>
#include <stdio.h>

#include "platform/platform.h"

// Why the file open on `file` (opened with READ_CONTROL, without following
// a reparse point at its last name) is not the tool's own, or nullptr when
// it is; `suffix` gets the word its set-aside name ends with ("link",
// "linked", "untrusted"). `error` is set when what the check needs cannot be
// read (then it is not trusted).
const char* WhyNotOwnFile(HANDLE file, const char** suffix, DWORD* error);

// Renames `path` to `stem`, or to the first free one of `stem`1 ... `stem`9
// when that is taken, so that an older set-aside file is kept too. A rename
// moves the name only: nothing is written through a link. 1 with the new
// name in `aside`; 0 with the error.
int SetAsideOwnFile(const char* path, const char* stem, char* aside, size_t asideSize, DWORD* error);

// The log's opener (see SetLogOpener): on NT the log is appended to only
// when it is the tool's own; a file in its place that is not is set aside,
// a new log made with the security that keeps it to administrators, and
// `note` says what was found. On 9x, fopen as before.
FILE* OpenOwnLog(const char* path, const char* mode, char* note, size_t noteSize);

#endif
