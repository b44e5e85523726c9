// Entry names: UTF-16LE relative paths with backslash separators. On disk
// (Linux) names are UTF-8 with '/'.
#pragma once

#include <string>

// Why `name` is not acceptable to the launcher, or nullptr when it is.
const char* name_problem(const std::u16string& name);

// Strict conversions; false on invalid input.
bool utf8_to_utf16(const std::string& in, std::u16string& out);
bool utf16_to_utf8(const std::u16string& in, std::string& out);

// For display: invalid units become U+FFFD, control characters '?'.
std::string display_name(const std::u16string& name);
// A JSON string literal (quotes included); lone surrogates as \u escapes.
std::string json_string(const std::u16string& name);
