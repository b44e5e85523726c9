// Path specification expansion through the system seam: every token, the
// trailing-separator rule, room checks, the shared generated values, the
// pure formatting functions, the target directory's canonicalisation and
// the POSIX backend's folders and clock.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <string>

#include "bootstrap/bootstrap.h"
#include "pathspec/expand.h"
#include "pathspec/token_values.h"
#include "platform/env_value.h"
#include "platform/platform.h"
#include "fake_system.h"

namespace {

// The fake system behind the seam, its parts by shorter names.
kay_test::FakeSystem g_sys;
auto& g_env = g_sys.env;
auto& g_program = g_sys.module_path;
auto& g_temp = g_sys.temp;
auto& g_home = g_sys.home;
auto& g_cache = g_sys.cache;
auto& g_pid = g_sys.pid;
auto& g_time = g_sys.time;
auto& g_counter = g_sys.counter;

class Expand : public ::testing::Test {
protected:
    void SetUp() override {
        g_env.clear();
        g_program = "/opt/app/tool";
        g_temp = "/var/tmp/";
        g_home = "/home/u";
        g_cache = "/home/u/.cache";
        g_pid = 777;
        g_time = 133000000001234567ULL;
        g_counter = 0x123456789ULL;
        g_sys.install();
    }
    void TearDown() override { kay_sys_restore_all(); }

