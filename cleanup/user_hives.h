// The hives loaded under HKEY_USERS on NT: the logged-on users', the
// services', the default user's. A program running as a plain user writes
// its own hive: the classes it writes through HKEY_CLASSES_ROOT land in its
// "<SID>_Classes" key (Windows lays a user's classes over the machine's from
// 2000 on), and win.ini's run= in its "<SID>\...\Windows" value (the
// ini-file mapping). The administrator's own view shows neither, so the
// settings repair looks at each hive by name. A user who is not logged on
// has no hive loaded, and nothing of theirs is reached.
#ifndef KURRELFIX_CLEANUP_USER_HIVES_H
#define KURRELFIX_CLEANUP_USER_HIVES_H

#include <stddef.h>

#include "platform/platform.h"

// A key's name has at most 255 characters.
const DWORD UserKeyNameSize = 256;

enum UserKeyKind { UserHiveKey, UserClassesKey };

// The loaded key names of one kind, one at each call: `*index` starts at 0
// and moves on past every name handed out or skipped. 1 with the name
// (terminated) while there is one; 0 at the end. A listing that fails is a
// level-1 line and a failure of the run, and ends the list.
int NextUserKey(UserKeyKind kind, DWORD* index, char name[UserKeyNameSize]);

// How many names of that kind are loaded now (the count may change before
// they are listed: callers take what fits). A listing that fails is
// reported as NextUserKey reports it.
size_t CountUserKeys(UserKeyKind kind);

#endif
