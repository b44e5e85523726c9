#include "names.h"

#include <cstdio>

#include "format.h"

static bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }
static bool is_high(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
static bool is_low(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Dots and blanks only, at least one dot: Windows drops trailing dots and
// blanks, so "..", ". " and "..." all may mean the current or parent directory.
static bool is_dot_component(const std::u16string& name, std::size_t begin, std::size_t end) {
    bool dot = false;
    for (std::size_t i = begin; i < end; i++) {
        if (name[i] == u'.') dot = true;
        else if (name[i] != u' ') return false;
    }
    return dot;
}

const char* name_problem(const std::u16string& name) {
    if (name.empty()) return "empty name";
    if (name.size() > MAX_NAME_UNITS) return "longer than 1023 UTF-16 units";
    if (is_separator(name[0])) return "absolute path (leading separator)";
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); i++) {
        char16_t c = i < name.size() ? name[i] : 0;
        if (i < name.size()) {
            if (c == 0) return "contains a NUL character";
            if (c == u':') return "contains ':' (drive letter or stream name)";
            if (is_high(c)) {
                if (i + 1 >= name.size() || !is_low(name[i + 1])) return "not valid UTF-16";
                i++;
                continue;
            }
            if (is_low(c)) return "not valid UTF-16";
            if (!is_separator(c)) continue;
        }
        if (i == start) return "empty path component";
        if (is_dot_component(name, start, i)) return "'.' or '..' component";
        start = i + 1;
    }
    return nullptr;
}

bool utf8_to_utf16(const std::string& in, std::u16string& out) {
    out.clear();
    std::size_t i = 0;
    while (i < in.size()) {
        unsigned char b = static_cast<unsigned char>(in[i]);
        std::uint32_t cp;
        int extra;
        if (b < 0x80) { cp = b; extra = 0; }
        else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; extra = 1; }
        else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; extra = 2; }
        else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; extra = 3; }
        else return false;
        if (i + extra >= in.size() && extra > 0) return false;
        for (int k = 1; k <= extra; k++) {
            unsigned char c = static_cast<unsigned char>(in[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static const std::uint32_t min_for[] = {0, 0x80, 0x800, 0x10000};
        if (cp < min_for[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return true;
}

static void put_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Walks `in` by code point; `bad` is called for each unpaired surrogate.
template <typename Good, typename Bad>
static void walk_utf16(const std::u16string& in, Good good, Bad bad) {
    for (std::size_t i = 0; i < in.size(); i++) {
        char16_t c = in[i];
        if (is_high(c) && i + 1 < in.size() && is_low(in[i + 1])) {
            good(0x10000 + ((static_cast<std::uint32_t>(c) - 0xD800) << 10) + (in[i + 1] - 0xDC00));
            i++;
        } else if (is_high(c) || is_low(c)) {
            bad(c);
        } else {
            good(c);
        }
    }
}

bool utf16_to_utf8(const std::u16string& in, std::string& out) {
    out.clear();
    bool ok = true;
    walk_utf16(in, [&](std::uint32_t cp) { put_utf8(out, cp); }, [&](char16_t) { ok = false; });
    return ok;
}

std::string display_name(const std::u16string& name) {
    std::string out;
    walk_utf16(
        name, [&](std::uint32_t cp) { put_utf8(out, cp < 0x20 || cp == 0x7F ? '?' : cp); },
        [&](char16_t) { put_utf8(out, 0xFFFD); });
    return out;
}

std::string json_string(const std::u16string& name) {
    std::string out = "\"";
    auto escape = [&](std::uint32_t unit) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", unit);
        out += buf;
    };
    walk_utf16(
        name,
        [&](std::uint32_t cp) {
            if (cp == '"') out += "\\\"";
            else if (cp == '\\') out += "\\\\";
            else if (cp < 0x20) escape(cp);
            else put_utf8(out, cp);
        },
        [&](char16_t unit) { escape(unit); });
    return out + "\"";
}