    // Expands into a buffer of `capacity` units; the output after the call.
    static std::string expand(const std::string& spec, bool expect_ok = true, std::int32_t capacity = 4096) {
        static char out[8192];
        std::memset(out, 'Z', sizeof out);
        // The context a run would make: the constants and the own path.
        static kay_launch_context run;
        load_launch_data(&run.data);
        fetch_own_path(&run.own_path);
        bool ok = expand_path_spec(run, out, spec.c_str(), capacity);
        EXPECT_EQ(ok, expect_ok) << "spec '" << spec << "'";
        std::string s(out);
        EXPECT_LT(s.size(), static_cast<std::size_t>(capacity)) << "spec '" << spec << "'";
        return s;
    }
};

TEST_F(Expand, LiteralTextBracesAndTokenNames) {
    EXPECT_EQ(expand(""), "");
    EXPECT_EQ(expand("plain/text\\kept"), "plain/text\\kept");
    // A token left open is dropped; a second opening brace restarts the name.
    EXPECT_EQ(expand("abc{VERSION"), "abc");
    EXPECT_EQ(expand("{X{VERSION}"), "1.0.0.0");
    EXPECT_EQ(expand("a{{VERSION}b"), "a1.0.0.0b");
    // A closing brace outside a token is literal text.
    EXPECT_EQ(expand("a}b{VERSION}}"), "a}b1.0.0.0}");
    // Names match without regard to case.
    EXPECT_EQ(expand("{company}-{Product}-{vErSiOn}-{file_version}-{PRODUCT_version}"),
              "Dorvan-Velmora Classic-1.0.0.0-1.0.0.0-1.0.0.0");
    EXPECT_EQ(expand("{program_dir}|{Program_Base}|{pRoGrAm}"), "/opt/app|/opt/app/tool|/opt/app/tool");
}

TEST_F(Expand, UnknownOrEmptyNameFailsKeepingTheTextBefore) {
    EXPECT_EQ(expand("ab{NOSUCH}cd", false), "ab");
    EXPECT_EQ(expand("{VERSION}/{}x", false), "1.0.0.0/");
    EXPECT_EQ(expand("{TEMPX}", false), "");
    EXPECT_EQ(expand("{ TEMP}", false), "");
    // A name longer than the name buffer can never be a token.
    EXPECT_EQ(expand("v{" + std::string(2000, 'x') + "}", false), "v");
    EXPECT_EQ(expand("v{" + std::string(2000, 'x') + "{VERSION}"), "v1.0.0.0");
}

TEST_F(Expand, TempInAnyCaseLosesItsTrailingSeparators) {
    EXPECT_EQ(expand("{TEMP}/x"), "/var/tmp/x");
    EXPECT_EQ(expand("{temp}/x"), "/var/tmp/x");
    EXPECT_EQ(expand("{Temp}"), "/var/tmp");
    g_temp = "/var/tmp///";
    EXPECT_EQ(expand("{TEMP}|"), "/var/tmp|");
}

TEST_F(Expand, TempUnavailableOrTooLongContributesNothingButTheRuleStillApplies) {
    g_temp.reset();
    // The rule looks at the whole output: the literal's separators go too.
    EXPECT_EQ(expand("D:/{TEMP}"), "D:");
    EXPECT_EQ(expand("D://{TEMP}/x"), "D:/x");
    EXPECT_EQ(expand("//{TEMP}"), "");
    g_temp = "/a/very/long/temporary/folder/";
    EXPECT_EQ(expand("ab/{TEMP}", true, 16), "ab");
    EXPECT_EQ(expand("ab/{TEMP}", true, 64), "ab//a/very/long/temporary/folder");
}

TEST_F(Expand, HomeAndCacheNeverEndInASeparator) {
    g_home = "/home/u/";
    g_cache = "/c//";
    EXPECT_EQ(expand("{HOME}"), "/home/u");
    // A separator written after the token stays.
    EXPECT_EQ(expand("{HOME}/"), "/home/u/");
    EXPECT_EQ(expand("{CACHE_DIR}/Dorvan/Velmora/{VERSION}"), "/c/Dorvan/Velmora/1.0.0.0");
    EXPECT_EQ(expand("x/{home}"), "x//home/u");
    g_home.reset();
    EXPECT_EQ(expand("a{HOME}b", false), "a");
    g_cache.reset();
    EXPECT_EQ(expand("a{CACHE_DIR}b", false), "a");
    g_env["KAY_CACHE_DIR"] = "k";  // not absolute: as if unset
    EXPECT_EQ(expand("a{CACHE_DIR}b", false), "a");
    g_env["KAY_CACHE_DIR"] = "/k//";
    EXPECT_EQ(expand("a{CACHE_DIR}b"), "a/kb");
}

TEST_F(Expand, ProgramBaseAndDir) {
    g_program = "/app/tool.EXE";
    EXPECT_EQ(expand("{PROGRAM_BASE}"), "/app/tool");
    EXPECT_EQ(expand("{PROGRAM_DIR}"), "/app");
    g_program = "/app/tool.exe.bin";
    EXPECT_EQ(expand("{PROGRAM_BASE}"), "/app/tool.exe.bin");
    g_program = "/app/tool.bin";
    EXPECT_EQ(expand("{PROGRAM_BASE}"), "/app/tool.bin");
    EXPECT_EQ(expand("{PROGRAM_DIR}/x"), "/app/x");
    // A launcher at the root: the directory is everything before the last
    // separator, which is nothing here.
    g_program = "/tool.exe";
    EXPECT_EQ(expand("[{PROGRAM_DIR}]"), "[]");
    EXPECT_EQ(expand("{PROGRAM_BASE}"), "/tool");
    g_program = ".exe";
    EXPECT_EQ(expand("[{PROGRAM_BASE}]"), "[]");
    g_program = "exe";
    EXPECT_EQ(expand("[{PROGRAM_BASE}|{PROGRAM_DIR}]"), "[exe|exe]");
    // The value is appended after literal text already in the output.
    g_program = "/a/b/c.exe";
    EXPECT_EQ(expand("x/{PROGRAM_DIR}/{PROGRAM_BASE}"), "x//a/b//a/b/c");
}

TEST_F(Expand, ProgramUnavailableFailsEveryProgramToken) {
    g_program.reset();
    for (const char* t : {"{PROGRAM}", "{PROGRAM_BASE}", "{PROGRAM_DIR}"}) {
        EXPECT_EQ(expand(std::string("pre/") + t + "/post", false), "pre/") << t;
    }
}

TEST_F(Expand, ProgramIsCutShortByTheRoom) {
    g_program = "/a/very/long/launcher/path.exe";
    // 16 units: "ab" and 13 characters of the path, terminated.
    EXPECT_EQ(expand("ab{PROGRAM}", true, 16), "ab/a/very/long/");
    // The literal after it then finds no room.
    EXPECT_EQ(expand("ab{PROGRAM}c", false, 16), "ab/a/very/long/");
    // The shortened path is then cut at its last separator.
    EXPECT_EQ(expand("ab{PROGRAM_DIR}", true, 16), "ab/a/very/long");
}

TEST_F(Expand, PidFromTheVariableOrTheProcess) {
    g_env["KOLVEX_ONEFILE_PARENT"] = "4242";
    EXPECT_EQ(expand("p{PID}"), "p4242");
    g_env.erase("KOLVEX_ONEFILE_PARENT");
    g_pid = 31337;
    EXPECT_EQ(expand("{pid}-{PID}"), "31337-31337");
    // PID never stores anything.
    EXPECT_EQ(g_env.count("KOLVEX_ONEFILE_PARENT"), 0u);
}

TEST_F(Expand, PidVariableWithANonDigitIsAnAbnormalEnd) {
    g_env["KOLVEX_ONEFILE_PARENT"] = "42a";
    EXPECT_EXIT(expand("{PID}"), ::testing::ExitedWithCode(3), "");
    g_env["KOLVEX_ONEFILE_PARENT"] = "-42";
    EXPECT_EXIT(expand("{PID}"), ::testing::ExitedWithCode(3), "");
}

TEST_F(Expand, RandomIsGeneratedOnceStoredAndReused) {
    std::string s = expand("{RANDOM}-{random}");
    ASSERT_EQ(s.size(), 23u) << s;
    std::string word = s.substr(0, 11);
    EXPECT_EQ(s, word + "-" + word);
    EXPECT_EQ(word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos)
        << word;
    EXPECT_EQ(g_env["KOLVEX_ONEFILE_RANDOM"], word);
    // Later expansions in the same process keep the word.
    g_counter ^= 0xFFFF;
    g_pid ^= 0xFF;
    EXPECT_EQ(expand("{RANDOM}"), word);

    // A value found in the environment is used as it is, braces and all.
    g_env["KOLVEX_ONEFILE_RANDOM"] = "{VERSION}";
    EXPECT_EQ(expand("r/{RANDOM}"), "r/{VERSION}");
    EXPECT_EQ(g_env["KOLVEX_ONEFILE_RANDOM"], "{VERSION}");
}

TEST_F(Expand, RandomDependsOnCounterAndProcess) {
    std::string a = expand("{RANDOM}");
    g_env.clear();
    g_counter += 1;
    std::string b = expand("{RANDOM}");
    g_env.clear();
    g_pid += 1;
    std::string c = expand("{RANDOM}");
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
}

TEST_F(Expand, TimeAndTimeUsFromTheClockAreStoredAndReused) {
    EXPECT_EQ(expand("{TIME}-{TIME_US}"), "133000000001234567-123456");
    EXPECT_EQ(g_env["KOLVEX_ONEFILE_START"], "133000000001234567");
    EXPECT_EQ(g_env["KOLVEX_ONEFILE_TIME_US"], "123456");
    g_time = 133000000000000420ULL;
    EXPECT_EQ(expand("{time}-{time_us}"), "133000000001234567-123456");
    g_env.clear();
    EXPECT_EQ(expand("{time_us}/{time}"), "000042/133000000000000420");
    // Inherited values are used verbatim, never checked or rewritten.
    g_env["KOLVEX_ONEFILE_START"] = "start";
    g_env["KOLVEX_ONEFILE_TIME_US"] = "us";
    EXPECT_EQ(expand("{TIME}{TIME_US}"), "startus");
    EXPECT_EQ(g_env["KOLVEX_ONEFILE_START"], "start");
    EXPECT_EQ(g_env["KOLVEX_ONEFILE_TIME_US"], "us");
}

TEST(TokenValues, RandomWordOfFixedSeeds) {
    char word[12];
    random_word(1, word);
    EXPECT_STREQ(word, "IQHFT9HQGrI");
    random_word(0, word);
    EXPECT_STREQ(word, "IQHFT9HQGrI");
    random_word(2, word);
    EXPECT_STREQ(word, "QgKCBhojWbY");
}

TEST(TokenValues, TimeFormats) {
    char text[24];
    format_time(133000000001234567ULL, text);
    EXPECT_STREQ(text, "133000000001234567");
    format_time(0, text);
    EXPECT_STREQ(text, "0");
    char us[8];
    format_time_us(133000000001234567ULL, us);
    EXPECT_STREQ(us, "123456");
    format_time_us(133000000000000420ULL, us);
    EXPECT_STREQ(us, "000042");
    format_time_us(133000000009999999ULL, us);
    EXPECT_STREQ(us, "999999");
}

TEST_F(Expand, LiteralRoomDecidesSuccessAtTheCapacity) {
    std::string a4095(4095, 'a');
    EXPECT_EQ(expand(a4095), a4095);
    // One more: the expansion fails with the 4095 characters that fit.
    EXPECT_EQ(expand(a4095 + "b", false), a4095);
    EXPECT_EQ(expand("abcd", false, 4), "abc");
    EXPECT_EQ(expand("abc", true, 4), "abc");
    EXPECT_EQ(expand("{VERSION}", true, 8), "1.0.0.0");
}

TEST_F(Expand, TokenValueCrossingTheCapacityIsAnAbnormalEnd) {
    // 4088 + 7 characters fit exactly; one more literal character does not.
    EXPECT_EQ(expand(std::string(4088, 'a') + "{VERSION}"), std::string(4088, 'a') + "1.0.0.0");
    EXPECT_EXIT(expand(std::string(4089, 'a') + "{VERSION}"), ::testing::ExitedWithCode(3), "");
    g_home = "/home/u";
    EXPECT_EXIT(expand("{HOME}", true, 7), ::testing::ExitedWithCode(3), "");
    g_env["KOLVEX_ONEFILE_RANDOM"] = std::string(100, 'r');
    EXPECT_EXIT(expand("{RANDOM}", true, 100), ::testing::ExitedWithCode(3), "");
}

TEST_F(Expand, EnvironmentValueIsACopyAndEmptyCountsAsUnset) {
    g_env["KOLVEX_ONEFILE_RANDOM"] = "value";
    char* v = get_env_value("KOLVEX_ONEFILE_RANDOM");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "value");
    char* w = get_env_value("KOLVEX_ONEFILE_RANDOM");
    EXPECT_NE(v, w);
    std::free(v);
    std::free(w);
    g_env["KOLVEX_ONEFILE_RANDOM"] = "";
    EXPECT_EQ(get_env_value("KOLVEX_ONEFILE_RANDOM"), nullptr);
    EXPECT_EQ(get_env_value("KOLVEX_ONEFILE_NOT_SET"), nullptr);
    // The longest value the system allows is read; a longer one is none.
    g_env["LONG"] = std::string(32767, 'v');
    char* l = get_env_value("LONG");
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(std::string(l), g_env["LONG"]);
    std::free(l);
    g_env["LONG"] = std::string(32768, 'v');
    EXPECT_EQ(get_env_value("LONG"), nullptr);
}

