// Fault sweep through the platform seam: the test launcher t_fault fails
// the n-th call of one name (KAY_FAULT=<call>:<n>), for every call of the
// system-call table that can fail, one test each, for n = 1, 2, ... until a
// run makes fewer calls than n. Each run starts from a stale target
// directory (one file changed, one directory removed, the rest complete)
// and must end with the documented message and exit code, keep every file
// that was complete complete, release every handle when it returns, and
// leave a directory that the next run without faults repairs in full.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <tuple>

#include "harness.h"
#include "common/report.h"
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

std::string line_end(const Platform& p) { return p.windows ? "\r\n" : "\n"; }

// The calls that can be made to fail, by the table's own names.
std::vector<std::string> failing_calls() {
    std::vector<std::string> out;
    for (const kay_syscall_info& call : kay_syscall_list) if (call.can_fail) out.push_back(call.name);
    return out;
}

// How a run with one failed call may end.
enum End {
    COMPLETES,          // unnoticed, or a file counted as missing: as a complete run
    NO_LOCK,            // a complete run without the lock, said on stderr
    WRITE_REFUSED,      // a file that cannot be opened for writing
    WRITE_FAILED,       // a write that failed (disk full)
    LAUNCH_FAILED,      // the child cannot be started
    NO_EXIT_CODE,       // the child's code cannot be read
    NO_HANDLER,         // the console handler cannot be registered
    OWN_FILE,           // the launcher's own file, which holds the data block, cannot be had
    ABORTS,             // an abnormal end without a word
    HOME_UNEXPANDED,    // the home folder, where directory creation stops going up
    TARGET_UNEXPANDED,  // the target specification
};

// The ends each call's failure may have, whichever of its calls fails (the
// order of the calls is the launcher's business). Calls not listed are made
// only on other failures, or for tokens this target does not use.
const std::map<std::string, std::vector<End>> ENDS = {
    // Unnoticed or a file counted as missing: the launcher's directory left
    // empty, the lock not had, the work done on one thread, the target walk
    // stopped (the calls that follow do what they would).
    {"set_env", {COMPLETES}}, {"open_read", {COMPLETES}}, {"file_size", {COMPLETES}}, {"read_file", {COMPLETES}},
    {"start_thread", {COMPLETES}}, {"semaphore_create", {COMPLETES}}, {"fold_case", {COMPLETES, NO_LOCK}},
    {"confine_below", {COMPLETES}}, {"read_link", {COMPLETES}}, {"stat_entry", {COMPLETES}},
    // The state record is skipped when it cannot be written; the version
    // not held as used, old versions not looked for.
    {"rename_file", {COMPLETES}}, {"lock_file", {COMPLETES}}, {"touch_file", {COMPLETES}},
    {"list_folder", {COMPLETES}},
    // The lock: a lock file that cannot be opened is made anew once.
    {"open_lock", {COMPLETES, NO_LOCK}}, {"stat_lock", {COMPLETES, NO_LOCK}}, {"wait_lock", {NO_LOCK}},
    // The lock's folder, or a file to write (a failed folder is retried;
    // what stands in the way of a file cannot be looked at or removed).
    {"open_file", {COMPLETES, WRITE_REFUSED}}, {"stat_file", {COMPLETES, WRITE_REFUSED}},
    {"create_directory", {COMPLETES, WRITE_REFUSED}}, {"stat_path", {COMPLETES, WRITE_REFUSED}},
    {"remove_file", {WRITE_REFUSED}}, {"truncate_file", {WRITE_REFUSED}}, {"write_file", {WRITE_FAILED, COMPLETES}},
    {"command_line_args", {LAUNCH_FAILED}}, {"start_process", {LAUNCH_FAILED}},
    {"wait_process", {NO_EXIT_CODE}}, {"exit_code", {NO_EXIT_CODE}}, {"register_console_handler", {NO_HANDLER}},
    {"locate_data_block", {OWN_FILE}}, {"module_path", {TARGET_UNEXPANDED, COMPLETES, ABORTS}},
    {"user_folder", {HOME_UNEXPANDED}}, {"full_path", {ABORTS}},
};


