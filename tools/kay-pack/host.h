// kay-pack's link to the system it runs on (Linux or Windows): files by
// UTF-8 path, mapped files, its own path, the terminal and messages for
// failed calls. Everything else in kay-pack is the same on both.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

// A file-system path for a UTF-8 path, and back.
std::filesystem::path fs_path(const std::string& utf8);
std::string utf8_path(const std::filesystem::path& path);

// fopen by UTF-8 path (modes as fopen's, always binary); nullptr with errno set.
std::FILE* host_fopen(const std::string& path, const char* mode);

// A new file that did not exist, for writing: `pattern` ends in "XXXXXX",
// replaced by what makes the name unique. nullptr with errno set.
std::FILE* host_create_unique(std::string& pattern);
// Applies `mode` less the umask (POSIX; nothing on Windows).
bool host_set_mode(std::FILE* file, unsigned mode);
// Renames over an existing file; false with errno set.
bool host_rename(const std::string& from, const std::string& to);
// Files that host_remove_remembered removes, usable in a signal handler (no
// allocation): up to HOST_REMEMBERED at once. host_remember returns the
// slot that holds `path`, or -1 when none is free or the path does not fit.
constexpr int HOST_REMEMBERED = 4;
int host_remember(const std::string& path);
void host_forget(int slot);
void host_remove_remembered();
void host_remove(const std::string& path);

// A whole file mapped read-only (or read, where mapping is not possible).
struct MappedFile {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    void* handle = nullptr;
};
// False with errno set; a directory or device fails with EISDIR/EINVAL.
bool host_map(const std::string& path, MappedFile& file, bool& regular);
void host_unmap(MappedFile& file);

// kay-pack's own path; "" when unknown.
std::string host_self_path();
bool host_stderr_is_terminal();

// The text for a failed call's error, worded the same on every system.
std::string error_text(int errno_value);
std::string error_text(const std::error_code& ec);
