// Target directory specifications seen from outside: the failure message,
// the tokens and their edge cases, the length limit and the default
// specification in the user's cache folder.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <string>

#include "harness.h"

using namespace kay_test;

namespace {

class PathSpec : public ::testing::TestWithParam<Platform> {};

std::string line(const Platform& p, const std::string& text) { return text + (p.windows ? "\r\n" : "\n"); }

TEST_P(PathSpec, UnknownOrEmptyTokenIsReportedWithTheUnexpandedSpec) {
    const Platform& p = GetParam();
    std::string sep(1, p.sep());
    for (auto [launcher, spec] : {std::pair<std::string, std::string>{"t_spec_nosuch", "{PROGRAM_DIR}" + sep + "{NOSUCH}"},
                                  {"t_spec_empty_token", "{PROGRAM_DIR}" + sep + "{}"}}) {
        Scratch dir;
        std::string exe = stage(p, launcher, dir.path());
        auto before = snapshot(dir.path());
        Result r = run(p, exe);
        EXPECT_EQ(r.code, 3) << launcher;
        EXPECT_EQ(r.err, line(p, "Error, couldn't runtime expand spec '" + spec + "'.")) << launcher;
        EXPECT_EQ(r.out, "") << launcher;
        EXPECT_EQ(snapshot(dir.path()), before) << launcher;
    }
}

// {PROGRAM_DIR}/{temp}{Temp}/abc{X{VERSION}{COMPANY}-{PRODUCT}-{FILE_VERSION}-{PRODUCT_VERSION}/x{VERSION
// with COMPANY Acme, PRODUCT Road Runner, VERSION 2.5, FILE_VERSION 2.5.1,
// PRODUCT_VERSION 2.6.
TEST_P(PathSpec, TokensInAnyCaseRestartedAndUnclosed) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_spec_tokens", dir.path());
    // The temporary folder enters without its trailing separators. (Wine
    // keeps its own and needs TMPDIR for itself.)
    RunOptions options;
    if (!p.windows) options.env["TMPDIR"] = "/kt//";
    Result r = run(p, exe, options);
    ASSERT_EQ(r.code, 0) << r.err;
    ProbeReport probe = parse_probe(r.out);
    const std::string tail = "abc2.5Acme-Road Runner-2.5.1-2.6" + std::string(1, p.sep()) + "x" +
                             std::string(1, p.sep()) + p.exe("probe");
    if (!p.windows) {
        std::string folder = dir / "kt/kt/abc2.5Acme-Road Runner-2.5.1-2.6/x";
        EXPECT_EQ(probe.fields["self"], folder + "/probe");
        EXPECT_TRUE(exists(folder + "/probe"));
        return;
    }
    // Under Wine the temporary folder is the prefix's own (C:\users\...):
    // {PROGRAM_DIR}\T T\abc... with T twice, never ending in a backslash.
    std::string self = probe.fields["self"];
    std::string head = p.path(dir.path()) + "\\";
    ASSERT_EQ(self.rfind(head, 0), 0u) << self;
    ASSERT_GT(self.size(), head.size() + tail.size() + 1);
    ASSERT_EQ(self.substr(self.size() - tail.size() - 1), "\\" + tail) << self;
    std::string twice = self.substr(head.size(), self.size() - head.size() - tail.size() - 1);
    ASSERT_EQ(twice.size() % 2, 0u) << twice;
    std::string temp = twice.substr(0, twice.size() / 2);
    EXPECT_EQ(twice, temp + temp);
    EXPECT_EQ(temp.rfind("C:\\", 0), 0u) << temp;
    EXPECT_NE(temp.back(), '\\') << temp;
}

TEST_P(PathSpec, ProgramBaseDropsOnlyAnExeExtension) {
    const Platform& p = GetParam();
    // Launcher "tool" with the target spec {PROGRAM_BASE}.d/{PID}.
    for (auto [name, folder] : {std::pair<std::string, std::string>{"tool.EXE", "tool.d"},
                                {"tool.bin", "tool.bin.d"},
                                {"tool", "tool.d"}}) {
        Scratch dir;
        std::string exe = stage(p, "tool", dir.path(), name);
        Result r = run(p, exe);
        ASSERT_EQ(r.code, 0) << name << ": " << r.err;
        ProbeReport probe = parse_probe(r.out);
        std::string pid = probe.fields["ppid"];
        EXPECT_EQ(probe.env["KOLVEX_ONEFILE_PARENT"], pid) << name;
        std::string target = dir / folder + "/" + pid;
        EXPECT_EQ(probe.fields["self"], p.path(target + "/" + p.exe("probe"))) << name;
        EXPECT_TRUE(exists(target + "/" + p.exe("probe"))) << name;
    }
}

