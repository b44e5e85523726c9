// Launchers started at once on one target directory: every child finds
// every file complete while it runs, every launcher exits 0, and the
// directory ends as the payload's tree, from an empty and from a stale
// directory. The child (the checker program) verifies its siblings against
// the payload's manifest at its start and then every 10 ms for a while.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "harness.h"

using namespace kay_test;
namespace fs = std::filesystem;

namespace {

class Hardening : public ::testing::TestWithParam<Platform> {
protected:
    // Starts `count` launchers `gap` apart and checks each one's outcome.
    void crowd(const std::string& exe, const Scratch& dir, int count, std::chrono::milliseconds gap,
               const std::string& round) {
        const Platform& p = GetParam();
        std::vector<Running> running;
        std::vector<std::string> reports;
        for (int i = 0; i < count; i++) {
            reports.push_back(dir / ("check" + std::to_string(i) + ".txt"));
            running.push_back(start(p, exe, {.env = {{"CHECK_OUT", p.path(reports.back())},
                                                     {"CHECK_FOR_MS", "200"}}}));
            std::this_thread::sleep_for(gap);
        }
        for (int i = 0; i < count; i++) {
            Result r = finish(running[i]);
            EXPECT_EQ(r.code, 0) << round << " launcher " << i << " signal " << r.signal;
            EXPECT_EQ(r.out, "") << round << " launcher " << i;
            EXPECT_EQ(r.err, "") << round << " launcher " << i;
            std::string report = exists(reports[i]) ? read_file(reports[i]) : "(no report)";
            EXPECT_EQ(report, "ok 302\n") << round << " launcher " << i;
            fs::remove(reports[i]);
        }
    }
};

TEST_P(Hardening, LaunchersStartedAtOnceLeaveCompleteFilesFromEmptyAndStaleDirectories) {
    const Platform& p = GetParam();
    // Wine starts programs slowly and one at a time: fewer, not spaced.
    const int count = p.windows ? 4 : 8;
    const int rounds = p.windows ? 1 : 4;
    const auto expected = expected_files(p, "crowd");
    ASSERT_EQ(expected.size(), 2u + 302u) << "program, manifest, files";
    for (int round = 0; round < rounds; round++) {
        Scratch dir;
        std::string exe = stage(p, "t_crowd", dir.path());
        std::string target = dir / "unpacked";
        // Spacings from none to about the time one launcher takes, so that
        // later launchers find the first one at different points.
        auto gap = std::chrono::milliseconds(p.windows ? 0 : 5 * round);
        crowd(exe, dir, count, gap, "empty, round " + std::to_string(round));
        EXPECT_EQ(files_of(target), expected);

        // Stale: a big file changed in place, one cut short, a small file
        // changed, a directory removed.
        std::string b1 = target + "/big/b1.bin";
        std::string changed = read_file(b1);
        changed[changed.size() / 2] ^= 0x55;
        write_file(b1, changed);
        fs::resize_file(target + "/big/b0.bin", 1 << 20);
        write_file(target + "/d03/f003.bin", "stale");
        remove_tree(target + "/d05");
        crowd(exe, dir, count, gap, "stale, round " + std::to_string(round));
        EXPECT_EQ(files_of(target), expected);
        if (HasFailure()) break;
    }
}

// While another process holds the lock on the target directory, a launcher
// waits before its first entry and writes nothing; released, it unpacks.
TEST_P(Hardening, LauncherWaitsForTheLockOnTheTargetDirectory) {
    const Platform& p = GetParam();
    if (p.windows) GTEST_SKIP() << "the lock is a named mutex there, which a Linux process cannot hold";
    Scratch dir;
    std::string exe = stage(p, "t_basic", dir.path());
    std::string target = dir / "unpacked";
    make_dirs(target);
    int fd = open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    std::string report = dir / "report.txt";
    Running r = start(p, exe, {.env = {{"PROBE_OUT", report}}});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(list_dir(target), std::vector<std::string>{}) << "written while the lock was held";
    EXPECT_FALSE(exists(report));
    flock(fd, LOCK_UN);
    close(fd);
    Result result = finish(r);
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(files_of(target), expected_files(p, "basic"));
    EXPECT_TRUE(exists(report));
}

INSTANTIATE_TEST_SUITE_P(Launchers, Hardening, ::testing::ValuesIn(platforms()), platform_name);

}  // namespace
