// A share that NetShareAdd finds already there (2118) when the tool puts a
// remembered share back. On NT that is the very share only when its deletion
// failed; anyone else who may make shares (Power Users on 2000 and XP) can
// have made one of that name while the tool cleaned, and taking it for ours
// would end the journal and lose the remembered share for good. So it counts
// as back only when its path, type, permissions and security descriptor are
// the remembered ones. Windows 9x has no such boundary: there 2118 is back.
#ifndef KURRELFIX_CLEANUP_EXISTING_SHARE_H
#define KURRELFIX_CLEANUP_EXISTING_SHARE_H

#include "platform/platform.h"
#include "platform/share_records.h"

// How `found` differs from `remembered` ("another path", "another type",
// "other permissions", "another security descriptor"), or nullptr when it is
// the same share by those four.
const char* ShareRecordDifference(const SHARE_INFO_502* remembered, const SHARE_INFO_502* found);

// NT: reads the share of the remembered record's name (NetShareGetInfo,
// level 502) and compares. 1 when it is the remembered one; 0 when it is not
// or cannot be read, with a level-1 line that names it and says why.
int ExistingShareIsRemembered(const SHARE_INFO_502* remembered);

#endif
