// Native text on Windows: UTF-16, and the runtime's conversion and
// character classes.
#include "common/native_text.h"

#include <cstdlib>
#include <cwctype>

#include "common/report.h"

std::uint32_t kay_native_units(std::uint32_t c) { return c < 0x10000 ? 1 : 2; }

void kay_put_native(kchar*& out, std::uint32_t c) {
    if (c >= 0x10000) {
        *out++ = static_cast<kchar>(0xD800 + ((c - 0x10000) >> 10));
        c = 0xDC00 + (c & 0x3FF);
    }
    *out++ = static_cast<kchar>(c);
}

kchar kay_widen_char(char c) {
    char one[2] = {c, 0};
    wchar_t wide[2] = {0, 0};
    if (std::mbstowcs(wide, one, 2) != 1) kay_abort();
    return wide[0];
}

bool kay_is_digit(kchar c) { return std::iswdigit(static_cast<wint_t>(c)) != 0; }
