// Whole-string UTF-8 <-> UTF-16 conversions for the tools and the tests.
#pragma once

#include <string>

// Strict: false on invalid input.
bool utf8_to_utf16(const std::string& in, std::u16string& out);
bool utf16_to_utf8(const std::u16string& in, std::string& out);
