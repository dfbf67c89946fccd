// The NT family's names in UTF-16, as the sweep lists them, against the ANSI
// code page the rest of the tool and its log speak: whether a name's ANSI
// form reaches the entry as itself, and a readable form for the log of one
// that does not.
#ifndef KURRELFIX_SUPPORT_WIDE_NAMES_H
#define KURRELFIX_SUPPORT_WIDE_NAMES_H

#include <stddef.h>

#include "platform/platform.h"

// Converts the name (terminated) into `ansi` without best fit: 1 with its
// length when every character has its own exact form in the code page and
// it fits `size` bytes with the terminator; 0 otherwise (a letter the code
// page lacks, which best fit would have turned into another letter and
// another name). `ansi` then holds the conversion with "?" for each such
// letter, cut to fit, and always terminated.
int AnsiNameExactly(const WCHAR* name, char* ansi, size_t size, size_t* length);

// 1 when the ANSI calls' path rules leave the name as it is: no trailing
// dot or blank (they drop it), and not a device's name (CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, with any extension), which they take for the device.
int OpensAsItself(const WCHAR* name);

// 1 when `ansi` (a path as an ANSI call gave it, such as a process's image)
// is exactly the wide path's own ANSI form and the ANSI calls reach the file
// by it as itself: every character exact, every name left alone by their
// path rules, and shorter than MAX_PATH.
int AnsiPathReachesItself(const WCHAR* path, const char* ansi);

// Appends the readable form of `length` units of a name or path at `used`:
// each character with an exact form in the code page as that form, each
// other one (and each control character) as the escape of its code point
// ("<U+FF4B>"). Stops before what would not fit `size` with the terminator;
// the new length. Always terminated.
size_t AppendShownName(const WCHAR* name, size_t length, char* out, size_t used, size_t size);

#endif
