// The fixed sequence of cleaning stages.
#ifndef KURRELFIX_APP_DISINFECT_H
#define KURRELFIX_APP_DISINFECT_H

#include "platform/platform.h"

// Runs every stage once, in order. Returns 1 when the sequence ran, 0 when
// the arguments were wrong (the interface version's low 16 bits are not 1,
// or no file mask); then 4 is written to the result slot. The reserved
// positions keep the calling convention of the maker's other removal tools.
int Disinfect_Kurrel(int* resultSlot, DWORD reserved2, const char* wormName, DWORD reserved4,
                     DWORD interfaceVersion, DWORD reserved6, const char* fileMask,
                     DWORD reserved8, DWORD reserved9, DWORD reserved10, DWORD reserved11);

#endif
