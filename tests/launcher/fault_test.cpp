// Fault sweep through the platform seam: the test launcher t_fault fails
// the n-th call of one name (KAY_FAULT=<call>:<n>), for every call of the
// system-call table that can fail, one test each, for n = 1, 2, ... until a
// run makes fewer calls than n. Each run starts from a stale target
// directory (one file changed, one directory removed, the rest complete)
// and must end with the documented message and exit code, keep every file
// that was complete complete, release every handle when it returns, and
// leave a directory that the next run without faults repairs in full.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "harness.h"
#include "platform/platform.h"

using namespace kay_test;
namespace fs = std::filesystem;

namespace {

constexpr int CHILD_CODE = 5;

std::map<std::string, std::string> contents(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& [rel, state] : snapshot(dir)) out[rel] = state.directory ? "<dir>" : state.content;
    return out;
}

struct FaultReport {
    bool written = false;
    bool injected = false;
    long open = -1;
};

// An abnormal end (exit code 3) leaves no report: it does not exit through
// the runtime.
FaultReport read_report(const std::string& path) {
    FaultReport r;
    if (!exists(path)) return r;
    r.written = true;
    int injected = 0, reported = 0;
    if (std::sscanf(read_file(path).c_str(), "injected=%d open=%ld reported=%d", &injected, &r.open, &reported) == 3)
        r.injected = injected != 0;
    return r;
}

std::string line_end(const Platform& p) { return p.windows ? "\r\n" : "\n"; }

// The calls that can be made to fail, by the table's own names.
std::vector<std::string> failing_calls() {
    std::vector<std::string> out;
    for (const kay_syscall_info& call : kay_syscall_list) if (call.can_fail) out.push_back(call.name);
    return out;
}

class FaultSweep : public ::testing::TestWithParam<std::tuple<Platform, std::string>> {};

