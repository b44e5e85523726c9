// Unpacking seen from outside: what real launchers leave on disk, what they
// rewrite and what they leave alone, and how they end on bad payloads, full
// disks and over-long paths.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "harness.h"

using namespace kay_test;

namespace {

namespace fs = std::filesystem;

std::string eol(const Platform& p) { return p.windows ? "\r\n" : "\n"; }

std::string main_name(const Platform& p) { return p.exe("probe"); }

// Relative path -> content ("<dir>" for a directory), ignoring identity.
std::map<std::string, std::string> contents(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& [rel, state] : snapshot(dir)) out[rel] = state.directory ? "<dir>" : state.content;
    return out;
}

// What make_payloads.py says a case must leave on disk.
std::string expected(const Platform& p, const std::string& which) {
    return p.build_dir + "/tests/payloads/expected/" + which;
}

// Sets every time stamp under `dir` far into the past, so that any write,
// and any entry created in a directory, shows as a changed time.
void age(const std::string& dir) {
    struct timespec old[2] = {{978307200, 0}, {978307200, 0}};
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        utimensat(AT_FDCWD, e.path().c_str(), old, AT_SYMLINK_NOFOLLOW);
    }
}

// Checks that exactly the paths in `changed` differ between two snapshots
// (present in both with another time stamp or content, or newly present),
// and that everything else kept identity, time stamp and content.
void expect_only_changed(const std::map<std::string, FileState>& before,
                         const std::map<std::string, FileState>& after, const std::set<std::string>& changed) {
    for (const auto& [rel, state] : after) {
        auto it = before.find(rel);
        if (changed.count(rel) != 0) {
            EXPECT_TRUE(it == before.end() || it->second.mtime_ns != state.mtime_ns) << rel << " was not rewritten";
        } else {
            ASSERT_TRUE(it != before.end()) << rel << " appeared";
            EXPECT_EQ(it->second, state) << rel << " was touched";
        }
    }
    for (const auto& [rel, state] : before) EXPECT_EQ(after.count(rel), 1u) << rel << " vanished";
}

// A directory path of exactly `length` characters below `base`, made of
// components short enough for any file system.
std::string long_dir(const std::string& base, std::size_t length) {
    std::string path = base;
    while (path.size() < length) {
        std::size_t n = std::min<std::size_t>(200, length - path.size() - 1);
        if (length - path.size() - 1 - n == 1) n--;  // no one-letter tail that cannot fit a separator
        path += "/" + std::string(n, 'x');
    }
    make_dirs(path);
    return path;
}

class Unpack : public ::testing::TestWithParam<Platform> {};

TEST_P(Unpack, FirstRunWritesEveryEntryButCrcZeroAndSecondRunWritesNothing) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_basic", dir.path());
    std::string target = dir / "unpacked", report = dir / "report.txt";
    RunOptions options{.env = {{"PROBE_OUT", p.path(report)}}};

    Result r = run(p, exe, options);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    // never.txt (stored crc 0) is missing; empty.txt is there and empty;
    // zerocrc.bin (CRC-32 0, stored 1) is there.
    EXPECT_EQ(contents(target), contents(expected(p, "basic")));
    EXPECT_FALSE(exists(target + "/never.txt"));
    EXPECT_EQ(read_file(target + "/empty.txt"), "");

    // An empty file also yields 0, so it matches the stored crc 0 and stays.
    write_file(target + "/never.txt", "");
    age(target);
    auto before = snapshot(target);
    fs::remove(report);
    r = run(p, exe, options);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_TRUE(exists(report)) << "the first entry's program must still be started";
    // An empty file always yields 0, so the empty entry (stored crc 1) is
    // written on every run; nothing else is touched.
    expect_only_changed(before, snapshot(target), {"empty.txt"});
}

TEST_P(Unpack, ChangedOrDeletedFilesAreRewrittenAndNothingElse) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_basic", dir.path());
    std::string target = dir / "unpacked";
    ASSERT_EQ(run(p, exe).code, 0);
    const std::string main = main_name(p);

    // Same size other content, grown, shrunk, truncated to nothing.
    std::string a = read_file(target + "/data/a.txt");
    a[0] ^= 1;
    write_file(target + "/data/a.txt", a);
    write_file(target + "/zerocrc.bin", read_file(target + "/zerocrc.bin") + "more");
    std::string b = read_file(target + "/data/sub/b.bin");
    write_file(target + "/data/sub/b.bin", b.substr(0, b.size() - 1));
    write_file(target + "/" + main, "");
    age(target);
    auto before = snapshot(target);
    Result r = run(p, exe);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(contents(target), contents(expected(p, "basic")));
    expect_only_changed(before, snapshot(target), {"data/a.txt", "zerocrc.bin", "data/sub/b.bin", main, "empty.txt"});

    // Deleted with their directories: recreated below the nearest one left.
    remove_tree(target + "/data");
    age(target);
    before = snapshot(target);
    r = run(p, exe);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(contents(target), contents(expected(p, "basic")));
    expect_only_changed(before, snapshot(target), {"data", "data/a.txt", "data/sub", "data/sub/b.bin", "empty.txt"});
}

