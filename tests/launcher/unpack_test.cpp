// Unpacking seen from outside: what real launchers leave on disk, what they
// rewrite and what they leave alone, and how they end on bad payloads, full
// disks and over-long paths. The rules for single entries are unit-tested
// (tests/unit/unpack_test.cpp, reader_test.cpp).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "harness.h"
#include "common/report.h"

using namespace kay_test;

namespace {

namespace fs = std::filesystem;

std::string main_name(const Platform& p) { return p.exe("probe"); }

// Sets every time stamp under `dir` far into the past, so that any write,
// and any entry created in a directory, shows as a changed time.
void age(const std::string& dir) {
    struct timespec old[2] = {{978307200, 0}, {978307200, 0}};
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        utimensat(AT_FDCWD, e.path().c_str(), old, AT_SYMLINK_NOFOLLOW);
    }
}

// Runs `exe` on an aged `target` and checks that exactly the paths in
// `changed` differ afterwards (another time stamp or content, or newly
// present), that everything else kept identity, time stamp and content,
// and that the tree is the payload's.
void expect_run_changes(const Platform& p, const std::string& exe, const std::string& target,
                        const std::set<std::string>& changed, const RunOptions& options) {
    age(target);
    auto before = snapshot(target);
    Result r = run(p, exe, options);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "");
    auto after = snapshot(target);
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
    EXPECT_EQ(files_of(target), expected_files(p, "basic"));
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

TEST_P(Unpack, FirstRunWritesThePayloadsTreeAndLaterRunsOnlyWhatChangedOrWentMissing) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_fault", dir.path());
    std::string target = dir / "unpacked", report = dir / "report.txt";
    RunOptions options{.env = {{"PROBE_OUT", p.path(report)}}};
    Result r = run(p, exe, options);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    // The entry of stored crc 0 is missing, the empty one (stored 1) there.
    ASSERT_EQ(files_of(target), expected_files(p, "basic"));

    // Nothing is touched, the empty file neither, and the program is still
    // started.
    fs::remove(report);
    expect_run_changes(p, exe, target, {}, options);
    EXPECT_TRUE(exists(report));

    // What the last start proved is recorded: once the record is older than
    // any file's times can be coarse, a warm start reads nothing but it. A
    // change that keeps the size and puts the time back (the change time
    // moves), a copy with the same times, the user's record of another
    // build, a damaged or (POSIX) another user's record, a file whose times
    // are within the record's racy window: checked by content.
    const std::string record = target + "/.kay-state", fault = dir / "fault.txt";
    auto a_txt = target + "/data/a.txt";
    options.env["KAY_FAULT_REPORT"] = p.path(fault);
    auto settled_run = [&](std::function<void()> change, bool racy = false) {
        fs::last_write_time(record, racy ? fs::last_write_time(a_txt) + std::chrono::seconds(1)
                                         : fs::file_time_type::clock::now() + std::chrono::hours(1));
        change();
        Result warm = run(p, exe, options);
        EXPECT_EQ(warm.code, 0) << warm.out << warm.err;
        EXPECT_EQ(files_of(target), expected_files(p, "basic"));
        return read_report(fault).reads;
    };
    EXPECT_EQ(settled_run([] {}), 1);
    EXPECT_GT(settled_run([] {}, true), 1);
    auto put_back = [&](const std::string& content, bool anew) {
        auto time = fs::last_write_time(a_txt);
        if (anew) fs::remove(a_txt);
        write_file(a_txt, content);
        fs::last_write_time(a_txt, time);
    };
    EXPECT_GT(settled_run([&] { put_back(std::string(read_file(a_txt).size(), 'x'), false); }), 1);
    EXPECT_GT(settled_run([&] { put_back(read_file(a_txt), true); }), 1);
    EXPECT_EQ(settled_run([] {}), 1);
    std::string good = read_file(record);
    for (std::size_t at : {std::size_t{8}, good.size() - 30}) {
        EXPECT_GT(settled_run([&] { write_file(record, good.substr(0, at) + char(good[at] ^ 1) + good.substr(at + 1)); }),
                  1);
    }
    if (!p.windows) EXPECT_GT(settled_run([&] { ASSERT_EQ(chown(record.c_str(), 4711, 4711), 0); }), 1);
    // Built with --check content, a launcher reads every file and keeps no
    // record.
    fs::remove(record);
    std::string content = stage(p, "t_fault_content", dir.path());
    for (int start = 0; start < 2; start++) ASSERT_EQ(run(p, content, options).code, 0);
    EXPECT_GT(read_report(fault).reads, 4);
    EXPECT_FALSE(fs::exists(record));

    // Same size other content, grown, shrunk, truncated to nothing.
    std::string a = read_file(target + "/data/a.txt");
    a[0] ^= 1;
    write_file(target + "/data/a.txt", a);
    write_file(target + "/zerocrc.bin", read_file(target + "/zerocrc.bin") + "more");
    std::string b = read_file(target + "/data/sub/b.bin");
    write_file(target + "/data/sub/b.bin", b.substr(0, b.size() - 1));
    write_file(target + "/" + main_name(p), "");
    expect_run_changes(p, exe, target, {"data/a.txt", "zerocrc.bin", "data/sub/b.bin", main_name(p)}, options);

    // Deleted with their directories: recreated below the nearest one left.
    remove_tree(target + "/data");
    expect_run_changes(p, exe, target, {"data", "data/a.txt", "data/sub", "data/sub/b.bin"}, options);

    // A program that lost its executable mode is written again, with it.
    if (!p.windows) {
        fs::permissions(target + "/" + main_name(p), fs::perms::owner_exec | fs::perms::group_exec |
                        fs::perms::others_exec, fs::perm_options::remove);
        expect_run_changes(p, exe, target, {main_name(p)}, options);
    }
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
    EXPECT_EQ(r.err, "Error, failed to open '" + p.path(target + "/data/a.txt") + "' for writing." + p.eol());
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
    EXPECT_EQ(other.err, "Error, failed to open '" + p.path(dir / "unpacked/" + main_name(p)) + "' for writing." +
                             p.eol());

    Result r = finish(running);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
}

