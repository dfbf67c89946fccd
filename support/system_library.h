// The system's optional libraries (PSAPI, VDMDBG, netapi32, svrapi) are bound
// at run time, so that one program starts on both Windows families. They are
// loaded from the system folder by their full path, never by a bare name:
// for a bare name Windows looks in the program's own folder first, and the
// tool is often started from a network share or a folder where anyone may
// have dropped a file of that name, which would then run with the
// administrator's rights. The altered search order makes the libraries that
// a system library imports in turn be looked for beside it too.
#ifndef KURRELFIX_SUPPORT_SYSTEM_LIBRARY_H
#define KURRELFIX_SUPPORT_SYSTEM_LIBRARY_H

#include "platform/platform.h"

// "PSAPI.DLL" from the system folder, by the ANSI call. NULL with the last
// error set when it is not there or cannot be loaded (a library installed
// only elsewhere counts as missing).
HMODULE LoadSystemLibrary(const char* name);
// The same by the wide call, for the NT family's network library.
HMODULE LoadSystemLibraryWide(const char* name);

// One function of a loaded library, as its own type; NULL when it is missing.
// GetProcAddress hands out one function type for every entry point; the cast
// through void(*)(void) is the one the compiler lets pass between unrelated
// function types.
template <typename Function>
Function BindFunction(HMODULE library, const char* name) {
    FARPROC address = GetProcAddress(library, name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(address));
}

#endif
