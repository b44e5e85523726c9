#include "fail.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host.h"

static void remove_pending() { host_remove_remembered(); }

int guard_temp(const std::string& path) { return host_remember(path); }

void release_temp(int guard) { host_forget(guard); }

static void on_signal(int sig) {
    host_remove_remembered();
    signal(sig, SIG_DFL);
    raise(sig);
}

void install_signal_cleanup() {
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
#ifdef SIGHUP
    signal(SIGHUP, on_signal);
#endif
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
    fail(message + ": " + error_text(err));
}

void fail_usage(const std::string& message) {
    remove_pending();
    report(message + " (see kay-pack --help)");
    std::exit(EXIT_USAGE);
}

void warn(const std::string& message) { report("warning: " + message); }

std::string quoted(const std::string& text) { return "'" + text + "'"; }
