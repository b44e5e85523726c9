// Runs launchers as real processes: native ones directly, Windows ones under
// Wine, with captured streams, chosen environment and working directory.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kay_test {

// One build of the launchers: the native one, or the win32 one run by Wine.
struct Platform {
    bool windows;
    std::string build_dir;
    std::string name() const { return windows ? "Win32" : "Native"; }
    std::string exe(const std::string& base) const { return windows ? base + ".exe" : base; }
    // Path of a test launcher or tool built into <build>/tests.
    std::string launcher(const std::string& base) const;
    char sep() const { return windows ? '\\' : '/'; }
    // A host path as the launcher sees it (Z:\... under Wine).
    std::string path(const std::string& host_path) const;
};

// Test names and messages show the platform by name.
inline void PrintTo(const Platform& p, std::ostream* os) { *os << p.name(); }

// The platforms to test: native always; win32 when its build exists (or
// KAY_REQUIRE_WIN32=1, in which case a missing build fails the tests).
std::vector<Platform> platforms();

struct RunOptions {
    std::vector<std::string> args;
    // Variables to set (value) or remove (nullopt) on top of our environment.
    std::map<std::string, std::optional<std::string>> env;
    std::string cwd;
    // Redirect the child's standard output to this file instead of a pipe.
    std::string stdout_file;
    int timeout_ms = 120000;
};

struct Result {
    int code = -1;       // exit code, or -1 when ended by a signal
    int signal = 0;      // the signal that ended it
    std::string out;
    std::string err;
    bool timed_out = false;
};

struct Running {
    pid_t pid = -1;
    int out_fd = -1;
    int err_fd = -1;
    int timeout_ms = 0;
};

// Starts `program` (under Wine for Windows builds).
Running start(const Platform& p, const std::string& program, const RunOptions& options);
Result finish(Running& running);
Result run(const Platform& p, const std::string& program, const RunOptions& options = {});

// A fresh directory under the system's temporary folder, removed at the end.
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

// Copies a test launcher into `dir` (as `as_name` when given); returns the copy.
std::string stage(const Platform& p, const std::string& launcher, const std::string& dir,
                  const std::string& as_name = "");

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& data);
bool exists(const std::string& path);
void make_dirs(const std::string& path);
void remove_tree(const std::string& path);

// What is on disk under a directory: relative path -> identity and content.
struct FileState {
    bool directory = false;
    std::uint64_t inode = 0;
    std::int64_t mtime_ns = 0;
    std::string content;
    bool operator==(const FileState&) const = default;
};
std::map<std::string, FileState> snapshot(const std::string& dir);

// The probe's report: key -> values (arguments in order under "arg").
struct ProbeReport {
    std::map<std::string, std::string> fields;  // decoded values
    std::vector<std::string> args;              // decoded arguments
    std::map<std::string, std::optional<std::string>> env;
};
ProbeReport parse_probe(const std::string& text);
std::string unhex(const std::string& hex);

// Environment for Wine: the prefix made for this test run.
std::string wine_prefix();

}  // namespace kay_test
