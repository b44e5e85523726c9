// Error reporting and the ends of the process: every failure is reported
// where it is found and ends the process at once.
#pragma once

#include <cstdint>

#include "common/text.h"

// Message texts, exact.
#define MSG_REGISTER_HANDLER "Error, failed to register signal handler."
#define MSG_NO_HEADER "Error, couldn't find attached data header."
// The launcher's own file, which holds the data block, cannot be had
// (stderr, with the system's error, exit 2).
#define MSG_OWN_FILE "Error, couldn't open own program file"
#define MSG_NO_MEMORY "Error, couldn't allocate memory."
#define MSG_DECODE "Error, couldn't decode attached data."
#define MSG_UNPACK "Error, couldn't unpack file to target path."
#define MSG_LAUNCH "Error, couldn't launch child"
// The unsafe target directory message (stderr, exit 2) and the notice of a
// launcher that waits for another one (stderr), around a path.
#define MSG_UNSAFE_TARGET "Error, unsafe target directory '"
// An entry's file that cannot be opened for writing (stderr, exit 2):
// MSG_OPEN_WRITE <path> MSG_OPEN_WRITE_END.
#define MSG_OPEN_WRITE "Error, failed to open '"
#define MSG_OPEN_WRITE_END "' for writing.\n"
// ... or, when its folder is not the user's (a start as root made it):
// MSG_OPEN_WRITE <path> MSG_OPEN_WRITE_FOLDER <folder> MSG_OPEN_WRITE_FOLDER_END.
#define MSG_OPEN_WRITE_FOLDER "' for writing (the folder '"
#define MSG_OPEN_WRITE_FOLDER_END "' belongs to another user).\n"
// MSG_NO_LOCK <target> MSG_NO_LOCK_END: the lock could not be had.
#define MSG_NO_LOCK "Warning, couldn't lock '"
#define MSG_NO_LOCK_END "' against other launchers; going on without the lock.\n"
#define MSG_WAITING "Waiting for another launcher to finish unpacking into '"

// The stream a message goes to, as the console launcher writes it.
enum kay_stream { KAY_TO_STDOUT, KAY_TO_STDERR };

// Writes one message line (printf `format`, newline included) to `stream`:
// an error when `error`, else a notice (the launcher goes on). Every
// message of the launcher goes through here.
void report_line(kay_stream stream, bool error, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Where report_line hands the formatted line, when set (the GUI launcher's
// entry sets it: a message box as well as the stream); unset, the line is
// written to the stream.
typedef void (*kay_message_sink)(kay_stream stream, bool error, const char* line);
extern kay_message_sink kay_message_hook;

// The sink when no hook is set: `line` written to `stream` and flushed.
void write_line(kay_stream stream, const char* line);

// Writes `message` and a newline to standard output, then exit(2).
[[noreturn]] void fatal_error(const char* message);

// The system's text for an error code into a narrow buffer, its length
// returned, 0 when there is none (the platform's error_text).
typedef std::uint32_t (*kay_error_text)(std::uint32_t code, char* out, std::uint32_t capacity);

// Writes "message ([Error code] system text)" to standard error, the text
// taken from `text`. The caller ends the process.
void system_error(const char* message, std::uint32_t code, kay_error_text text);

// Writes the expansion-failure message for `spec` to standard error, then
// ends abnormally (exit code 3).
[[noreturn]] void fail_spec_expansion(const kchar* spec);

// Removes the trailing run of CR and LF from `text` of length `n`.
void trim_line_end(char* text, std::uint32_t n);

// Abnormal end: exit code 3, nothing written by the launcher, no core dump.
[[noreturn]] void kay_abort(void);

// Ends the process after a reported failure, through the runtime's exit().
[[noreturn]] void kay_exit(int code);

// Test hook, never set by a launcher: called with the exit code by kay_exit
// and kay_abort before the process ends. A test may leave it by throwing.
extern void (*kay_exit_hook)(int code);
