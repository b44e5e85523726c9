#include "names.h"

#include <cstdio>
#include <string>

#include "format/format.h"

const char* name_problem(const std::u16string& name) {
    switch (check_entry_name(name.data(), name.size())) {
    case KAY_NAME_OK: return nullptr;
    case KAY_NAME_EMPTY: return "empty name";
    case KAY_NAME_TOO_LONG: {
        static const std::string text = "longer than " + std::to_string(KAY_NAME_CAPACITY - 1) + " UTF-16 units";
        return text.c_str();
    }
    case KAY_NAME_ABSOLUTE: return "absolute path (leading separator)";
    case KAY_NAME_NUL: return "contains a NUL character";
    case KAY_NAME_COLON: return "contains ':' (drive letter or stream name)";
    case KAY_NAME_BAD_UTF16: return "not valid UTF-16";
    case KAY_NAME_EMPTY_COMPONENT: return "empty path component";
    case KAY_NAME_DOT_COMPONENT: return "'.' or '..' component";
    case KAY_NAME_DEVICE: return "Windows device name (CON, NUL, COM1...)";
    case KAY_NAME_RESERVED: return "the launcher's own name (.kay-state)";
    }
    return "unknown problem";
}

static void put_utf8(std::string& out, std::uint32_t cp) {
    char bytes[4];
    out.append(bytes, utf8_encode(cp, bytes));
}

// Walks `in` by code point; `bad` is called for each unpaired surrogate.
template <typename Good, typename Bad>
static void walk_utf16(const std::u16string& in, Good good, Bad bad) {
    for (std::size_t i = 0; i < in.size();) {
        std::uint32_t cp;
        if (utf16_next(in.data(), in.size(), &i, &cp)) good(cp);
        else bad(static_cast<char16_t>(cp));
    }
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

kay_name_rules name_rules(bool windows) { return windows ? KAY_NAMES_WINDOWS : KAY_NAMES_ANY_SYSTEM; }

bool is_windows_program(const std::u16string& main_name) {
    std::u16string key(main_name.size(), u'\0');
    key.resize(entry_name_key(main_name.data(), main_name.size(), KAY_NAMES_WINDOWS, key.data()));
    return key.size() >= 4 && key.compare(key.size() - 4, 4, u".EXE") == 0;
}

const char* same_file_text(kay_name_rules rules) {
    return rules == KAY_NAMES_WINDOWS ? "(Windows ignores case and trailing dots and blanks, and takes '/' for '\\')"
                                      : "('/' and '\\' are one separator)";
}

const std::pair<std::size_t, std::u16string>* name_set_add(NameSet& set, const std::u16string& name,
                                                           std::size_t number) {
    std::u16string key(name.size(), u'\0');
    key.resize(entry_name_key(name.data(), name.size(), set.rules, key.data()));
    auto [it, added] = set.seen.try_emplace(key, number, name);
    return added ? nullptr : &it->second;
}
