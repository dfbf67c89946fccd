// Records of the tool's own that a later run acts on (the share journal, the
// scanner record): where they live, how they are stored so that only
// administrators could have written them, and how they are read back with
// that checked on the open file or key itself.
//
// A record is a file in the Windows folder. On NT, a Windows folder whose
// volume keeps no access lists (FAT) lets anyone write a file there: the
// record is then a value of HKEY_LOCAL_MACHINE\SOFTWARE\Ombrel Works\Kurrelfix,
// a key the tool creates with the same owner and access list as the file.
#ifndef KURRELFIX_SUPPORT_TOOL_RECORD_H
#define KURRELFIX_SUPPORT_TOOL_RECORD_H

#include "platform/platform.h"

extern const char ToolRecordKey[];      // under HKEY_LOCAL_MACHINE
extern const char ToolRecordKeyText[];  // the same with its root, for the log

// On NT a record file carries a random identifier on its first line, and
// the run that writes it keeps the same identifier in an admin-only value
// of the key ("<file name> id") for as long as the file exists. A file is
// trusted only when it has one name and its identifier is the kept one: a
// copy someone kept by a hard link, and put back after the run deleted the
// record, carries the tool's own owner and access list, but no longer the
// identifier that is kept.
//
// A record's place: a file in the Windows folder, or a value of the key.
// `name` is what the log calls it: the file's path, or the key and value.
struct ToolRecordPlace {
    int inRegistry;
    const char* value;  // the key's value, when in the registry
    char name[MAX_PATH];
};

// `fileName` is the file's bare name ("Kurrelfix-shares.jnl"); 0 when the
// Windows folder cannot be had or the path would not fit.
int ToolRecordFilePlace(ToolRecordPlace* place, const char* fileName);
void ToolRecordKeyPlace(ToolRecordPlace* place, const char* value);

// Whether the Windows folder's volume is known to keep no access lists
// (FAT), so that the key must hold the record. When that cannot be told, the
// file is used: it is where the records have always been, and a run that
// finishes leaves nothing of them behind.
int WindowsVolumeKeepsNoAcls();

// A new file only, flushed to disk, admin-only on NT: an older record is
// never written over. On NT its identifier is kept in the key first, so that
// a run stopped in between leaves no file that is trusted without it. 1
// stored; 0 with the error (nothing left behind); `distrust` says why when
// the key is not to be trusted.
int StoreToolRecordInFile(const ToolRecordPlace* place, int nt, const char* bytes, DWORD size,
                          DWORD* error, const char** distrust);

// The key is made with the admin-only security, or found; one made
// beforehand by someone else is not written into (`distrust` says why). A
// value already there is not written over (ERROR_FILE_EXISTS).
int StoreToolRecordInKey(const ToolRecordPlace* place, const char* bytes, DWORD size, DWORD* error,
                         const char** distrust);

// Reads the whole record into a buffer of AllocBuffer (one byte more, a
// terminating zero). 1 read; 0 absent; 2 larger than `maxSize`; -1 there but
// unreadable, with the error. On NT, `distrust` says why it is not to be
// trusted (nullptr when it is), read from the open file or key itself.
int LoadToolRecord(const ToolRecordPlace* place, int nt, DWORD maxSize, char** text, DWORD* size,
                   DWORD* error, const char** distrust);

// 1 deleted (and its kept identifier with it); 0 with the error.
int DeleteToolRecord(const ToolRecordPlace* place, DWORD* error);

// Moves a record out of the way as <stem>.<suffix> (then <suffix>1 ...
// <suffix>9), where <stem> is its file name without the extension; one in
// the key becomes the value "<value>.<suffix>" holding `text`. Its kept
// identifier goes. 1 with the new name in `aside`; 0 with the error.
int SetAsideToolRecord(const ToolRecordPlace* place, const char* suffix, const char* text, DWORD size,
                       char* aside, size_t asideSize, DWORD* error);

#endif
