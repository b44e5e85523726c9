// What a launcher hands its child: its own process id, its own folder, its
// argv[0] as started, its current directory, its full path as the first
// argument, and the generated values that named its target directory,
// never values inherited from its parent.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "harness.h"

using namespace kay_test;

namespace {

class Handover : public ::testing::TestWithParam<Platform> {};

bool all_digits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Values an outer run would have left in the environment.
const std::map<std::string, std::optional<std::string>> INHERITED = {
    {"KOLVEX_ONEFILE_START", "133000000000000000"},
    {"KOLVEX_ONEFILE_TIME_US", "000000"},
    {"KOLVEX_ONEFILE_RANDOM", "inheritedXX"},
    {"KOLVEX_ONEFILE_PARENT", "1"},
    {"KOLVEX_ONEFILE_DIRECTORY", "/inherited"},
    {"KOLVEX_ORIGINAL_ARGV0", "inherited"},
};

TEST_P(Handover, ChildSeesLauncherIdFolderAndArgv0AndNoInheritedValues) {
    const Platform& p = GetParam();
    Scratch dir;
    make_dirs(dir / "app");
    make_dirs(dir / "work");
    std::string exe = stage(p, "t_basic", dir / "app");
    // Started by a relative path from another folder. Wine turns a path it
    // is given into the full one, so there the launcher is started by the
    // Windows shell, which passes the name as typed.
    RunOptions options{.args = {"x y"}, .env = INHERITED, .cwd = dir / "work"};
    std::string program = "../app/t_basic", argv0 = program;
    if (p.windows) {
        program = "cmd";
        argv0 = "..\\app\\t_basic";
        options.args = {"/c", argv0, "x y"};
    }
    Result r = run(p, program, options);
    ASSERT_EQ(r.code, 0) << r.err;
    ProbeReport probe = parse_probe(r.out);

    // The child's parent is the launcher; it starts in the launcher's
    // current directory.
    ASSERT_TRUE(probe.env["KOLVEX_ONEFILE_PARENT"].has_value());
    EXPECT_TRUE(all_digits(*probe.env["KOLVEX_ONEFILE_PARENT"])) << *probe.env["KOLVEX_ONEFILE_PARENT"];
    EXPECT_EQ(probe.env["KOLVEX_ONEFILE_PARENT"], probe.fields["ppid"]);
    EXPECT_NE(probe.fields["ppid"], "0");
    EXPECT_EQ(probe.fields["cwd"], p.path(dir / "work"));

    // Where the launcher lies, not where it unpacked.
    EXPECT_EQ(probe.env["KOLVEX_ONEFILE_DIRECTORY"], p.path(dir / "app"));
    EXPECT_EQ(probe.fields["self"], p.path(dir / "app/unpacked/" + p.exe("probe")));

    // argv[0] as started, while the child's own first argument is the
    // launcher's full path.
    EXPECT_EQ(probe.env["KOLVEX_ORIGINAL_ARGV0"], argv0);
    EXPECT_EQ(probe.args, (std::vector<std::string>{p.path(exe), "x y"}));

    // The target spec uses no generated value, so none reaches the child.
    EXPECT_EQ(probe.env["KOLVEX_ONEFILE_START"], std::nullopt);
    EXPECT_EQ(probe.env["KOLVEX_ONEFILE_TIME_US"], std::nullopt);
    EXPECT_EQ(probe.env["KOLVEX_ONEFILE_RANDOM"], std::nullopt);
    // Through a link of another name the launcher is that name, as a copy is.
    if (p.windows) return;
    std::filesystem::create_symlink(exe, dir / "work/zstdcat");
    probe = parse_probe(run(p, dir / "work/zstdcat").out);
    EXPECT_EQ(probe.args, (std::vector<std::string>{dir / "work/zstdcat"}));
    EXPECT_EQ(probe.env["KOLVEX_ONEFILE_DIRECTORY"], dir / "work");
    EXPECT_EQ(probe.fields["self"], dir / "work/unpacked/probe");
}

// 100-nanosecond intervals since 1601-01-01 now.
std::int64_t now_1601() {
    auto since_1970 = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return 116444736000000000LL + since_1970.count() * 10;
}

TEST_P(Handover, GeneratedValuesThatNamedTheTargetAreHandedOn) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_generated", dir.path());
    std::vector<std::string> words;
    for (int i = 0; i < 2; i++) {
        std::int64_t before = now_1601();
        Result r = run(p, exe, {.env = INHERITED});
        std::int64_t after = now_1601();
        ASSERT_EQ(r.code, 0) << r.err;
        ProbeReport probe = parse_probe(r.out);
        auto random = probe.env["KOLVEX_ONEFILE_RANDOM"], time = probe.env["KOLVEX_ONEFILE_START"],
             time_us = probe.env["KOLVEX_ONEFILE_TIME_US"], pid = probe.env["KOLVEX_ONEFILE_PARENT"];
        ASSERT_TRUE(random && time && time_us && pid);

        // The target directory is {PROGRAM_DIR}/g/{RANDOM}-{TIME}-{TIME_US}-{PID}.
        std::string name = *random + "-" + *time + "-" + *time_us + "-" + *pid;
        std::string folder = dir / "g/" + name;
        EXPECT_EQ(probe.fields["self"], p.path(folder + "/" + p.exe("probe")));
        EXPECT_TRUE(exists(folder + "/" + p.exe("probe"))) << folder;

        EXPECT_EQ(random->size(), 11u);
        EXPECT_EQ(random->find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
                  std::string::npos)
            << *random;
        ASSERT_TRUE(all_digits(*time)) << *time;
        EXPECT_EQ(time->size(), 18u);
        // The launcher's clock reading lies within the run (1 s of slack
        // for clocks that tick coarsely).
        std::int64_t t = std::stoll(*time);
        EXPECT_GE(t, before - 10000000) << *time;
        EXPECT_LE(t, after + 10000000) << *time;
        EXPECT_TRUE(all_digits(*time_us) && time_us->size() == 6) << *time_us;
        EXPECT_EQ(*pid, probe.fields["ppid"]);
        words.push_back(*random);
    }
    EXPECT_NE(words[0], words[1]);
}

INSTANTIATE_TEST_SUITE_P(Launchers, Handover, ::testing::ValuesIn(platforms()), platform_name);

}  // namespace
