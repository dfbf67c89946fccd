// The one header through which Kurrelfix reaches its platform.
// On Windows it is the SDK; on the host it is our own declarations, which the
// simulated workstation implements.
#ifndef KURRELFIX_PLATFORM_PLATFORM_H
#define KURRELFIX_PLATFORM_PLATFORM_H

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include "host_win32.h"
#endif

#include "crt_seam.h"

// Lets the compiler check printf-style formats against their arguments, with
// the format family that the build's printf follows.
#if defined(__MINGW_PRINTF_FORMAT)
#define KF_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArgument)))
#else
#define KF_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#endif

// Marks every writable global of the tool: each is one piece of
// process-wide state that a new process finds as the program image laid it
// out. The host tests, which run the tool many times in one process, put
// exactly these back in one place (tests/fresh_process.cpp) and check that
// the library holds no other writable global.
#define KF_PROCESS_STATE

#endif
