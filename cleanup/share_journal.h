// The share journal: the shares that the removal takes off the network,
// written to disk before the first of them is deleted, so that a run that
// dies before it re-creates them (killed, a crash, the power gone) loses
// none. A later run finds the journal and re-creates them first.
//
// The file is Kurrelfix-shares.jnl in the Windows directory, beside the log.
// On NT it is owned by Administrators and only Administrators and SYSTEM may
// open it, and it is replayed only when that is still so: anyone else who
// could have written it could have named a share of their own making. When
// the Windows folder's volume keeps no access lists (FAT), the NT journal is
// instead the value "Share journal" of HKEY_LOCAL_MACHINE\SOFTWARE\Ombrel
// Works\Kurrelfix, a key made and checked the same way. A journal not to be
// trusted is set aside as Kurrelfix-shares.untrusted (or the value "Share
// journal.untrusted"); a damaged one as Kurrelfix-shares.bad.
//
// What it holds and how is support/share_journal_format.h.
#ifndef KURRELFIX_CLEANUP_SHARE_JOURNAL_H
#define KURRELFIX_CLEANUP_SHARE_JOURNAL_H

#include "platform/platform.h"
#include "platform/share_records.h"

// Whether this run wrote a journal that RestoreShares must settle.
extern int ShareJournalWritten;

// Writes the records (SHARE_INFO_502 on NT, share_info_50 on 9x) and flushes
// them to disk; on NT only Administrators and SYSTEM may read it. 1 when
// the journal is on disk; 0, logged, when it is not, and then no share may be
// deleted.
int WriteShareJournal(int nt, void* const* records, int count);

// At the start of the removal: a journal left by an earlier run is re-created
// share by share. 1 when the removal may go on (no journal, every share of it
// back, or a damaged one set aside); 0 when a journal is still needed and
// must not be replaced, or was not to be trusted, so this run removes no share.
int ReplayShareJournal(int nt);

// After RestoreShares has tried every share: the journal goes when every
// share came back, and stays for the next run when one did not.
void SettleShareJournal(int everyShareBack, int sharesMissing);

#endif
