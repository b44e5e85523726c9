// Launchers started at once on one target directory: every child finds
// every file complete while it runs, every launcher exits 0, and the
// directory ends as the payload's tree, from an empty and from a stale
// directory. The child (the checker program) verifies its siblings against
// the payload's manifest at its start and then every 10 ms for a while.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
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
            // A launcher kept waiting 2 s by the others says so, once.
            std::string waiting = "Waiting for another launcher to finish unpacking into '" +
                                  p.path(dir / "unpacked") + "'." + p.eol();
            if (r.err != waiting) EXPECT_EQ(r.err, "") << round << " launcher " << i;
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

// A launcher stopped while it unpacks (Ctrl+Z) keeps the next one waiting,
// which says once which folder it waits for, and goes on when the stopped
// one is killed; another process holding flock
// on the target folder (as another user could) keeps no one waiting.
TEST_P(Hardening, LauncherWaitingForAnotherSaysSoAndNoOtherLockHoldsItUp) {
    const Platform& p = GetParam();
    if (p.windows) GTEST_SKIP() << "Wine cannot stop a launcher half-way reliably; the mutex wait is the same code";
    Scratch dir;
    std::string slow = stage(p, "t_slow_unpack", dir.path());
    std::string target = dir / "unpacked";
    Running first = start(p, slow, {.env = {{"PROBE_OUT", dir / "r1.txt"}}});
    for (int i = 0; i < 600 && !exists(target + "/fill/00.bin"); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(first.pid, SIGSTOP);
    int fd = open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << "the stopped launcher holds the target folder";
    Running second = start(p, stage(p, "t_slow_unpack", dir.path(), "second"), {.env = {{"PROBE_OUT", dir / "r2.txt"}}});
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    EXPECT_FALSE(exists(dir / "r2.txt")) << "started while the first launcher held the lock";
    kill(first.pid, SIGKILL);
    Result one = finish(first), two = finish(second);
    close(fd);
    EXPECT_EQ(one.signal, SIGKILL);
    EXPECT_EQ(two.code, 0);
    EXPECT_EQ(two.err, "Waiting for another launcher to finish unpacking into '" + target + "'.\n");
    EXPECT_TRUE(exists(dir / "r2.txt"));

    // The target folder locked by someone else: no wait at all.
    Scratch other;
    std::string exe = stage(p, "t_basic", other.path());
    make_dirs(other / "unpacked");
    fd = open((other / "unpacked").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    Result r = run(p, exe, {.env = {{"PROBE_OUT", other / "r.txt"}}, .timeout_ms = 10000});
    close(fd);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");

    // The folder removed, lock file and all, while a launcher waits for its
    // lock (as a launcher of another version removes an old one): made again.
    fd = open((other / "unpacked/.kay:lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    Running waiting = start(p, exe, {.env = {{"PROBE_OUT", other / "r.txt"}}});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    remove_tree(other / "unpacked");
    close(fd);
    r = finish(waiting);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(files_of(other / "unpacked"), expected_files(p, "basic"));
}

// The launcher's own path is taken at its start: its file moved while it
// unpacks changes neither the child's first argument nor its folder.
TEST_P(Hardening, LauncherMovedWhileItUnpacksHandsOnThePathItStartedFrom) {
    const Platform& p = GetParam();
    if (p.windows) GTEST_SKIP() << "Wine cannot stop a launcher half-way reliably";
    Scratch dir;
    std::string exe = stage(p, "t_slow_unpack", dir.path());
    Running running = start(p, exe, {});
    for (int i = 0; i < 600 && !exists(dir / "unpacked/fill/00.bin"); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(running.pid, SIGSTOP);
    make_dirs(dir / "moved");
    fs::rename(exe, dir / "moved/launcher");
    kill(running.pid, SIGCONT);
    Result r = finish(running);
    ASSERT_EQ(r.code, 0) << r.err;
    ProbeReport probe = parse_probe(r.out);
    EXPECT_EQ(probe.args, std::vector<std::string>{exe});
    EXPECT_EQ(probe.env["KOLVEX_ONEFILE_DIRECTORY"], dir.path());
}

// The own file found without /proc (a tmpfs over it in a mount namespace),
// or what failed said; run as an unprivileged user, root only preparing.
TEST_P(Hardening, OwnFileIsFoundWithoutProcOrWhatFailedIsSaid) {
    const Platform& p = GetParam();
    if (p.windows || geteuid() != 0) GTEST_SKIP() << "needs root to hide /proc";
    // A chroot's root is no mount point, so it cannot be made private.
    if (run(p, "unshare", {.args = {"-m", "--propagation", "private", "true"}}).code != 0)
        GTEST_SKIP() << "no private mount namespace here (a chroot?)";
    // The child's first argument, or the error of an execute-only launcher.
    const struct { const char* hide_proc; std::string command, first, err; } cases[] = {
        {"1", "t_basic", "t_basic", ""},
        {"1", "zstdcat", "zstdcat", ""},
        {"1", "in/../../t_basic", "t_basic", ""},  // by text another file: links are followed
        {"0", "t_basic", "", "Error, couldn't open own program file ([Error 13] Permission denied)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command + c.hide_proc);
#ifdef __SANITIZE_ADDRESS__  // the sanitizer's own runtime needs /proc
        if (c.hide_proc[0] == '1') continue;
#endif
        Scratch dir;
        std::string app = dir / "app";
        make_dirs(app + "/deep/er");
        std::string exe = stage(p, "t_basic", app);
        ASSERT_EQ(chmod(dir.path().c_str(), 0755) | chown(app.c_str(), 23456, 23456) |
                      chmod(exe.c_str(), c.err.empty() ? 0755 : 0111), 0);
        fs::create_symlink(exe, app + "/zstdcat");
        fs::create_directory_symlink("deep/er", app + "/in");
        Result r = run(p, "unshare", {.args = {"-m", "--propagation", "private", "sh", "-c",
                                               "[ $0 = 0 ] || mount -t tmpfs tmpfs /proc || exit 99; exec setpriv "
                                               "--reuid=23456 --regid=23456 --clear-groups \"$@\"",
                                               c.hide_proc, app + "/" + c.command}});
        EXPECT_EQ(std::to_string(r.code) + r.err, (c.err.empty() ? "0" : "2") + c.err);
        if (!c.err.empty()) continue;
        ProbeReport probe = parse_probe(r.out);
        EXPECT_EQ(probe.args, std::vector<std::string>{app + "/" + c.first});
    }
}

INSTANTIATE_TEST_SUITE_P(Launchers, Hardening, ::testing::ValuesIn(platforms()), platform_name);

}  // namespace
