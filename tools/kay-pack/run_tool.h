// Running the build tools that `kay-pack build` drives.
#pragma once

#include <string>
#include <vector>

// Full path of `name` found in PATH, or "" when absent.
std::string find_in_path(const std::string& name);

// Runs `argv` with its standard output and error appended to `log_path`
// and no standard input; returns its exit code (128 + signal when killed).
// SIGINT, SIGTERM and SIGHUP reach the tool; kay-pack only notes them
// (interrupted_by()) so that it can clean up before ending itself.
int run_logged(const std::vector<std::string>& argv, const std::string& log_path);

// The signal that arrived during run_logged(), or 0.
int interrupted_by();
