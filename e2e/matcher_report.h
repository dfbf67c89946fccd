// One line per path of what the worm test says about it, printed the same
// way by the Windows program matcher_check.exe and by its host twin, so that
// the two answers can be compared byte for byte.
#ifndef KURRELFIX_E2E_MATCHER_REPORT_H
#define KURRELFIX_E2E_MATCHER_REPORT_H

// Prints "PATH opened=R index=I infected=F\n" for the built-in table.
void PrintMatchReport(const char* path);

#endif