// Refused payloads: the message on standard output, exit code 2, and
// nothing on disk but what was unpacked before the fault (for unsafe
// names, the first entry; nothing at all outside the target).
TEST_P(Unpack, BadPayloadsEndWithTheirMessageAndWriteNothingMore) {
    const Platform& p = GetParam();
    const std::string header = "Error, couldn't find attached data header.";
    const std::string decode = "Error, couldn't decode attached data.";
    const std::string no_memory = "Error, couldn't allocate memory.";
    const std::vector<std::string> main_only = {"unpacked", "unpacked/" + main_name(p)};
    const struct {
        const char* launcher;
        const std::string& message;
        std::vector<std::string> left;
        const char* vm_limit = nullptr;  // ulimit -v (KiB), native only
    } cases[] = {
        {"t_badmagic_lower", header, {}},
        {"t_badmagic_kax", header, {}},
        {"t_big_window", decode, {}},
        {"t_traversal", decode, main_only},
        {"t_absolute", decode, main_only},
        {"t_drive", decode, main_only},
        {"t_empty_part", decode, main_only},
        {"t_trailing_sep", decode, main_only},
        {"t_device", decode, main_only},
        // The damaged file is removed; those written before it stay.
        {"t_flipped", decode, {"unpacked", "unpacked/data", "unpacked/data/a.txt", "unpacked/data/sub", main_only[1]}},
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow memory is beyond any such limit
        // The frame asks for a 2^27-byte window, more than the process may map.
        {"t_basic", no_memory, {"unpacked"}, "100000"},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.launcher);
        if (c.vm_limit != nullptr && p.windows) continue;
        Scratch dir;
        std::string exe = stage(p, c.launcher, dir.path());
        std::string limited = std::string("ulimit -S -v ") + (c.vm_limit ? c.vm_limit : "") + "; exec \"$0\"";
        Result r = c.vm_limit == nullptr ? run(p, exe, {.timeout_ms = 60000})
                                         : run(p, "sh", {.args = {"-c", limited, exe}});
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, c.message + p.eol());
        EXPECT_EQ(r.err, "");
        std::vector<std::string> left = c.left;
        left.insert(left.begin(), p.exe(c.launcher));
        EXPECT_EQ(list_dir(dir.path()), left);
    }
    EXPECT_FALSE(exists("/abs.txt"));
    if (p.windows) EXPECT_FALSE(exists(wine_prefix() + "/drive_c/drive.txt"));
}

