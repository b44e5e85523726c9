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

// Whether the name begins with the launcher's own ".kay-state", in any case.
static bool is_reserved(const char16_t* name, std::size_t length) {
    const char* own = ".kay-state";
    std::size_t k = 0;
    for (; own[k] != 0; k++) {
        if (k == length || upper(name[k]) != upper(static_cast<char16_t>(own[k]))) return false;
    }
    return true;
}

kay_name_reason check_entry_name(const char16_t* name, std::size_t length) {
    if (length == 0) return KAY_NAME_EMPTY;
    if (is_reserved(name, length)) return KAY_NAME_RESERVED;
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

// The simple upper-case form Windows compares names by, for the letters of
// Latin (ASCII, Latin-1, Latin Extended-A), Greek, Cyrillic and the full-width
// ASCII letters; other units compare as they are.
static char16_t windows_upper(char16_t c) {
    auto in = [c](unsigned lo, unsigned hi) { return c >= lo && c <= hi; };
    if (in(u'a', u'z') || (in(0xE0, 0xFE) && c != 0xF7) || in(0x3B1, 0x3C1) || in(0x3C3, 0x3CB) || in(0x430, 0x44F) ||
        in(0xFF41, 0xFF5A))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (in(0x450, 0x45F)) return static_cast<char16_t>(c - 0x50);
    // Latin Extended-A pairs an upper-case letter with the next unit, odd
    // lower-case in 0100-0137 and 014A-0177, even in 0139-0148 and 0179-017E;
    // the dotless i (0131) keeps its own form.
    if ((in(0x100, 0x137) || in(0x14A, 0x177)) && (c & 1) != 0 && c != 0x131) return static_cast<char16_t>(c - 1);
    if ((in(0x139, 0x148) || in(0x179, 0x17E)) && (c & 1) == 0) return static_cast<char16_t>(c - 1);
    return c;
}

std::size_t entry_name_key(const char16_t* name, std::size_t length, kay_name_rules rules, char16_t* key) {
    std::size_t n = 0;
    for (std::size_t i = 0; i <= length; i++) {
        bool end_of_component = i == length || is_separator(name[i]);
        // An acceptable component is never dots and blanks only, so this
        // leaves at least one unit of it.
        if (end_of_component && rules == KAY_NAMES_WINDOWS)
            while (n > 0 && (key[n - 1] == u'.' || key[n - 1] == u' ')) n--;
        if (i == length) break;
        if (end_of_component) key[n++] = u'\\';
        else key[n++] = rules == KAY_NAMES_WINDOWS ? windows_upper(name[i]) : name[i];
    }
    return n;
}
