// Programs run as real processes (Windows ones under Wine, arm64 ones under
// qemu), with chosen arguments, environment and working directory and both
// streams captured. Platform says what a build's programs are called and
// what they print and see (drive paths, separators, line ends).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kay_test {

// One build of the test programs: native, arm64 (run by qemu-aarch64) or
// Windows (run by Wine: win32; win64 where 32-bit programs cannot run).
struct Platform {
    bool windows;
    std::string build_dir;
    bool arm64 = false;
    // The kay-pack target of this build's launchers.
    std::string target() const;
    std::string name() const { return windows ? (target() == "win64" ? "Win64" : "Win32") : arm64 ? "Arm64" : "Native"; }
    std::string exe(const std::string& base) const { return windows ? base + ".exe" : base; }
    // Path of a test launcher or tool built into <build>/tests.
    std::string launcher(const std::string& base) const { return build_dir + "/tests/" + exe(base); }
    char sep() const { return windows ? '\\' : '/'; }
    std::string eol() const { return windows ? "\r\n" : "\n"; }
    // A host path as the program sees it (Z:\... under Wine).
    std::string path(const std::string& host_path) const;
};

// Test names and messages show the platform by name.
inline void PrintTo(const Platform& p, std::ostream* os) { *os << p.name(); }
inline std::string platform_name(const ::testing::TestParamInfo<Platform>& info) { return info.param.name(); }

// The platforms to test: native always; win32 when its build exists (or
// KAY_REQUIRE_WIN32=1, in which case a missing build fails the tests).
// KAY_WIN32_BUILD names another Windows build directory (win32 or win64),
// KAY_WINE the Wine loader to run it with (default: wine).
std::vector<Platform> platforms();
inline Platform native() { return platforms().front(); }
// The linux-arm64 build (KAY_ARM64_BUILD, default the preset's) when it and
// qemu-aarch64 are there, or with KAY_REQUIRE_ARM64=1 always (failing then).
std::optional<Platform> arm64_platform();

// The Wine prefix made for this test run (KAY_WINEPREFIX).
std::string wine_prefix();
// The X display Wine runs on: $DISPLAY, else a virtual one (Xvfb) kept for
// the prefix.
std::string wine_display();

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
    int code = -1;  // exit code, or -1 when ended by a signal
    int signal = 0;  // the signal that ended it
    std::string out;
    std::string err;
    bool timed_out = false;
};

struct Running {
    int pid = -1;
    int out_fd = -1;
    int err_fd = -1;
    int timeout_ms = 0;
};

// Starts `program` (searched in PATH; under Wine for Windows builds, qemu
// for arm64) with no standard input, in a process group of its own.
Running start(const Platform& p, const std::string& program, const RunOptions& options = {});
// Reads both streams until the process has ended; kills it at its timeout.
Result finish(Running& running);
Result run(const Platform& p, const std::string& program, const RunOptions& options = {});

// The report of the probe program (tests/probe): decoded values by key,
// the arguments in order, and the variables it looked at.
struct ProbeReport {
    std::map<std::string, std::string> fields;
    std::vector<std::string> args;
    std::map<std::string, std::optional<std::string>> env;
};
ProbeReport parse_probe(const std::string& text);

}  // namespace kay_test