TEST_P(Unpack, DirectoryWhereAFileShouldGoCannotBeOpenedForWriting) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_basic", dir.path());
    std::string target = dir / "unpacked", report = dir / "report.txt";
    make_dirs(target + "/data/a.txt");
    Result r = run(p, exe, {.env = {{"PROBE_OUT", p.path(report)}}});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error, failed to open '" + p.path(target + "/data/a.txt") + "' for writing." + eol(p));
    EXPECT_FALSE(exists(target + "/data/sub")) << "later entries must not be unpacked";
    EXPECT_FALSE(exists(report));
}

TEST_P(Unpack, RunningMainProgramIsSkippedWhenItMatchesAndCannotBeRewrittenOtherwise) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string first = stage(p, "t_basic", dir.path());
    std::string report = dir / "report.txt";
    // The first launch's program runs while the others start.
    Running running = start(p, first, {.env = {{"PROBE_OUT", p.path(report)},
                                               {"PROBE_SLEEP_MS", p.windows ? "20000" : "4000"}}});
    for (int i = 0; i < 600 && !exists(report); i++) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(exists(report)) << "the first launch's program did not start";

    Result same = run(p, stage(p, "t_basic", dir.path(), p.exe("same")),
                      {.env = {{"PROBE_OUT", p.path(dir / "report2.txt")}}});
    EXPECT_EQ(same.code, 0) << same.out << same.err;
    EXPECT_EQ(same.out + same.err, "");

    Result other = run(p, stage(p, "t_other_main", dir.path()));
    EXPECT_EQ(other.code, 2);
    EXPECT_EQ(other.out, "");
    EXPECT_EQ(other.err,
              "Error, failed to open '" + p.path(dir / "unpacked/" + main_name(p)) + "' for writing." + eol(p));

    Result r = finish(running);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
}

TEST_P(Unpack, ReadsAcrossWindowBoundariesAndPastAnEmptyDecoderCall) {
    const Platform& p = GetParam();
    // split: a name unit across the end of the first window, then an entry
    // spanning several windows. skippable: a frame that yields nothing
    // comes first.
    for (auto [launcher, which] : {std::pair{"t_split", "split"}, std::pair{"t_skippable", "basic"}}) {
        Scratch dir;
        Result r = run(p, stage(p, launcher, dir.path()));
        EXPECT_EQ(r.code, 0) << launcher << r.out << r.err;
        EXPECT_EQ(contents(dir / "unpacked"), contents(expected(p, which))) << launcher;
    }
}

TEST_P(Unpack, CorruptPayloadsAreDecodeErrors) {
    const Platform& p = GetParam();
    for (const char* launcher : {"t_big_window", "t_no_end_marker", "t_truncated", "t_long_name"}) {
        Scratch dir;
        Result r = run(p, stage(p, launcher, dir.path()), {.timeout_ms = 60000});
        EXPECT_FALSE(r.timed_out) << launcher;
        EXPECT_EQ(r.code, 2) << launcher;
        EXPECT_EQ(r.out, "Error, couldn't decode attached data." + eol(p)) << launcher;
        EXPECT_EQ(r.err, "") << launcher;
        if (std::string(launcher) == "t_big_window") {
            EXPECT_FALSE(exists(dir / "unpacked")) << "the frame is refused before any entry";
        }
    }
}

TEST_P(Unpack, UnsafeNamesAreDecodeErrorsAndWriteNothingOutsideTheTarget) {
    const Platform& p = GetParam();
    for (const char* launcher : {"t_traversal", "t_absolute", "t_drive", "t_empty_part", "t_trailing_sep"}) {
        Scratch dir;
        std::string exe = stage(p, launcher, dir.path());
        Result r = run(p, exe);
        EXPECT_EQ(r.code, 2) << launcher;
        EXPECT_EQ(r.out, "Error, couldn't decode attached data." + eol(p)) << launcher;
        EXPECT_EQ(r.err, "") << launcher;
        // Only the launcher and the first entry, unpacked before the bad one.
        std::set<std::string> names;
        for (const auto& [rel, state] : snapshot(dir.path())) names.insert(rel);
        EXPECT_EQ(names, (std::set<std::string>{p.exe(launcher), "unpacked", "unpacked/" + main_name(p)}))
            << launcher;
    }
    EXPECT_FALSE(exists("/abs.txt"));
    if (p.windows) EXPECT_FALSE(exists(wine_prefix() + "/drive_c/drive.txt"));
}