TEST_P(Unpack, WriteFailureIsReportedWithTheSystemText) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_basic", dir.path());
    std::string target = dir / "unpacked";
    std::string head = "Error, couldn't unpack file to target path. ([Error ";
    if (!p.windows) {
        // Beyond the file size limit (ulimit -f, 512-byte units): EFBIG.
        Result r = run(p, "sh", {.args = {"-c", "ulimit -f 8; exec \"$0\"", exe}});
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, head + std::to_string(EFBIG) + "] " + std::strerror(EFBIG) + ")\n");
        EXPECT_FALSE(exists(target + "/data")) << "later entries must not be unpacked";
        return;
    }
    if (!exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // The file's place holds a device on which every write fails: disk full.
    make_dirs(target + "/data");
    fs::create_symlink("/dev/full", target + "/data/a.txt");
    Result r = run(p, exe);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    // ERROR_DISK_FULL with whatever text the system has for it.
    head += "112] ";
    EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
    EXPECT_GT(r.err.size(), head.size() + 3) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 3), ")\r\n") << r.err;
    EXPECT_FALSE(exists(target + "/data/sub")) << "later entries must not be unpacked";
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

// 320 folder levels to make, natively with a small stack (more than it held
// when each level took a frame); the file's path is over 640 units long.
TEST_P(Unpack, DeepTreeIsMadeWithASmallStackAndTheProgramStarts) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_deep_tree", dir.path()), report = dir / "report.txt", deep = dir / "unpacked";
    RunOptions o{.env = {{"PROBE_OUT", p.path(report)}}};
    if (!p.windows) o.args = {"-c", "ulimit -s 1024 && exec \"$0\"", exe};
    Result r = run(p, p.windows ? exe : "sh", o);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    for (int i = 0; i < 320; i++) deep += "/a";
    EXPECT_EQ(read_file(deep + "/f"), "deep tree");
    EXPECT_EQ(read_file(dir / "unpacked/s/l/ash.txt"), "slash");
    EXPECT_TRUE(exists(report));
}

// Users by id (no account needed): the one who runs the launchers, and
// another one, owner of what an attacker made.
constexpr uid_t USER = 23456, OTHER = 4711;

// Options that run `exe` by setpriv as USER, without root's privileges
// (they would bypass every permission the cases are about), under `umask`.
RunOptions as_user(const std::string& exe, RunOptions options, const char* umask = "022") {
    options.args.insert(options.args.begin(), {"--reuid=" + std::to_string(USER), "--regid=" + std::to_string(USER),
                                               "--clear-groups", "sh", "-c", std::string("umask ") + umask + "; exec \"$0\"", exe});
    return options;
}

Result run_as_user(const Platform& p, const std::string& exe, RunOptions options, const char* umask = "022") {
    return run(p, "setpriv", as_user(exe, options, umask));
}

void own(const std::string& path, uid_t uid, int mode = -1) {
    ASSERT_EQ(lchown(path.c_str(), uid, uid), 0) << path;
    if (mode >= 0) ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(mode)), 0) << path;
}

