// Any bytes as the body of a share journal: the first byte picks the family,
// the rest are its lines, and the end line with the right count and CRC is
// added, so that the checks of every field are reached rather than the CRC
// alone. A journal that the checks accept must give each of its counted
// shares to the walk the replay uses, and is then replayed on a simulated
// workstation, which re-creates its shares as the system would.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "cleanup/share_journal.h"
#include "support/share_journal_format.h"
#include "sim/workstation.h"
#include "support/crc32.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int nt = data[0] & 1;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    int lines = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++lines;
    char end[48];
    snprintf(end, sizeof(end), "end %d %08lX\r\n", lines > 0 ? lines - 1 : 0,
             (unsigned long)Crc32(text.data(), static_cast<DWORD>(text.size())));
    text += end;

    sim::Workstation ws;
    if (nt) {
        ws.Nt();
    } else {
        ws.Win9x();
    }
    int count = -1;
    const char* damage = CheckShareJournalText(text.data(), static_cast<DWORD>(text.size()), nt, &count);
    if (!damage && count < 0) abort();
    if (damage) return 0;
    // Every line the check accepted is a share the replay can rebuild.
    ShareJournalWalk walk;
    StartShareJournalWalk(&walk, text.data(), static_cast<DWORD>(text.size()), nt);
    JournalShare share;
    int walked = 0;
    for (int next; (next = NextJournalShare(&walk, &share)) != 0; ++walked) {
        if (next < 0) abort();
        FreeJournalShare(&share);
    }
    if (walked != count) abort();
    ws.File("C:\\WINDOWS\\Kurrelfix-shares.jnl", text);
    ReplayShareJournal(nt);
    if (ws.OpenHandles() != 0) abort();
    return 0;
}
