// Target directory specifications seen from outside: the failure message
// and exit code, build-time constants and the real folders in the expanded
// path, and the default specification in the user's cache folder. The
// expansion rules are unit-tested (tests/unit/pathspec_test.cpp).
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "harness.h"

using namespace kay_test;

namespace {

class PathSpec : public ::testing::TestWithParam<Platform> {};

// A specification that does not expand (an unknown token, 4096
// characters) is reported unexpanded; one of 4095 characters expands, but
// no entry path fits beneath it (under Wine the full path with its drive
// does not fit already): an abnormal end without a message. Either way
// exit code 3 and nothing created.
TEST_P(PathSpec, FailuresEndWithExitThreeAndCreateNothing) {
    const Platform& p = GetParam();
    const std::string sep(1, p.sep());
    const std::pair<const char*, std::string> cases[] = {
        {"t_spec_nosuch", "{PROGRAM_DIR}" + sep + "{NOSUCH}"},
        {"t_spec_4096", sep + std::string(4095, 'a')},
        {"t_spec_4095", ""},
    };
    for (const auto& [launcher, spec] : cases) {
        SCOPED_TRACE(launcher);
        Scratch dir;
        std::string exe = stage(p, launcher, dir.path());
        auto before = snapshot(dir.path());
        Result r = run(p, exe, {.cwd = dir.path()});
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.err, spec.empty() ? "" : "Error, couldn't runtime expand spec '" + spec + "'." + p.eol());
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(snapshot(dir.path()), before);
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

TEST_P(PathSpec, ProgramBaseDropsAnExeExtension) {
    const Platform& p = GetParam();
    // Launcher "tool" with the target spec {PROGRAM_BASE}.d/{PID}.
    Scratch dir;
    std::string exe = stage(p, "tool", dir.path(), "tool.EXE");
    Result r = run(p, exe);
    ASSERT_EQ(r.code, 0) << r.err;
    ProbeReport probe = parse_probe(r.out);
    std::string target = dir / "tool.d/" + probe.fields["ppid"];
    EXPECT_EQ(probe.fields["self"], p.path(target + "/" + p.exe("probe")));
    EXPECT_TRUE(exists(target + "/" + p.exe("probe")));
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
        // KAY_CACHE_DIR is the cache folder, walked as any target (by another
        // user when run as root).
        make_dirs(dir / "open");
        chmod(dir.path().c_str(), 0755);
        chmod((dir / "open").c_str(), 0777);
        env["KAY_CACHE_DIR"] = dir / "open/c";
        std::vector<std::string> as_other{"--reuid=23456", "--regid=23456", "--clear-groups", exe};
        r = geteuid() != 0 ? run(p, exe, {.env = env}) : run(p, "setpriv", {.args = as_other, .env = env});
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err, "Error, unsafe target directory '" + dir / "open" + "' (writable by every user and not sticky).\n");
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
    r = run(p, exe, {.env = {{"KAY_CACHE_DIR", p.path(dir / "kc")}}});
    EXPECT_EQ(parse_probe(r.out).fields["self"], p.path(dir / "kc/Dorvan/Velmora/1.0.0.0/probe.exe"));
}

INSTANTIATE_TEST_SUITE_P(Launchers, PathSpec, ::testing::ValuesIn(platforms()), platform_name);

}  // namespace
