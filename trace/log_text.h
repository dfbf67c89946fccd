// Text from outside the tool (names of processes, files, folders and shares,
// values read back from the registry or win.ini) in a log or console line.
// A plain user decides what such a text holds: a process names itself, and
// a line break in its name would start a line of the log that the tool never
// wrote, which the fleet's batch files would read as the tool's own.
#ifndef KURRELFIX_TRACE_LOG_TEXT_H
#define KURRELFIX_TRACE_LOG_TEXT_H

#include <stddef.h>

// A message is cut at 1024 characters, so no argument needs more.
const size_t LogTextSize = 1024 + 1;

struct LogText {
    char text[LogTextSize];
};

// The text with each control character (below 0x20, and 0x7F) written as the
// escape of its code point, "<U+000A>" for a line break: no Windows file name
// holds "<" or ">". Any other byte is written as it is, so a text without
// control characters comes out unchanged, and the lead and trail bytes of a
// double-byte code page (trail bytes are 0x40 or more) are never split. A
// text that would not fit is cut before the escape that would not fit whole.
// The result lives as long as the record: pass `.text` within one statement.
LogText Escaped(const char* text);

// The same into the caller's buffer; the length written, never more than
// size - 1. Also for a text of known length that may hold NUL characters.
size_t EscapeForLog(const char* text, size_t length, char* out, size_t size);

// Appends the escape of one code point ("<U+FF4B>", "<U+1F600>") if it fits
// whole before size - 1; the new length, or `used` when it does not fit.
size_t AppendCodePointEscape(unsigned long codePoint, char* out, size_t used, size_t size);

#endif
