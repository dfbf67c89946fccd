// The share journal's format: the shares a run takes off the network, as
// text a later run can re-create them from. Where the journal lives, who may
// have written it and what a run does with it belong to the share stage
// (cleanup/share_journal.h); this is only the text.
//
// It is text with CR LF line ends:
//
//   Kurrelfix share journal 1 NT            (or 9x)
//   share502 NAME TYPE REMARK PERMISSIONS MAX_USES CURRENT_USES PATH PASSWD RESERVED SD
//   share50 NAME TYPE FLAGS REMARK PATH RW_PASSWORD RO_PASSWORD
//   end COUNT CRC
//
// one share line per share, of the family's kind, fields parted by one
// blank. Numbers are decimal; texts are their bytes in hex, upper case (NT:
// UTF-16 units, 4 hex digits each, most significant first; 9x: the 8-bit
// bytes, 2 hex digits each), after an "x", or "-" for a missing text; SD is
// the NT share's self-relative security descriptor in hex after an "x", "-"
// when it has none. The last line holds the count of share lines and, as 8
// hex digits, the CRC-32 of every byte before it, so a journal cut short or
// changed is known as such.
//
// A journal is used only when every field of every line is one NetShareAdd
// takes: the name, remark, path and password within its lengths (80, 256,
// MAX_PATH and 8 characters), a share kind and flags it knows, and a
// descriptor whose every offset lies within its bytes.
#ifndef KURRELFIX_SUPPORT_SHARE_JOURNAL_FORMAT_H
#define KURRELFIX_SUPPORT_SHARE_JOURNAL_FORMAT_H

#include "platform/platform.h"
#include "platform/share_records.h"

// A journal of thousands of shares stays far below this; a larger file is
// not one of ours.
const DWORD MaxShareJournalSize = 4 * 1024 * 1024;

// The journal of `count` records (SHARE_INFO_502 on NT, share_info_50 on
// 9x) written into `out`, or only counted when `out` is NULL: the number of
// bytes either way, so that a caller counts first and then fills a buffer of
// that size.
DWORD FormatShareJournal(int nt, void* const* records, int count, char* out);

// Why the journal's text cannot be used, or NULL when every line is sound
// (and then `count` is its number of shares).
const char* CheckShareJournalText(const char* text, DWORD size, int nt, int* count);

// One share of a journal, rebuilt as the family's record. Its texts and
// descriptor live in `scratch`, which FreeJournalShare releases.
struct JournalShare {
    SHARE_INFO_502 nt;
    share_info_50 nine;
    BYTE* scratch;
};

// The shares of a journal that CheckShareJournalText accepted, one after
// the other.
struct ShareJournalWalk {
    const char* at;
    const char* end;
    int nt;
};
void StartShareJournalWalk(ShareJournalWalk* walk, const char* text, DWORD size, int nt);
// 1 with the next share in `share`; 0 after the last; -1 when there was no
// memory to rebuild the next one, which is then passed over. Every share
// given out is released with FreeJournalShare.
int NextJournalShare(ShareJournalWalk* walk, JournalShare* share);
void FreeJournalShare(JournalShare* share);

// The names of the shares any journal text holds, as far as each line's
// first text can be read, for a line that says what was not re-created:
// " NAME NAME ..." with anything unprintable shown as "?", " ..." where
// `room` ends, " (none)" when no name could be read.
void ListShareJournalNames(int nt, const char* text, DWORD size, char* names, size_t room);

#endif
