// The child's command line (Windows): arguments quoted so that the system's
// splitting rules give them back unchanged (empty ones excepted), and the
// launcher's own line passed on with only its first argument replaced.
// Portable text logic, built on every system so that its tests run
// everywhere; the Windows backend's start_process uses it.
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

// Where the first argument of `line` ends, by the rule CommandLineToArgvW
// applies to the program name: a quoted one runs to the next quote, with
// no escapes (the quote belongs to it), an unquoted one to the first blank
// or tab. Whatever follows is the rest of the line, blanks included.
const kchar* after_first_argument(const kchar* line);
// The child's command line into the process-wide buffer, which it returns:
// `first` quoted as any argument, then the rest of `own_line` after its
// first argument as it is, so the child splits it as it would have split
// it if started directly (empty arguments and every quoting rule of its
// own). A blank is put between them only where the rest starts without one
// (`"a"b`: b is an argument of its own).
kchar* pass_on_command_line(const kchar* first, const kchar* own_line);
