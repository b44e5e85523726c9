// Apart from the code-point routines, so that a launcher links no string code.
#include "format/utf_strings.h"

#include "format/format.h"

bool utf8_to_utf16(const std::string& in, std::u16string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size();) {
        std::uint32_t cp;
        if (!utf8_next(in.data(), in.size(), &i, &cp)) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return true;
}

bool utf16_to_utf8(const std::u16string& in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size();) {
        std::uint32_t cp;
        if (!utf16_next(in.data(), in.size(), &i, &cp)) return false;
        char bytes[4];
        out.append(bytes, utf8_encode(cp, bytes));
    }
    return true;
}
