// Files written under a temporary name beside the final one and renamed
// into place when complete, so no partial file ever has the final name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

struct OutputFile {
    std::string path;       // final name
    std::string temp_path;  // name while being written
    std::FILE* file = nullptr;
    std::uint64_t written = 0;
    int guard = -1;  // guard_temp's, for temp_path
};

void output_open(OutputFile& file, const std::string& path);
void output_write(OutputFile& file, const void* data, std::size_t size);
// Closes, applies `mode` (less the umask) and renames into place.
void output_commit(OutputFile& file, unsigned mode);
// Closes and removes the temporary file.
void output_abandon(OutputFile& file);

// Where the last separator of `path` is (npos when none); on Windows '\'
// counts as well as '/'.
std::size_t last_separator(const std::string& path);
