// Names in the simulated workstation are UTF-8; Windows hands them out in
// UTF-16 to the wide calls and in its ANSI code page to the others. The
// model's ANSI code page is Windows-1252 (Western European), with a part of
// Windows' "best fit" mapping: a letter the code page lacks becomes a near
// letter (a fullwidth "ｋ" a "k") unless the caller asks for none, and "?"
// otherwise. Nothing here allocates, except where a text is handed back in
// a string: the sweep converts a name for every file.
#ifndef KURRELFIX_SIM_CODE_PAGE_H
#define KURRELFIX_SIM_CODE_PAGE_H

#include <stddef.h>

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace sim {

// True when the text is ASCII alone.
bool IsAscii(std::string_view text);

// UTF-8 into `size` units of UTF-16, always terminated (cut when it does not
// fit); the units written, without the terminator.
size_t Utf16Into(std::string_view utf8, WCHAR* out, size_t size);
// UTF-16 (surrogate pairs joined) appended to `out` as UTF-8.
void AppendUtf8(const WCHAR* utf16, size_t length, std::string* out);
// The same for tests and builders.
std::u16string Utf16(std::string_view utf8);
std::string Utf8(std::u16string_view utf16);

// The ANSI form of a UTF-8 text into `size` bytes, always terminated. With
// best fit, a letter the code page lacks becomes its near letter where it has
// one; otherwise, and always without best fit, it becomes "?" and
// *usedDefault is set. The bytes written, without the terminator.
size_t AnsiInto(std::string_view utf8, bool bestFit, char* out, size_t size, bool* usedDefault);
std::string AnsiOf(std::string_view utf8, bool bestFit, bool* usedDefault);

// The UTF-8 form of an ANSI text; a plain ASCII text is handed back as it
// is, without a copy.
std::string_view Utf8OfAnsi(std::string_view ansi, std::string* storage);

}  // namespace sim

#endif
