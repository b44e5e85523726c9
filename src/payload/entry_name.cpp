#include "payload/entry_name.h"

#include "bootstrap/report.h"
#include "common/bounded.h"

static bool is_separator(std::uint16_t c) { return c == '\\' || c == '/'; }

// A component of dots and blanks only, with at least one dot, may be taken
// as '.' or '..' by Windows path rules (trailing dots and blanks are
// dropped there), so such components are refused as well.
static bool is_dot_component(const std::uint16_t* begin, const std::uint16_t* end) {
    bool dot = false;
    for (const std::uint16_t* p = begin; p < end; p++) {
        if (*p == '.') dot = true;
        else if (*p != ' ') return false;
    }
    return dot;
}

bool entry_name_is_safe(const std::uint16_t* name) {
    if (name[0] == 0 || is_separator(name[0])) return false;
    const std::uint16_t* start = name;
    for (const std::uint16_t* p = name;; p++) {
        if (*p == ':') return false;
        if (*p >= 0xD800 && *p <= 0xDBFF) {
            if (!(p[1] >= 0xDC00 && p[1] <= 0xDFFF)) return false;
            p++;
            continue;
        }
        if (*p >= 0xDC00 && *p <= 0xDFFF) return false;
        if (*p == 0 || is_separator(*p)) {
            if (is_dot_component(start, p)) return false;
            if (*p == 0) return true;
            start = p + 1;
        }
    }
}

void append_entry_name(kchar* dst, std::uint32_t capacity, const std::uint16_t* name) {
    std::uint32_t len = kay_strlen(dst);
#if KAY_WINDOWS
    for (; *name != 0; name++) buf_put(dst, capacity, &len, static_cast<kchar>(*name));
#else
    for (; *name != 0; name++) {
        std::uint32_t c = *name;
        if (c >= 0xD800 && c <= 0xDBFF) {
            std::uint32_t low = name[1];
            if (low < 0xDC00 || low > 0xDFFF) fatal_error(MSG_DECODE);
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            name++;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            fatal_error(MSG_DECODE);
        }
        if (c == '\\') c = '/';
        if (c < 0x80) {
            buf_put(dst, capacity, &len, static_cast<char>(c));
        } else if (c < 0x800) {
            buf_put(dst, capacity, &len, static_cast<char>(0xC0 | (c >> 6)));
            buf_put(dst, capacity, &len, static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            buf_put(dst, capacity, &len, static_cast<char>(0xE0 | (c >> 12)));
            buf_put(dst, capacity, &len, static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            buf_put(dst, capacity, &len, static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            buf_put(dst, capacity, &len, static_cast<char>(0xF0 | (c >> 18)));
            buf_put(dst, capacity, &len, static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            buf_put(dst, capacity, &len, static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            buf_put(dst, capacity, &len, static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
#endif
}
