// A progress line on standard error, only when it is a terminal and the
// work has taken more than a moment.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct Progress {
    bool enabled = false;
    bool shown = false;
    std::string verb;  // "packing", "verifying", ...
    std::uint64_t files_total = 0;
    std::uint64_t bytes_total = 0;  // 0: unknown
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point last;
};

void progress_start(Progress& progress, const char* verb, bool quiet, std::uint64_t files_total,
                    std::uint64_t bytes_total);
void progress_update(Progress& progress, std::uint64_t files_done, std::uint64_t bytes_done);
// Ends the line if one was shown.
void progress_end(Progress& progress);
