// Error reporting: every failure is reported where it is found and ends the
// process at once.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Message texts, exact.
#define MSG_REGISTER_HANDLER "Error, failed to register signal handler."
#define MSG_NO_HEADER "Error, couldn't find attached data header."
#define MSG_NO_MEMORY "Error, couldn't allocate memory."
#define MSG_DECODE "Error, couldn't decode attached data."
#define MSG_UNPACK "Error, couldn't unpack file to target path."
#define MSG_LAUNCH "Error, couldn't launch child"

#if KAY_WINDOWS
#define KAY_PRI_S "%ls"
#else
#define KAY_PRI_S "%s"
#endif

// Writes `message` and a newline to standard output, then exit(2).
[[noreturn]] void fatal_error(const char* message);

// Writes "message ([Error code] system text)" to standard error. The caller
// ends the process.
void system_error(const char* message, std::uint32_t code);

// Writes the expansion-failure message for `spec` to standard error, then
// ends abnormally (exit code 3).
[[noreturn]] void fail_spec_expansion(const kchar* spec);

// Removes the trailing run of CR and LF from `text` of length `n`.
void trim_line_end(char* text, std::uint32_t n);