// Versions 1 to 4 of one product started in turn (as the user, natively),
// each in cache/<version>: a start removes, once its child runs, those not
// among the two most recently used, but not the one whose child still runs,
// nor another product's, nor (natively) a version reached by a link, nor
// what the application wrote or changed; a cleanup cut short (a file that
// could not be removed) is finished by a later one, and a start of the
// version cut short repairs it; a launcher that keeps all removes none.
TEST_P(Unpack, OldVersionsGoOnceUnusedButNotWhileTheyRunNorWhatTheApplicationMade) {
    const Platform& p = GetParam();
    const bool user = !p.windows && geteuid() == 0;
    Scratch dir;
    const std::string cache = dir / "cache";
    make_dirs(cache);
    if (user) {
        own(dir.path(), USER);
        own(cache, USER);
    }
    auto options = [&](int v, const std::string& fault, const char* sleep_ms) {
        std::string exe = stage(p, "t_v" + std::to_string(v), dir.path());
        RunOptions o{.env = {{"PROBE_OUT", p.path(dir / ("probe" + std::to_string(v)))}, {"KAY_FAULT", fault}}};
        if (sleep_ms != nullptr) o.env["PROBE_SLEEP_MS"] = sleep_ms;
        return std::pair{user ? std::string("setpriv") : exe, user ? as_user(exe, o) : o};
    };
    auto launch = [&](int v, const std::string& fault = "") {
        auto [program, o] = options(v, fault, nullptr);
        Result r = run(p, program, o);
        EXPECT_EQ(r.code, 0) << v << r.out << r.err;
        EXPECT_EQ(r.out + r.err, "");
    };
    auto complete = [&](const std::string& folder) { return files_of(folder) == expected_files(p, "basic"); };
    auto at = [&](int v) { return cache + "/" + std::to_string(v); };
    launch(9);
    auto [program, o] = options(1, "", p.windows ? "20000" : "3000");
    Running first = start(p, program, o);
    for (int i = 0; i < 600 && !exists(dir / "probe1"); i++) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(exists(dir / "probe1")) << "version 1's program did not start";
    launch(2);
    launch(3);
    write_file(at(2) + "/data/notes.txt", "the application's");
    write_file(at(2) + "/data/sub/b.bin", "changed");
    if (!p.windows) {
        fs::copy(at(3), dir / "linked", fs::copy_options::recursive);
        age(dir / "linked");
        fs::create_directory_symlink(dir / "linked", cache + "/0");
    }
    // What root made here is the user's (a change of owner is a change of
    // status: the versions' files are left alone).
    if (user) {
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            if (e.path().string().find("/cache/") == std::string::npos) own(e.path(), USER);
        for (const char* made : {"/data/notes.txt", "/data/sub/b.bin"}) own(at(2) + made, USER);
        own(cache + "/0", USER);
    }
    launch(4);
    EXPECT_TRUE(complete(at(1)) && complete(at(3)) && complete(at(4)) && complete(at(9)));
    EXPECT_EQ(list_dir(at(2)), (std::vector<std::string>{"data", "data/notes.txt", "data/sub", "data/sub/b.bin"}));
    if (!p.windows) EXPECT_TRUE(complete(dir / "linked"));
    EXPECT_EQ(finish(first).code, 0);
    // 3 is kept, 1 goes but for its first file; 1 repaired, 3 goes but for
    // its first file, then all of it.
    launch(4, "remove_file:1");
    EXPECT_EQ(list_dir(at(1)), std::vector<std::string>{main_name(p)});
    launch(1, "remove_file:1");
    EXPECT_TRUE(complete(at(1)));
    EXPECT_EQ(list_dir(at(3)), std::vector<std::string>{main_name(p)});
    launch(4);
    EXPECT_FALSE(exists(at(3)));
    launch(5);
    EXPECT_TRUE(complete(at(1)) && complete(at(4)) && complete(at(5)) && complete(at(9)));
}

