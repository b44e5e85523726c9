// Test launchers run as real processes (tests/support), and what is
// specific to them: copies placed where a test wants them, and the trees
// their payloads must leave on disk.
#pragma once

#include <cstdio>

#include <filesystem>
#include <map>
#include <string>

#include "files.h"
#include "process.h"

namespace kay_test {

// Copies a test launcher into `dir` (as `as_name` when given); returns the copy.
inline std::string stage(const Platform& p, const std::string& launcher, const std::string& dir,
                         const std::string& as_name = "") {
    std::string target = dir + "/" + (as_name.empty() ? p.exe(launcher) : as_name);
    std::filesystem::copy_file(p.launcher(launcher), target, std::filesystem::copy_options::overwrite_existing);
    return target;
}

// The files tools/make_payloads.py says a payload case leaves on disk.
inline std::map<std::string, std::string> expected_files(const Platform& p, const std::string& which) {
    return files_of(p.build_dir + "/tests/payloads/expected/" + which);
}

// What a test launcher with fault injection reports (KAY_FAULT_REPORT).
struct FaultReport {
    bool written = false;
    bool injected = false;
    long open = -1;   // handles still held at the exit
    long reads = -1;  // files opened for reading
};

// An abnormal end (exit code 3) leaves no report: it does not exit through
// the runtime.
inline FaultReport read_report(const std::string& path) {
    FaultReport r;
    if (!exists(path)) return r;
    r.written = true;
    int injected = 0, reported = 0;
    if (std::sscanf(read_file(path).c_str(), "injected=%d open=%ld reported=%d reads=%ld", &injected, &r.open,
                    &reported, &r.reads) == 4)
        r.injected = injected != 0;
    return r;
}

}  // namespace kay_test