TEST_P(Unpack, WriteFailureIsReportedWithTheSystemText) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_basic", dir.path());
    std::string target = dir / "unpacked";
    if (!exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // The file's place holds a device on which every write fails: disk full.
    make_dirs(target + "/data");
    fs::create_symlink("/dev/full", target + "/data/a.txt");
    Result r = run(p, exe);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    std::string head = "Error, couldn't unpack file to target path. ([Error ";
    if (p.windows) {
        // ERROR_DISK_FULL with whatever text the system has for it.
        head += "112] ";
        EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
        EXPECT_GT(r.err.size(), head.size() + 3) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - 3), ")\r\n") << r.err;
    } else {
        EXPECT_EQ(r.err, head + std::to_string(ENOSPC) + "] " + std::strerror(ENOSPC) + ")\n");
    }
    EXPECT_FALSE(exists(target + "/data/sub")) << "later entries must not be unpacked";
}

TEST(UnpackNative, FileSizeLimitEndsTheWriteWithTheSystemTextAndTheNextRunCompletesIt) {
    Platform p = platforms().front();
    Scratch dir;
    std::string exe = stage(p, "t_big_file", dir.path());
    std::string big = dir / "unpacked/big.bin";
    ASSERT_EQ(run(p, exe).code, 0);
    std::string content = read_file(big);
    ASSERT_EQ(content.size(), 1u << 20);
    fs::remove(big);

    // The program already matches; only the 1 MiB file is written, and the
    // limit (64 KiB) stops it part way. SIGXFSZ is ignored, so the write
    // fails with EFBIG instead of killing the launcher.
    Result r = run(p, "/bin/sh", {.args = {"-c", "trap '' XFSZ; ulimit -f 128; exec \"$0\"", exe}});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error, couldn't unpack file to target path. ([Error " + std::to_string(EFBIG) + "] " +
                         std::strerror(EFBIG) + ")\n");
    std::string partial = read_file(big);
    EXPECT_LT(partial.size(), content.size());
    EXPECT_EQ(partial, content.substr(0, partial.size()));

    r = run(p, exe);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(read_file(big), content);
}

TEST_P(Unpack, EntryPathOf4095UnitsFitsAndOneMoreIsAnAbnormalEnd) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string name = read_file(p.build_dir + "/tests/payloads/deep_name.txt");
    ASSERT_EQ(name.size(), 1023u);
    std::string native_name = name;
    for (char& c : native_name) {
        if (c == '\\') c = '/';
    }
    if (!p.windows) {
        // Target "t" below the current directory: cwd + "/t/" + name.
        for (std::size_t total : {4095u, 4096u}) {
            std::string cwd = long_dir(dir / std::to_string(total), total - 3 - name.size());
            Result r = run(p, p.launcher("t_relative"), {.env = {{"PROBE_OUT", "/dev/null"}}, .cwd = cwd});
            EXPECT_EQ(r.out + r.err, "") << total;
            EXPECT_TRUE(exists(cwd + "/t/" + main_name(p))) << total;
            if (total == 4095) {
                EXPECT_EQ(r.code, 0) << total;
                EXPECT_EQ(read_file(cwd + "/t/" + native_name), "deep");
            } else {
                EXPECT_EQ(r.code, 3) << total;
                EXPECT_FALSE(exists(cwd + "/t/" + name.substr(0, 200)));
            }
        }
    } else {
        // Windows refuses such paths at open long before 4095 units, and the
        // current directory cannot be that long, so only the overflow is
        // checked, with the launcher placed deep: "Z:" + dir + "\unpacked\" + name.
        std::string home = long_dir(dir / "w", 4096 - 2 - 10 - name.size());
        std::string exe = stage(p, "t_deep", home);
        Result r = run(p, exe);
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(exists(home + "/unpacked/" + main_name(p)));
        EXPECT_FALSE(exists(home + "/unpacked/" + name.substr(0, 200)));
    }
}

TEST_P(Unpack, MoreThan1024DirectoriesAreAllCreated) {
    const Platform& p = GetParam();
    Scratch dir;
    Result r = run(p, stage(p, "t_many_dirs", dir.path()));
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    int found = 0;
    for (int i = 0; i < 1100; i++) {
        char rel[32];
        std::snprintf(rel, sizeof rel, "/unpacked/d%04d/f.txt", i);
        if (exists(dir.path() + rel) && read_file(dir.path() + rel) == std::to_string(i)) found++;
    }
    EXPECT_EQ(found, 1100);
}

INSTANTIATE_TEST_SUITE_P(Launchers, Unpack, ::testing::ValuesIn(platforms()),
                         [](const auto& info) { return info.param.name(); });

}  // namespace