TEST_P(PathSpec, LengthLimitOfTheTargetDirectory) {
    const Platform& p = GetParam();
    Scratch dir;
    // 4095 characters expand, but no entry path fits beneath them (under
    // Wine the full path with its drive does not fit already): an abnormal
    // end without a message.
    std::string exe = stage(p, "t_spec_4095", dir.path());
    auto before = snapshot(dir.path());
    Result r = run(p, exe, {.cwd = dir.path()});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(snapshot(dir.path()), before);

    // 4096 characters do not expand.
    exe = stage(p, "t_spec_4096", dir.path());
    before = snapshot(dir.path());
    r = run(p, exe, {.cwd = dir.path()});
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, line(p, "Error, couldn't runtime expand spec '" + std::string(1, p.sep()) +
                                 std::string(4095, 'a') + "'."));
    EXPECT_EQ(snapshot(dir.path()), before);
}

// Inherited generated values must not reach the child of a launcher whose
// specification uses none.
const std::map<std::string, std::optional<std::string>> INHERITED = {
    {"KOLVEX_ONEFILE_START", "1"}, {"KOLVEX_ONEFILE_TIME_US", "2"}, {"KOLVEX_ONEFILE_RANDOM", "3"}};

void expect_default_child(const ProbeReport& probe, const std::string& launcher_dir) {
    EXPECT_EQ(probe.env.at("KOLVEX_ONEFILE_DIRECTORY"), launcher_dir);
    EXPECT_EQ(probe.env.at("KOLVEX_ONEFILE_START"), std::nullopt);
    EXPECT_EQ(probe.env.at("KOLVEX_ONEFILE_TIME_US"), std::nullopt);
    EXPECT_EQ(probe.env.at("KOLVEX_ONEFILE_RANDOM"), std::nullopt);
}

TEST_P(PathSpec, DefaultSpecUnpacksIntoTheUserCacheFolder) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_default", dir.path());
    if (!p.windows) {
        auto env = INHERITED;
        env["XDG_CACHE_HOME"] = dir / "cache";
        env["HOME"] = dir / "home";
        make_dirs(dir / "home");
        Result r = run(p, exe, {.env = env});
        ASSERT_EQ(r.code, 0) << r.err;
        ProbeReport probe = parse_probe(r.out);
        EXPECT_EQ(probe.fields["self"], dir / "cache/Dorvan/Velmora/1.0.0.0/probe");
        EXPECT_TRUE(exists(dir / "cache/Dorvan/Velmora/1.0.0.0/probe"));
        expect_default_child(probe, dir.path());

        // A relative XDG_CACHE_HOME is not a cache folder: $HOME/.cache is.
        env["XDG_CACHE_HOME"] = "cache";
        r = run(p, exe, {.env = env, .cwd = dir.path()});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(parse_probe(r.out).fields["self"], dir / "home/.cache/Dorvan/Velmora/1.0.0.0/probe");
        EXPECT_TRUE(exists(dir / "home/.cache/Dorvan/Velmora/1.0.0.0/probe"));
        return;
    }
    // Under Wine: the prefix user's local application data folder.
    struct passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    std::string user = pw->pw_name;
    std::string local = wine_prefix() + "/drive_c/users/" + user + "/AppData/Local";
    ASSERT_TRUE(exists(local)) << local;
    std::string company = local + "/Dorvan";
    remove_tree(company);
    Result r = run(p, exe, {.env = INHERITED});
    ProbeReport probe = parse_probe(r.out);
    bool unpacked = exists(company + "/Velmora/1.0.0.0/probe.exe");
    remove_tree(company);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(probe.fields["self"], "C:\\users\\" + user + "\\AppData\\Local\\Dorvan\\Velmora\\1.0.0.0\\probe.exe");
    EXPECT_TRUE(unpacked);
    expect_default_child(probe, p.path(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(Launchers, PathSpec, ::testing::ValuesIn(platforms()),
                         [](const auto& info) { return info.param.name(); });

}  // namespace
