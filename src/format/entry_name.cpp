#include "format/format.h"

static bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

// The reason a component name[begin, end) is refused, or KAY_NAME_OK.
static kay_name_reason check_component(const char16_t* name, std::size_t begin, std::size_t end) {
    if (begin == end) return KAY_NAME_EMPTY_COMPONENT;
    bool dot = false;
    for (std::size_t i = begin; i < end; i++) {
        if (name[i] == u'.') dot = true;
        else if (name[i] != u' ') return KAY_NAME_OK;
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
