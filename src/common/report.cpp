#include "common/report.h"

#include <cstdio>
#include <cstdlib>

void (*kay_exit_hook)(int code);

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
    std::puts(message);
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
    std::fprintf(stderr, "%s ([Error %ld] %s)\n", message,
                 static_cast<long>(static_cast<std::int32_t>(code)), text);
}

void fail_spec_expansion(const kchar* spec) {
    std::fprintf(stderr, "Error, couldn't runtime expand spec '" KAY_PRI_S "'.\n", spec);
    kay_abort();
}
