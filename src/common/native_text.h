// Where native text differs between the systems: UTF-16 on Windows, UTF-8
// elsewhere. Each call has two forms side by side, native_text-win32.cpp
// and native_text-posix.cpp, of which the build takes the one of its
// system.
#pragma once

#include <cstdint>

#include "common/text.h"

// Units the code point `c` takes in native text.
std::uint32_t kay_native_units(std::uint32_t c);

// Writes the code point `c` at `out` in native form and advances `out`
// (kay_native_units(c) units).
void kay_put_native(kchar*& out, std::uint32_t c);

// One narrow character (ASCII text the system keeps narrow) as one native
// unit; a character that does not convert to exactly one is an abnormal
// end.
kchar kay_widen_char(char c);

// Whether `c` is a decimal digit as the system's runtime tells them.
bool kay_is_digit(kchar c);
