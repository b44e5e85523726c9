// Entry names: UTF-16LE relative paths with backslash separators.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// True when `name` stays inside the target directory: not absolute, no
// drive letter or ':' anywhere, no '.' or '..' component (either slash
// separates), and on POSIX valid UTF-16.
bool entry_name_is_safe(const std::uint16_t* name);

// Appends `name` to the path buffer `dst` in native form: unit for unit on
// Windows; on POSIX as UTF-8 with each backslash turned into '/'. Overflow is
// an abnormal end; invalid UTF-16 reports corrupt data.
void append_entry_name(kchar* dst, std::uint32_t capacity, const std::uint16_t* name);
