// Files on the test machine: scratch directories, whole-file reads and
// writes, and what a directory holds.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kay_test {

// A fresh directory under the system's temporary folder, removed at the
// end with everything in it (read-only parts too).
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);  // throws when it cannot
void write_file(const std::string& path, const std::string& data);  // creates parent directories
bool exists(const std::string& path);  // lstat succeeds: dangling links too
void make_dirs(const std::string& path);
void remove_tree(const std::string& path);

// These three leave out the launcher's own files (".kay:lock", ".kay-state").
// Relative path ('/' separators) -> content of every regular file below `dir`.
std::map<std::string, std::string> files_of(const std::string& dir);
// Every name below `dir` (files, directories, links), relative and sorted.
std::vector<std::string> list_dir(const std::string& dir);

// What is on disk under a directory: relative path -> identity and content.
struct FileState {
    bool directory = false;
    std::uint64_t inode = 0;
    std::int64_t mtime_ns = 0;
    std::string content;
    bool operator==(const FileState&) const = default;
};
std::map<std::string, FileState> snapshot(const std::string& dir);

}  // namespace kay_test