// Windows: no target walk, no symlinks to read, files made anew. POSIX: the lock
// is a file in the target, named as it is.
bool unused_on(const Platform& p, const std::string& k) {
    if (!p.windows) return k == "fold_case";
    return k == "read_link" || k == "remove_file" || k == "truncate_file";
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
    // POSIX: the target is reached through a symlink, and a symlink to a
    // file outside stands in the way of one file.
    if (!p.windows) {
        make_dirs(dir / "real");
        fs::create_symlink("real", target);
        write_file(dir / "decoy", "decoy");
    }
    RunOptions plain{.env = {{"PROBE_OUT", p.path(dir / "probe.txt")}, {"PROBE_EXIT", std::to_string(CHILD_CODE)},
                             {"KAY_FAULT_REPORT", p.path(report)}}};
    Result first = run(p, exe, plain);
    ASSERT_EQ(first.code, CHILD_CODE) << first.err;
    ASSERT_EQ(contents(target), expected);
    auto listed = ENDS.find(k);
    const bool unused = listed == ENDS.end() || unused_on(p, k);

    int n = 1;
    for (;; n++) {
        SCOPED_TRACE(k + ":" + std::to_string(n));
        // Stale: a changed file and a removed directory; the rest is
        // complete.
        write_file(target + "/data/a.txt", "stale");
        remove_tree(target + "/data/sub");
        if (!p.windows) {
            fs::remove(target + "/zerocrc.bin");
            fs::create_symlink(dir / "decoy", target + "/zerocrc.bin");
        }
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
        ASSERT_FALSE(unused) << "a call this run was not to make";

        // What each end looks like: exit code, standard error, standard
        // output, the handles still held at the exit (-1: no report after
        // an abnormal end). An exit in the middle of unpacking leaves the
        // lock, the reader's thread and the file being written to the
        // process end; every other end holds none.
        std::regex refused("Error, failed to open '" + std::regex_replace(p.path(target), std::regex(R"([\\.])"), R"(\$&)") +
                           R"([\\/][^']+' for writing\.)" + line_end(p));
        auto matches = [&](End end) {
            auto is = [&](int code, const std::string& err, const std::string& out, long open) {
                return r.code == code && err == r.err && out == r.out && open == fault.open;
            };
            switch (end) {
            case COMPLETES: return is(CHILD_CODE, "", "", 0) && contents(target) == expected;
            case NO_LOCK:
                return is(CHILD_CODE, MSG_NO_LOCK + p.path(target) + std::regex_replace(MSG_NO_LOCK_END, std::regex("\n"), line_end(p)), "", 0) &&
                       contents(target) == expected;
            case WRITE_REFUSED: return r.code == 2 && std::regex_match(r.err, refused) && r.out == "";
            case WRITE_FAILED: return r.code == 2 && r.err.rfind(MSG_UNPACK " ([Error " + full + "] ", 0) == 0;
            case LAUNCH_FAILED:
                return r.code == 2 && r.err.rfind(MSG_LAUNCH " ([Error " + denied + "] ", 0) == 0 &&
                       fault.open == 0 && contents(target) == expected;
            // A failed wait returns while the child runs; Windows reads the
            // code of a running process, STILL_ACTIVE (259), of which Wine
            // passes on the low 8 bits.
            case NO_EXIT_CODE: return is(k == "wait_process" && p.windows ? 259 & 0xFF : 1, "", "", 0);
            case NO_HANDLER: return is(2, "", MSG_REGISTER_HANDLER + line_end(p), 0);
            case OWN_FILE: return r.code == 2 && r.err.rfind(MSG_OWN_FILE " ([Error " + denied + "] ", 0) == 0;
            case ABORTS: return is(3, "", "", -1);
            case HOME_UNEXPANDED: return is(3, "Error, couldn't runtime expand spec '{HOME}'." + line_end(p), "", -1);
            case TARGET_UNEXPANDED:
                return is(3, "Error, couldn't runtime expand spec '{PROGRAM_DIR}" + sep + "unpacked'." + line_end(p), "",
                          -1);
            }
            return false;
        };
        EXPECT_TRUE(std::any_of(listed->second.begin(), listed->second.end(), matches))
            << "no documented end: code " << r.code << ", open " << fault.open << "\nerr: " << r.err << "\nout: " << r.out;
        // Every file that was complete before is complete after, and
        // nothing was written through the symlink.
        auto after = contents(target);
        for (const auto& [rel, content] : before) {
            auto want = expected.find(rel);
            if (want != expected.end() && want->second == content) EXPECT_EQ(after[rel], content) << rel;
        }
        if (!p.windows) EXPECT_EQ(read_file(dir / "decoy"), "decoy");

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
