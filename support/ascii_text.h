// Names the tool compares without regard to case: switches, share names, INI
// sections and keys, registry roots. Only the letters A to Z fold, as in the
// system's own comparisons of such names; letters of the code page outside
// ASCII must be spelled alike.
#ifndef KURRELFIX_SUPPORT_ASCII_TEXT_H
#define KURRELFIX_SUPPORT_ASCII_TEXT_H

// 1 when the two texts are the same but for the case of A to Z; 0 when they
// differ or either is missing.
int SameAsciiTextIgnoringCase(const char* a, const char* b);

#endif
