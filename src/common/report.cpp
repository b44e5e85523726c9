#include "common/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void (*kay_exit_hook)(int code);
kay_message_sink kay_message_hook;

void report_line(kay_stream stream, bool error, const char* format, ...) {
    // Room for a message around a path of 4095 units, 3 bytes each.
    static char line[16384];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (kay_message_hook != nullptr) kay_message_hook(stream, error, line);
    else write_line(stream, line);
}

void write_line(kay_stream stream, const char* line) {
    std::FILE* out = stream == KAY_TO_STDOUT ? stdout : stderr;
    std::fputs(line, out);
    std::fflush(out);
}

void kay_exit(int code) {
    if (kay_exit_hook != nullptr) kay_exit_hook(code);
    std::exit(code);
}

void kay_abort(void) {
    if (kay_exit_hook != nullptr) kay_exit_hook(3);
    std::fflush(stderr);
    // Exit code 3, as the runtime's abort() gives, without its message.
    std::_Exit(3);
}

void fatal_error(const char* message) {
    report_line(KAY_TO_STDOUT, true, "%s\n", message);
    kay_exit(2);
}

void trim_line_end(char* text, std::uint32_t n) {
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n')) {
        text[n - 1] = 0;
        n--;
    }
}

void system_error(const char* message, std::uint32_t code, kay_error_text text_of) {
    static char text[4096];
    text[0] = 0;
    std::uint32_t n = text_of(code, text, sizeof text);
    if (n >= sizeof text) n = sizeof text - 1;
    text[n] = 0;
    trim_line_end(text, n);
    // The code is a 32-bit value printed as a signed number.
    report_line(KAY_TO_STDERR, true, "%s ([Error %ld] %s)\n", message,
                 static_cast<long>(static_cast<std::int32_t>(code)), text);
}

void fail_spec_expansion(const kchar* spec) {
    report_line(KAY_TO_STDERR, true, "Error, couldn't runtime expand spec '" KAY_PRI_S "'.\n", spec);
    kay_abort();
}
