#include "format/format.h"

static bool is_high(std::uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
static bool is_low(std::uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool utf16_next(const char16_t* s, std::size_t n, std::size_t* i, std::uint32_t* cp) {
    std::uint32_t c = s[(*i)++];
    *cp = c;
    if (is_high(c) && *i < n && is_low(s[*i])) {
        *cp = 0x10000 + ((c - 0xD800) << 10) + (s[(*i)++] - 0xDC00u);
        return true;
    }
    return !is_high(c) && !is_low(c);
}

bool utf8_next(const char* s, std::size_t n, std::size_t* i, std::uint32_t* cp) {
    unsigned char b = static_cast<unsigned char>(s[*i]);
    int extra;
    if (b < 0x80) { *cp = b; extra = 0; }
    else if ((b & 0xE0) == 0xC0) { *cp = b & 0x1F; extra = 1; }
    else if ((b & 0xF0) == 0xE0) { *cp = b & 0x0F; extra = 2; }
    else if ((b & 0xF8) == 0xF0) { *cp = b & 0x07; extra = 3; }
    else return false;
    if (*i + extra >= n && extra > 0) return false;
    for (int k = 1; k <= extra; k++) {
        unsigned char c = static_cast<unsigned char>(s[*i + k]);
        if ((c & 0xC0) != 0x80) return false;
        *cp = (*cp << 6) | (c & 0x3F);
    }
    static const std::uint32_t min_for[] = {0, 0x80, 0x800, 0x10000};
    if (*cp < min_for[extra] || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return false;
    *i += extra + 1;
    return true;
}

unsigned utf8_encode(std::uint32_t cp, char out[4]) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    unsigned n = cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (unsigned k = n - 1; k > 0; k--, cp >>= 6) out[k] = static_cast<char>(0x80 | (cp & 0x3F));
    out[0] = static_cast<char>(lead[n] | cp);
    return n;
}
