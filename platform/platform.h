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

#endif
