#include "progress.h"

#include <cstdio>

#include "host.h"

using Clock = std::chrono::steady_clock;

static constexpr auto FIRST_DELAY = std::chrono::milliseconds(500);
static constexpr auto INTERVAL = std::chrono::milliseconds(200);

void progress_start(Progress& progress, const char* verb, bool quiet, std::uint64_t files_total,
                    std::uint64_t bytes_total) {
    progress.enabled = !quiet && host_stderr_is_terminal();
    progress.shown = false;
    progress.verb = verb;
    progress.files_total = files_total;
    progress.bytes_total = bytes_total;
    progress.start = progress.last = Clock::now();
}

static double mib(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

void progress_update(Progress& progress, std::uint64_t files_done, std::uint64_t bytes_done) {
    if (!progress.enabled) return;
    auto now = Clock::now();
    if (now - progress.start < FIRST_DELAY || now - progress.last < INTERVAL) return;
    progress.last = now;
    progress.shown = true;
    double seconds = std::chrono::duration<double>(now - progress.start).count();
    char files[64], bytes[64];
    if (progress.files_total != 0)
        std::snprintf(files, sizeof files, "%llu/%llu files", (unsigned long long)files_done,
                      (unsigned long long)progress.files_total);
    else
        std::snprintf(files, sizeof files, "%llu files", (unsigned long long)files_done);
    if (progress.bytes_total != 0)
        std::snprintf(bytes, sizeof bytes, "%.1f/%.1f MiB", mib(bytes_done), mib(progress.bytes_total));
    else
        std::snprintf(bytes, sizeof bytes, "%.1f MiB", mib(bytes_done));
    std::fprintf(stderr, "\rkay-pack: %s %s, %s, %.1f MiB/s\x1b[K", progress.verb.c_str(), files, bytes,
                 mib(bytes_done) / seconds);
    std::fflush(stderr);
}

void progress_end(Progress& progress) {
    if (progress.shown) std::fputs("\r\x1b[K", stderr);
    progress.shown = false;
}
