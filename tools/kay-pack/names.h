// Entry names: UTF-16LE relative paths with backslash separators. On disk
// (Linux) names are UTF-8 with '/'.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "format/format.h"
#include "format/utf_strings.h"

// Why `name` is not acceptable to the launcher, or nullptr when it is.
const char* name_problem(const std::u16string& name);

// For display: invalid units become U+FFFD, control characters '?'.
std::string display_name(const std::u16string& name);
// A JSON string literal (quotes included); lone surrogates as \u escapes.
std::string json_string(const std::u16string& name);

// The rules a payload's names must keep apart: Windows' when it is for
// Windows (a Windows target, or a main program that ends in ".exe").
kay_name_rules name_rules(bool windows);
bool is_windows_program(const std::u16string& main_name);
// Why two names with one key are one file, in parentheses, for messages.
const char* same_file_text(kay_name_rules rules);

// The names seen so far by their keys, each with its number.
struct NameSet {
    kay_name_rules rules = KAY_NAMES_ANY_SYSTEM;
    std::map<std::u16string, std::pair<std::size_t, std::u16string>> seen;
};
// Records `name` as number `number`; returns the number and name of an
// earlier one that is the same file, or nullptr.
const std::pair<std::size_t, std::u16string>* name_set_add(NameSet& set, const std::u16string& name,
                                                           std::size_t number);
