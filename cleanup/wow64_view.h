// The cleaning stages on 64-bit Windows: the real system folder in view while
// they look at files, and what could not be seen counted as a failure of the
// run, since the worm may sit just there.
#ifndef KURRELFIX_CLEANUP_WOW64_VIEW_H
#define KURRELFIX_CLEANUP_WOW64_VIEW_H

#include "support/wow64.h"

// IsWow64Windows; a Windows that cannot be told counts as a failure and is
// taken for 32-bit, whose views are the only ones it surely has.
int RunsOnWow64();

// SeeRealSystemFolder and RedirectAgain, each counting its failure.
void BeginRealSystemFolder(int wow64, FsRedirection* state);
void EndRealSystemFolder(FsRedirection* state);

#endif
