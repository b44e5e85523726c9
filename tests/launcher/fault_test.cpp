// Fault sweep through the platform seam: the test launcher t_fault fails
// the n-th call of one kind (KAY_FAULT=<call>:<n>), for n = 1, 2, ... until
// a run makes fewer calls than n. Each run starts from a stale target
// directory (one file changed, one directory removed, the rest complete)
// and must end with the documented message and exit code, keep every file
// that was complete complete, release every handle when it returns, and
// leave a directory that the next run without faults repairs in full.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "harness.h"

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
    bool injected = false;
    long open = -1;
};

FaultReport read_report(const std::string& path) {
    FaultReport r;
    if (!exists(path)) return r;
    int injected = 0, reported = 0;
    if (std::sscanf(read_file(path).c_str(), "injected=%d open=%ld reported=%d", &injected, &r.open, &reported) == 3)
        r.injected = injected != 0;
    return r;
}

std::string line_end(const Platform& p) { return p.windows ? "\r\n" : "\n"; }

class FaultSweep : public ::testing::TestWithParam<Platform> {};

TEST_P(FaultSweep, EveryFailingCallEndsAsDocumentedAndTheNextRunRepairs) {
    const Platform& p = GetParam();
    const auto expected = contents(p.build_dir + "/tests/payloads/expected/basic");
    // The codes the injector sets: access denied, and disk full for writes.
    const std::string denied = p.windows ? "5" : "13";
    const std::string full = p.windows ? "112" : "28";
    const std::string sep(1, p.sep());
    const char* kinds[] = {"open_read", "file_size", "map_file",      "map_view",      "open_write",
                           "write_file", "create_directory", "start_process", "wait_process"};
    Scratch dir;
    std::string exe = stage(p, "t_fault", dir.path());
    std::string target = dir / "unpacked";
    std::string report = dir / "fault.txt";
    RunOptions plain{.env = {{"PROBE_OUT", p.path(dir / "probe.txt")}, {"PROBE_EXIT", std::to_string(CHILD_CODE)},
                             {"KAY_FAULT_REPORT", p.path(report)}}};
    Result first = run(p, exe, plain);
    ASSERT_EQ(first.code, CHILD_CODE) << first.err;
    ASSERT_EQ(contents(target), expected);

    for (const char* kind : kinds) {
        int n = 1;
        for (;; n++) {
            SCOPED_TRACE(std::string(kind) + ":" + std::to_string(n));
            // Stale: a changed file and a removed directory; the rest is
            // complete (empty.txt is rewritten on every run).
            write_file(target + "/data/a.txt", "stale");
            remove_tree(target + "/data/sub");
            auto before = contents(target);

            RunOptions options = plain;
            options.env["KAY_FAULT"] = std::string(kind) + ":" + std::to_string(n);
            // A child still running when the failed wait returns.
            if (std::string(kind) == "wait_process") options.env["PROBE_SLEEP_MS"] = "500";
            fs::remove(report);
            Result r = run(p, exe, options);
            FaultReport fault = read_report(report);
            if (!fault.injected) {
                EXPECT_EQ(r.code, CHILD_CODE) << r.err;
                EXPECT_EQ(fault.open, 0);
                EXPECT_EQ(contents(target), expected);
                break;
            }

            std::string k = kind;
            bool returned = false;
            if (k == "open_read" || k == "file_size" || k == "map_file" || k == "map_view") {
                // The file counts as missing and is written again.
                EXPECT_EQ(r.code, CHILD_CODE);
                EXPECT_EQ(r.err, "");
                EXPECT_EQ(contents(target), expected);
                returned = true;
            } else if (k == "open_write" ||
                       (k == "create_directory" && r.code == 2)) {
                // A failed directory is retried once its parent is made, so
                // a single failure may pass unnoticed (below).
                std::regex message("Error, failed to open '" + std::regex_replace(p.path(target), std::regex(R"([\\.])"), R"(\$&)") +
                                   R"([\\/][^']+' for writing\.)" + line_end(p));
                EXPECT_EQ(r.code, 2);
                EXPECT_TRUE(std::regex_match(r.err, message)) << r.err;
            } else if (k == "create_directory") {
                EXPECT_EQ(r.code, CHILD_CODE) << r.err;
                EXPECT_EQ(r.err, "");
                EXPECT_EQ(contents(target), expected);
                returned = true;
            } else if (k == "write_file") {
                EXPECT_EQ(r.code, 2);
                EXPECT_EQ(r.err.rfind("Error, couldn't unpack file to target path. ([Error " + full + "] ", 0), 0u)
                    << r.err;
            } else if (k == "start_process") {
                EXPECT_EQ(r.code, 2);
                EXPECT_EQ(r.err.rfind("Error, couldn't launch child ([Error " + denied + "] ", 0), 0u) << r.err;
                EXPECT_EQ(contents(target), expected) << "every file is unpacked before the start";
            } else if (k == "wait_process") {
                // The exit code cannot be read while the child runs; Windows
                // reads the code of a running process, STILL_ACTIVE (259),
                // of which Wine passes on the low 8 bits.
                EXPECT_EQ(r.code, p.windows ? 259 & 0xFF : 1) << r.err;
                EXPECT_EQ(r.err, "");
                returned = true;
            }
            EXPECT_EQ(r.out, "");
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
        if (HasFailure()) break;
        // Every kind is made at least once by a run of this payload.
        EXPECT_GT(n, 1) << kind;
    }
}

INSTANTIATE_TEST_SUITE_P(Launchers, FaultSweep, ::testing::ValuesIn(platforms()),
                         [](const auto& info) { return info.param.name(); });

}  // namespace
