// The child's command line (Windows): arguments quoted so that the system's
// splitting rules give them back unchanged (empty ones excepted). Portable
// text logic, built on every system so that its tests run everywhere; the
// Windows backend's start_process joins the child's arguments with it.
#pragma once

#include <cstdint>

#include "common/text.h"

constexpr std::uint32_t KAY_COMMAND_LINE_CAPACITY = 32768;

extern kchar g_command_line[];

// Appends one argument to `line` (capacity units); overflow is an abnormal end.
void append_argument_to(kchar* line, std::uint32_t capacity, const kchar* argument);
// Appends to the process-wide command line buffer.
void append_argument(const kchar* argument);
// The arguments up to the first null pointer, quoted and joined by blanks
// into the process-wide buffer, which it returns.
kchar* join_command_line(kchar* const* args);
