// Entry names: UTF-16LE relative paths with backslash separators. On disk
// (Linux) names are UTF-8 with '/'.
#pragma once

#include <string>

#include "format/utf_strings.h"

// Why `name` is not acceptable to the launcher, or nullptr when it is.
const char* name_problem(const std::u16string& name);

// For display: invalid units become U+FFFD, control characters '?'.
std::string display_name(const std::u16string& name);
// A JSON string literal (quotes included); lone surrogates as \u escapes.
std::string json_string(const std::u16string& name);