// canonicalise_target_dir with the POSIX full-path conversion.
std::string canonical(const std::string& dir) {
    static char target[4096];
    std::strcpy(target, dir.c_str());
    canonicalise_target_dir(target);
    return target;
}

TEST(Canonicalise, ResolvesAgainstTheCurrentDirectory) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string here = cwd;
    // The folding itself: paths_test.cpp.
    EXPECT_EQ(canonical("/home/u/.cache/Dorvan/Velmora/1.0.0.0"), "/home/u/.cache/Dorvan/Velmora/1.0.0.0");
    EXPECT_EQ(canonical("a/./b/../c/"), here + "/a/c/");
}

TEST(Canonicalise, FailureOrNoRoomIsAnAbnormalEnd) {
    // An empty target directory has no full path.
    EXPECT_EXIT(canonical(""), ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(canonical("/" + std::string(4094, 'a')), "/" + std::string(4094, 'a'));
    // Relative: the current directory makes it exactly fit, or too long.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string fits(4094 - std::strlen(cwd), 'a');
    EXPECT_EQ(canonical(fits), std::string(cwd) + "/" + fits);
    EXPECT_EXIT(canonical(fits + "a"), ::testing::ExitedWithCode(3), "");
}

// The POSIX backend's folders, read from this process's own environment.
class PosixFolders : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"HOME", "XDG_CACHE_HOME", "TMPDIR"}) {
            const char* v = std::getenv(name);
            saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
        }
    }
    void TearDown() override {
        for (const auto& [name, v] : saved_) {
            if (v) setenv(name.c_str(), v->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }
    static std::optional<std::string> folder(kay_folder which) {
        char out[260];
        if (!kay_sys_default.user_folder(which, out, sizeof out)) return std::nullopt;
        return std::string(out);
    }
    static std::optional<std::string> temp() {
        char out[64];
        std::memset(out, 'Z', sizeof out);
        std::uint32_t n = kay_sys_default.temp_path(out, sizeof out);
        if (n == 0 || n >= sizeof out) return std::nullopt;
        EXPECT_EQ(std::strlen(out), n);
        return std::string(out);
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(PosixFolders, HomeFromTheVariableElseThePasswordDatabase) {
    setenv("HOME", "/some/home", 1);
    EXPECT_EQ(folder(KAY_FOLDER_HOME), "/some/home");
    struct passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    unsetenv("HOME");
    EXPECT_EQ(folder(KAY_FOLDER_HOME), std::string(pw->pw_dir));
    setenv("HOME", "", 1);
    EXPECT_EQ(folder(KAY_FOLDER_HOME), std::string(pw->pw_dir));
    // A folder longer than the system's path limit is not available.
    setenv("HOME", ("/" + std::string(300, 'h')).c_str(), 1);
    EXPECT_EQ(folder(KAY_FOLDER_HOME), std::nullopt);
}

TEST_F(PosixFolders, CacheFromAnAbsoluteXdgCacheHomeElseHomeDotCache) {
    setenv("HOME", "/some/home", 1);
    setenv("XDG_CACHE_HOME", "/xdg/cache", 1);
    EXPECT_EQ(folder(KAY_FOLDER_CACHE), "/xdg/cache");
    setenv("XDG_CACHE_HOME", "relative/cache", 1);
    EXPECT_EQ(folder(KAY_FOLDER_CACHE), "/some/home/.cache");
    setenv("XDG_CACHE_HOME", "", 1);
    EXPECT_EQ(folder(KAY_FOLDER_CACHE), "/some/home/.cache");
    unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(folder(KAY_FOLDER_CACHE), "/some/home/.cache");
    unsetenv("HOME");
    struct passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(folder(KAY_FOLDER_CACHE), std::string(pw->pw_dir) + "/.cache");
}

TEST_F(PosixFolders, TempFromTmpdirElseTmpWithATrailingSeparator) {
    setenv("TMPDIR", "/scratch/t", 1);
    EXPECT_EQ(temp(), "/scratch/t/");
    setenv("TMPDIR", "/scratch/t/", 1);
    EXPECT_EQ(temp(), "/scratch/t/");
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(temp(), "/tmp/");
    unsetenv("TMPDIR");
    EXPECT_EQ(temp(), "/tmp/");
    // Too long for the room: nothing usable.
    setenv("TMPDIR", ("/" + std::string(100, 't')).c_str(), 1);
    EXPECT_EQ(temp(), std::nullopt);
}

TEST(PosixClock, SystemTimeCountsHundredNanosecondsSince1601) {
    std::uint64_t before = static_cast<std::uint64_t>(std::time(nullptr));
    std::uint64_t count = kay_sys_default.system_time();
    std::uint64_t after = static_cast<std::uint64_t>(std::time(nullptr));
    // 369 years of 100-ns intervals lie between 1601 and 1970.
    std::uint64_t unix_seconds = (count - 116444736000000000ULL) / 10000000ULL;
    EXPECT_GE(unix_seconds, before);
    EXPECT_LE(unix_seconds, after);
}

}  // namespace
