#include "payload/progress.h"

#include <cstdio>

#include "common/report.h"
#include "platform/platform.h"

namespace {

// One second in the 100 ns units of system_time; the shown value moves
// at most every 50 ms.
constexpr std::uint64_t SHOW_AFTER = 10000000;
constexpr std::uint64_t STEP = 500000;

kay_progress::style g_style;
const kchar* g_title;
std::uint64_t g_total, g_done, g_start, g_last;
bool g_shown;
int g_line_length;
kay_message_sink g_message_sink;

// A message while the progress is shown: the progress goes first, so the
// message stands on a line (or in a box) of its own.
void end_then_report(kay_stream stream, bool error, const char* line) {
    kay_progress::end();
    if (kay_message_hook != nullptr) kay_message_hook(stream, error, line);
    else write_line(stream, line);
}

std::uint32_t permille() {
    if (g_total == 0) return 0;
    return static_cast<std::uint32_t>((g_done > g_total ? g_total : g_done) * 1000 / g_total);
}

void show() {
    std::uint32_t now = permille();
    if (g_style == kay_progress::WINDOW) {
        kay_sys.progress_window(g_title, now);
    } else {
        // Written over itself on a terminal, erased by end().
        g_line_length = std::fprintf(stderr, "\r" KAY_PRI_S ": unpacking %u%%", g_title, now / 10);
        std::fflush(stderr);
    }
    if (!g_shown) {
        g_message_sink = kay_message_hook;
        kay_message_hook = end_then_report;
    }
    g_shown = true;
}

}  // namespace

namespace kay_progress {

void begin(style how, const kchar* title, std::uint64_t total) {
    // A line only where it can be erased again.
    g_style = how == LINE && !kay_sys.error_is_terminal() ? NONE : how;
    g_title = title;
    g_total = total;
    g_done = 0;
    g_start = g_last = kay_sys.system_time();
    g_shown = false;
}

void advance(std::uint64_t bytes) {
    g_done += bytes;
    if (g_style == NONE) return;
    std::uint64_t now = kay_sys.system_time();
    if (now - g_start <= SHOW_AFTER || (g_shown && now - g_last < STEP)) return;
    g_last = now;
    show();
}

void show_now() {
    if (g_style != NONE && !g_shown) show();
}

void end() {
    if (g_shown) kay_message_hook = g_message_sink;
    if (g_shown && g_style == WINDOW) kay_sys.progress_window_close();
    if (g_shown && g_style == LINE) {
        std::fprintf(stderr, "\r%*s\r", g_line_length > 0 ? g_line_length - 1 : 0, "");
        std::fflush(stderr);
    }
    g_shown = false;
    g_style = NONE;
}

}  // namespace kay_progress
