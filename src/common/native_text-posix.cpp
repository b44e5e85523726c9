// Native text on POSIX: UTF-8.
#include "common/native_text.h"

#include "common/report.h"

std::uint32_t kay_native_units(std::uint32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

void kay_put_native(kchar*& out, std::uint32_t c) {
    std::uint32_t n = kay_native_units(c);
    static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (std::uint32_t i = n; i-- > 1;) out[i] = static_cast<char>(0x80 | ((c >> (6 * (n - 1 - i))) & 0x3F));
    out[0] = static_cast<char>(n == 1 ? c : lead[n] | (c >> (6 * (n - 1))));
    out += n;
}

// Native text is narrow already; only ASCII names and digits pass.
kchar kay_widen_char(char c) {
    if (static_cast<unsigned char>(c) >= 0x80) kay_abort();
    return c;
}

bool kay_is_digit(kchar c) { return c >= '0' && c <= '9'; }