// Target layouts another user, or a start as root, could leave, or odd
// files at entry paths, run natively as real launchers placed in a sticky
// folder every user may write to (like /tmp), as an ordinary user: refused
// with the path and reason, exit 2, nothing written; or unpacked (twice)
// without following or blocking on anything, into folders only the user
// may write to, serialised by a lock file only the user may open.
TEST(HostileTargets, RefusedBeforeAnythingIsWrittenOrUnpackedWithoutFollowingAnything) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of other users";
    const Platform p = native();
    const std::string a_txt = expected_files(native(), "basic").at("data/a.txt");
    // The user's own target folder, with a stale data/a.txt of `owner`.
    auto stale = [&](const std::string& s, uid_t owner, int mode) {
        make_dirs(s + "/unpacked/data");
        own(s + "/unpacked", USER);
        own(s + "/unpacked/data", USER);
        write_file(s + "/unpacked/data/a.txt", "stale");
        own(s + "/unpacked/data/a.txt", owner, mode);
    };
    const struct {
        const char* layout;
        std::function<void(const std::string& shared, const std::string& victim)> make;
        // Standard error, '@' standing for the scratch folder; empty: unpacked.
        std::string err;
        const char* umask = "022";
    } cases[] = {
        {"another user's symlink as the target", [&](auto& s, auto& v) {
             fs::create_directory_symlink(v, s + "/unpacked");
             own(s + "/unpacked", OTHER);
         }, "Error, unsafe target directory '@/shared/unpacked' (owned by another user).\n"},
        {"another user's folder as the target", [&](auto& s, auto&) {
             make_dirs(s + "/unpacked");
             own(s + "/unpacked", OTHER);
         }, "Error, unsafe target directory '@/shared/unpacked' (owned by another user).\n"},
        {"a folder every user may write to, not sticky", [&](auto& s, auto&) { chmod(s.c_str(), 0777); },
         "Error, unsafe target directory '@/shared' (writable by every user and not sticky).\n"},
        {"a target folder every user may write to", [&](auto& s, auto&) {
             make_dirs(s + "/unpacked");
             chmod((s + "/unpacked").c_str(), 01777);
         }, "Error, unsafe target directory '@/shared/unpacked' (writable by every user).\n"},
        {"the user's own folder that every user may write to", [&](auto& s, auto&) {
             make_dirs(s + "/unpacked");
             own(s + "/unpacked", USER, 0777);
         }, "Error, unsafe target directory '@/shared/unpacked' (writable by every user).\n"
            "To use it, take away the others' write permission: chmod o-w '@/shared/unpacked'\n"},
        {"nothing there, under umask 000", [&](auto&, auto&) {}, "", "000"},
        {"the user's own symlink at an entry path", [&](auto& s, auto& v) {
             stale(s, USER, 0644);
             fs::remove(s + "/unpacked/data/a.txt");
             fs::create_symlink(v + "/file", s + "/unpacked/data/a.txt");
             own(s + "/unpacked/data/a.txt", USER);
         }, ""},
        {"the user's own symlink to a folder of the user's below the target", [&](auto& s, auto& v) {
             make_dirs(s + "/unpacked");
             own(s + "/unpacked", USER);
             fs::create_directory_symlink(v, s + "/unpacked/data");
             own(s + "/unpacked/data", USER);
         }, ""},
        {"another user's symlink two folders down", [&](auto& s, auto& v) {
             stale(s, USER, 0644);
             fs::create_directory_symlink(v, s + "/unpacked/data/sub");
             own(s + "/unpacked/data/sub", OTHER);
         }, ""},
        {"a FIFO at an entry path", [&](auto& s, auto&) {
             stale(s, USER, 0644);
             fs::remove(s + "/unpacked/data/a.txt");
             mkfifo((s + "/unpacked/data/a.txt").c_str(), 0666);
         }, ""},
        {"another user's file of the right content", [&](auto& s, auto&) {
             stale(s, OTHER, 0644);
             write_file(s + "/unpacked/data/a.txt", a_txt);
         }, ""},
        {"root's file left by a start as root", [&](auto& s, auto&) { stale(s, 0, 0644); }, ""},
        {"another user's file of mode 444", [&](auto& s, auto&) { stale(s, OTHER, 0444); }, ""},
        {"another user's file of mode 600", [&](auto& s, auto&) { stale(s, OTHER, 0600); }, ""},
        {"the user's own file of mode 444", [&](auto& s, auto&) { stale(s, USER, 0444); }, ""},
        {"the user's own file of mode 000", [&](auto& s, auto&) { stale(s, USER, 0); }, ""},
        {"root's lock file left by a start as root", [&](auto& s, auto&) {
             stale(s, USER, 0644);
             write_file(s + "/unpacked/.kay:lock", "");
             own(s + "/unpacked/.kay:lock", 0, 0600);
         }, ""},
        {"root's folder left by a start as root", [&](auto& s, auto&) {
             stale(s, 0, 0644);
             own(s + "/unpacked/data", 0);
         }, "Error, failed to open '@/shared/unpacked/data/a.txt' for writing (the folder "
            "'@/shared/unpacked/data' belongs to another user).\n"},
        {"the user's own symlink on the way (a linked ~/.cache)", [&](auto& s, auto&) {
             make_dirs(s + "/../real");
             own(s + "/../real", USER);
             fs::create_directory_symlink(s + "/../real", s + "/unpacked");
             own(s + "/unpacked", USER);
         }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        Scratch dir;
        chmod(dir.path().c_str(), 0755);
        std::string shared = dir / "shared", victim = dir / "victim", out = dir / "out";
        make_dirs(shared);
        chmod(shared.c_str(), 01777);
        make_dirs(victim);
        write_file(victim + "/file", "victim's");
        make_dirs(out);
        own(victim, USER);
        own(victim + "/file", USER);
        own(out, USER);
        std::string exe = stage(p, "t_basic", shared);
        c.make(shared, victim);
        std::string err = std::regex_replace(c.err, std::regex("@"), dir.path());
        for (int start = 0; start < (err.empty() ? 2 : 1); start++) {
            Result r = run_as_user(p, exe, {.env = {{"PROBE_OUT", out + "/report.txt"}}, .timeout_ms = 20000}, c.umask);
            EXPECT_FALSE(r.timed_out);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, err);
            EXPECT_EQ(r.code, err.empty() ? 0 : 2);
        }
        EXPECT_EQ(list_dir(victim), std::vector<std::string>{"file"});
        EXPECT_EQ(read_file(victim + "/file"), "victim's");
        if (!err.empty()) {
            EXPECT_FALSE(exists(out + "/report.txt"));
            continue;
        }
        struct stat st;
        EXPECT_TRUE(lstat((shared + "/unpacked/data/a.txt").c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                    st.st_uid == USER) << "not replaced by a regular file of the user";
        EXPECT_TRUE(lstat((shared + "/unpacked/.kay:lock").c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                    st.st_uid == USER && (st.st_mode & 07777) == 0600) << "lock";
        for (const auto& e : fs::recursive_directory_iterator(shared + "/unpacked/"))
            if (e.is_directory()) EXPECT_EQ(e.status().permissions() & fs::perms(022), fs::perms::none) << e.path();
        EXPECT_TRUE(files_of(shared + "/unpacked") == expected_files(p, "basic"));
    }
}

// An install the user may not write to (another user's launcher, root's
// files): the warm start writes nothing and starts the program, locked in
// the user's private folder for locks, or unlocked (nothing is written).
TEST(HostileTargets, ReadOnlyInstallStartsWritingNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a launcher as another user";
    const Platform p = native();
    Scratch dir;
    chmod(dir.path().c_str(), 0755);
    std::string exe = stage(p, "t_basic", dir.path());
    ASSERT_EQ(run(p, exe).code, 0);
    age(dir / "unpacked");
    auto before = snapshot(dir / "unpacked");
    make_dirs(dir / "run");
    own(dir / "run", USER, 0700);
    for (const std::string runtime : {dir / "run", std::string()}) {
        Result r = run_as_user(p, exe, {.env = {{"XDG_RUNTIME_DIR", runtime}}});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(snapshot(dir / "unpacked"), before);
    }
    EXPECT_EQ(list_dir(dir / "run").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Launchers, Unpack, ::testing::ValuesIn(platforms()), platform_name);

}  // namespace