TEST_P(FaultSweep, EachFailingCallEndsAsDocumentedAndTheNextRunRepairs) {
    const auto& [p, k] = GetParam();
    const auto expected = contents(p.build_dir + "/tests/payloads/expected/basic");
    // The codes the injector sets: access denied, and disk full for writes.
    const std::string denied = p.windows ? "5" : "13";
    const std::string full = p.windows ? "112" : "28";
    const std::string sep(1, p.sep());
    Scratch dir;
    std::string exe = stage(p, "t_fault", dir.path());
    std::string target = dir / "unpacked";
    std::string report = dir / "fault.txt";
    RunOptions plain{.env = {{"PROBE_OUT", p.path(dir / "probe.txt")}, {"PROBE_EXIT", std::to_string(CHILD_CODE)},
                             {"KAY_FAULT_REPORT", p.path(report)}}};
    Result first = run(p, exe, plain);
    ASSERT_EQ(first.code, CHILD_CODE) << first.err;
    ASSERT_EQ(contents(target), expected);
    // Calls that a run of this launcher makes only on other failures, or
    // for tokens its target directory does not use.
    const bool unused = k == "get_env" || k == "temp_path" || k == "error_text";

    int n = 1;
    for (;; n++) {
        SCOPED_TRACE(k + ":" + std::to_string(n));
        // Stale: a changed file and a removed directory; the rest is
        // complete.
        write_file(target + "/data/a.txt", "stale");
        remove_tree(target + "/data/sub");
        auto before = contents(target);

        RunOptions options = plain;
        options.env["KAY_FAULT"] = k + ":" + std::to_string(n);
        // A child still running when the failed wait returns.
        if (k == "wait_process") options.env["PROBE_SLEEP_MS"] = "500";
        fs::remove(report);
        Result r = run(p, exe, options);
        FaultReport fault = read_report(report);
        if (fault.written && !fault.injected) {
            EXPECT_EQ(r.code, CHILD_CODE) << r.err;
            EXPECT_EQ(fault.open, 0);
            EXPECT_EQ(contents(target), expected);
            break;
        }

        bool returned = false;
        std::string out;
        // The failure goes unnoticed or counts as a missing file: the run
        // ends as a complete one.
        auto completes = [&] {
            EXPECT_EQ(r.code, CHILD_CODE) << r.err;
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(contents(target), expected);
            returned = true;
        };
        // An abnormal end: nothing written but `message`.
        auto aborts = [&](const std::string& message) {
            EXPECT_EQ(r.code, 3);
            EXPECT_EQ(r.err, message);
        };
        if (k == "open_write" || (k == "create_directory" && r.code == 2)) {
            // A failed directory is retried once its parent is made, so
            // a single failure may pass unnoticed (below).
            std::regex message("Error, failed to open '" + std::regex_replace(p.path(target), std::regex(R"([\\.])"), R"(\$&)") +
                               R"([\\/][^']+' for writing\.)" + line_end(p));
            EXPECT_EQ(r.code, 2);
            EXPECT_TRUE(std::regex_match(r.err, message)) << r.err;
        } else if (k == "open_read" || k == "file_size" || k == "read_file" || k == "create_directory" ||
                   k == "set_env" || k == "lock_target" || k == "start_thread" || k == "semaphore_create") {
            // A file counts as missing and is written again; variables and
            // the lock are not examined; without another thread, the work
            // is done on one.
            completes();
        } else if (k == "write_file") {
            EXPECT_EQ(r.code, 2);
            EXPECT_EQ(r.err.rfind("Error, couldn't unpack file to target path. ([Error " + full + "] ", 0), 0u)
                << r.err;
        } else if (k == "start_process" || k == "command_line_args") {
            EXPECT_EQ(r.code, 2);
            EXPECT_EQ(r.err.rfind("Error, couldn't launch child ([Error " + denied + "] ", 0), 0u) << r.err;
            EXPECT_EQ(contents(target), expected) << "every file is unpacked before the start";
        } else if (k == "wait_process" || k == "exit_code") {
            // The exit code cannot be read (a failed wait: while the child
            // runs; Windows reads the code of a running process, STILL_ACTIVE
            // (259), of which Wine passes on the low 8 bits).
            EXPECT_EQ(r.code, k == "wait_process" && p.windows ? 259 & 0xFF : 1) << r.err;
            EXPECT_EQ(r.err, "");
            returned = true;
        } else if (k == "register_console_handler") {
            out = "Error, failed to register signal handler." + line_end(p);
            EXPECT_EQ(r.code, 2);
            EXPECT_EQ(r.err, "");
        } else if (k == "full_path") {
            aborts("");
        } else if (k == "user_folder") {
            // The home folder, where directory creation stops going up.
            aborts("Error, couldn't runtime expand spec '{HOME}'." + line_end(p));
        } else if (k == "module_path") {
            // Asked once, at the start, for the target and the child alike.
            aborts("Error, couldn't runtime expand spec '{PROGRAM_DIR}" + sep + "unpacked'." + line_end(p));
        } else {
            ADD_FAILURE() << "no documented end for this failure";
        }
        EXPECT_EQ(r.out, out);
        if (returned) EXPECT_EQ(fault.open, 0) << "handles left open";
        // Every file that was complete before is complete after.
        auto after = contents(target);
        for (const auto& [rel, content] : before) {
            auto want = expected.find(rel);
            if (want != expected.end() && want->second == content) EXPECT_EQ(after[rel], content) << rel;
        }

        // The next run without faults repairs everything.
        options.env.erase("KAY_FAULT");
        options.env.erase("PROBE_SLEEP_MS");
        Result repair = run(p, exe, options);
        EXPECT_EQ(repair.code, CHILD_CODE) << repair.err;
        EXPECT_EQ(contents(target), expected);
        if (HasFailure() || n > 40) break;
    }
    // Every call is made at least once by a run of this payload, but for
    // the unused ones.
    if (unused) EXPECT_EQ(n, 1);
    else EXPECT_GT(n, 1);
}

INSTANTIATE_TEST_SUITE_P(Launchers, FaultSweep, ::testing::Combine(::testing::ValuesIn(platforms()),
                                                                   ::testing::ValuesIn(failing_calls())),
                         [](const auto& info) {
                             return std::get<0>(info.param).name() + "_" + std::get<1>(info.param);
                         });

}  // namespace
