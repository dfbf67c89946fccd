// The Windows C runtime's mapping of Win32 errors to errno.
#ifndef KURRELFIX_SIM_CRT_ERRNO_H
#define KURRELFIX_SIM_CRT_ERRNO_H

#include "platform/platform.h"

namespace sim {

int ErrnoOfWin32(DWORD error);

}  // namespace sim

#endif
