// Kurrelfix.exe is a 32-bit program. On 64-bit Windows the system shows such a
// program SysWOW64 wherever it names System32, and keeps a 32-bit view of
// parts of the registry beside the 64-bit one. The worm's copies that arrive
// over the network land in the real System32, and the 64-bit shell reads the
// 64-bit view: the sweeps and the settings repair must see both as they are.
#ifndef KURRELFIX_SUPPORT_WOW64_H
#define KURRELFIX_SUPPORT_WOW64_H

#include "platform/platform.h"

// 1 when this process runs on 64-bit Windows: the NT family, and
// IsWow64Process (found at run time; 32-bit Windows before XP lacks it) says
// so. 0 on 32-bit Windows, and always on the 9x family, whatever an emulator
// answers. -1, logged at level 1, when the question cannot be answered.
int IsWow64Windows();

// What the thread's file-system redirection was before the tool turned it off.
struct FsRedirection {
    int off;          // 1 while the tool has it off
    PVOID previous;   // for Wow64RevertWow64FsRedirection
};

// On 64-bit Windows (`wow64` 1), turns the redirection off for this thread,
// so that System32 names the real folder. Nothing that loads a library may
// run until RedirectAgain. 1 when the caller sees the disk as it is (also
// where nothing is redirected); 0, logged at level 1, when the redirection
// stays on and hides the real System32.
int SeeRealSystemFolder(int wow64, FsRedirection* state);

// Turns the redirection back on if SeeRealSystemFolder turned it off: the
// system finds its 32-bit libraries only through it. 1 when it is as it was
// before; 0, logged at level 1, when it stays off.
int RedirectAgain(FsRedirection* state);

#endif
