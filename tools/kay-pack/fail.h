// Reporting: messages on standard error, exit codes, and removal of the
// temporary file in flight when the process ends early.
#pragma once

#include <string>

constexpr int EXIT_BAD_INPUT = 1;  // bad input, corrupt payload, I/O failure
constexpr int EXIT_USAGE = 2;      // bad command line

// "kay-pack: <message>" on stderr, then exit with EXIT_BAD_INPUT.
[[noreturn]] void fail(const std::string& message);
// Same, with ": <strerror(errno)>" appended.
[[noreturn]] void fail_errno(const std::string& message);
// "kay-pack: <message>" and a hint to --help; exit with EXIT_USAGE.
[[noreturn]] void fail_usage(const std::string& message);
void warn(const std::string& message);
// "kay-pack: <message>" without exiting (verify reports several problems).
void report(const std::string& message);

// The temporary-file guard: files guarded are removed by fail(),
// fail_usage() and on SIGINT, SIGTERM and SIGHUP (main installs the
// handlers for every command). guard_temp returns what release_temp takes
// once the file is renamed or removed.
int guard_temp(const std::string& path);
void release_temp(int guard);
void install_signal_cleanup();

// 'text' in single quotes, for file names in messages.
std::string quoted(const std::string& text);
