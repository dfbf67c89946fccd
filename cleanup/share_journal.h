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
// It is text with CR LF line ends:
//
//   Kurrelfix share journal 1 NT            (or 9x)
//   share502 NAME TYPE REMARK PERMISSIONS MAX_USES CURRENT_USES PATH PASSWD RESERVED SD
//   share50 NAME TYPE FLAGS REMARK PATH RW_PASSWORD RO_PASSWORD
//   end COUNT CRC
//
// one share line per share, of the family's kind. Numbers are decimal; texts
// are their bytes in hex (NT: UTF-16 units, 4 hex digits each; 9x: the 8-bit
// bytes, 2 hex digits each), "-" for a missing text; SD is the NT share's
// self-relative security descriptor in hex, "-" when it has none. The last
// line holds the count of share lines and, as 8 hex digits, the CRC-32 of
// every byte before it, so a journal cut short or changed is known as such.
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

// Why the journal's text cannot be used, or nullptr when every line is sound
// (and then `count` is its number of shares). Every field of every share line
// is checked: texts within their limits, numbers NetShareAdd takes, and a
// security descriptor whose every offset lies within its bytes.
const char* CheckShareJournalText(const char* text, DWORD size, int nt, int* count);

// After RestoreShares has tried every share: the journal goes when every
// share came back, and stays for the next run when one did not.
void SettleShareJournal(int everyShareBack, int sharesMissing);

#endif
