#include "fail.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

// Fixed storage so that the signal handler can unlink without allocating.
static char g_pending[4096];

static void remove_pending() {
    if (g_pending[0] != 0) {
        unlink(g_pending);
        g_pending[0] = 0;
    }
}

void set_pending_temp(const std::string& path) {
    if (path.size() >= sizeof g_pending) fail("path too long: " + quoted(path));
    std::memcpy(g_pending, path.c_str(), path.size() + 1);
}

void clear_pending_temp() { g_pending[0] = 0; }

static void on_signal(int sig) {
    if (g_pending[0] != 0) unlink(g_pending);
    signal(sig, SIG_DFL);
    raise(sig);
}

void install_signal_cleanup() {
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    signal(SIGHUP, on_signal);
}

void report(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "kay-pack: %s\n", message.c_str());
}

void fail(const std::string& message) {
    remove_pending();
    report(message);
    std::exit(EXIT_BAD_INPUT);
}

void fail_errno(const std::string& message) {
    int err = errno;
    fail(message + ": " + std::strerror(err));
}

void fail_usage(const std::string& message) {
    remove_pending();
    report(message + " (see kay-pack --help)");
    std::exit(EXIT_USAGE);
}

void warn(const std::string& message) { report("warning: " + message); }

std::string quoted(const std::string& text) { return "'" + text + "'"; }
