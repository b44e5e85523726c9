#include "format/format.h"

static bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

static char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// Whether Windows maps the component s[0, n) to a device: its part before
// the first dot, trailing blanks dropped, names one.
static bool is_device(const char16_t* s, std::size_t n) {
    std::size_t len = 0;
    while (len < n && s[len] != u'.') len++;
    while (len > 0 && s[len - 1] == u' ') len--;
    auto is = [&](const char* word) {
        std::size_t k = 0;
        for (; word[k] != 0; k++) {
            if (k == len || upper(s[k]) != static_cast<char16_t>(word[k])) return false;
        }
        return k == len;
    };
    if (is("CON") || is("PRN") || is("AUX") || is("NUL") || is("CONIN$") || is("CONOUT$")) return true;
    if (len != 4) return false;
    char16_t d = s[3];
    bool digit = (d >= u'0' && d <= u'9') || d == u'\u00B9' || d == u'\u00B2' || d == u'\u00B3';
    len = 3;
    return digit && (is("COM") || is("LPT"));
}

// The reason a component name[begin, end) is refused, or KAY_NAME_OK.
static kay_name_reason check_component(const char16_t* name, std::size_t begin, std::size_t end) {
    if (begin == end) return KAY_NAME_EMPTY_COMPONENT;
    bool dot = false;
    for (std::size_t i = begin; i < end; i++) {
        if (name[i] == u'.') dot = true;
        else if (name[i] != u' ') return is_device(name + begin, end - begin) ? KAY_NAME_DEVICE : KAY_NAME_OK;
    }
    return dot ? KAY_NAME_DOT_COMPONENT : KAY_NAME_OK;
}

kay_name_reason check_entry_name(const char16_t* name, std::size_t length) {
    if (length == 0) return KAY_NAME_EMPTY;
    if (length > KAY_NAME_CAPACITY - 1) return KAY_NAME_TOO_LONG;
    if (is_separator(name[0])) return KAY_NAME_ABSOLUTE;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= length; i++) {
        if (i < length) {
            if (name[i] == 0) return KAY_NAME_NUL;
            if (name[i] == u':') return KAY_NAME_COLON;
            std::size_t next = i;
            std::uint32_t cp;
            if (!utf16_next(name, length, &next, &cp)) return KAY_NAME_BAD_UTF16;
            if (next - i == 2) {
                i++;
                continue;
            }
            if (!is_separator(name[i])) continue;
        }
        kay_name_reason reason = check_component(name, start, i);
        if (reason != KAY_NAME_OK) return reason;
        start = i + 1;
    }
    return KAY_NAME_OK;
}
