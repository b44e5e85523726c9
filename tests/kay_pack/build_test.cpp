// kay-pack build: launchers built in one step for both targets and run as
// real processes (the Windows one under Wine), checked argument errors, a
// failing build step, and the help of every command.
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "harness.h"

namespace fs = std::filesystem;

static std::string hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

static std::string without_cr(std::string s) {
    std::erase(s, '\r');
    return s;
}

class Build : public KayPackTest {
protected:
    void SetUp() override {
        KayPackTest::SetUp();
        fs::create_directories(path("tmp"));
        fs::create_directories(path("out"));
    }
    // kay-pack build with its temporary directory under our scratch dir.
    RunResult build(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        std::vector<std::string> argv{"env", "TMPDIR=" + path("tmp")};
        argv.insert(argv.end(), env.begin(), env.end());
        argv.push_back(KAY_PACK_PATH);
        argv.push_back("build");
        argv.insert(argv.end(), args.begin(), args.end());
        return run(argv);
    }
    // Nothing left behind in the temporary directory, nothing in out/ but `keep`.
    void expect_clean(const std::vector<std::string>& keep = {}) {
        EXPECT_EQ(list_dir(path("tmp")), std::vector<std::string>{});
        EXPECT_EQ(list_dir(path("out")), keep);
    }
};

TEST_F(Build, NativeLauncherRunsTheApplicationAndUnpacksItsFiles) {
    fs::create_directories(path("app/bin"));
    fs::copy_file(KAY_PROBE_PATH, path("app/bin/probe"));
    write_file(path("app/data/readme.txt"), "packed by kay-pack build\n");
    write_file(path("out/launcher"), "old launcher");
    RunResult r = build({path("app"), "--main", "bin/probe", "-o", path("out/launcher"), "--target-spec",
                         "{PROGRAM_DIR}/{COMPANY}/{PRODUCT}/{VERSION}", "--company", "Acme", "--product",
                         "My App", "--version", "2.3"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    std::uintmax_t size = fs::file_size(path("out/launcher"));
    EXPECT_NE(r.out.find(path("out/launcher") + ": native launcher, " + std::to_string(size) + " bytes\n"),
              std::string::npos)
        << r.out;
    expect_clean({"launcher"});
    struct stat st;
    ASSERT_EQ(stat(path("out/launcher").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IXUSR, 0u);

    RunResult child = run({path("out/launcher"), "one", "two words"});
    EXPECT_EQ(child.code, 0) << child.err;
    EXPECT_NE(child.out.find("argc=3\n"), std::string::npos) << child.out;
    EXPECT_NE(child.out.find("arg=" + hex("one") + "\narg=" + hex("two words") + "\n"), std::string::npos) << child.out;
    // The constants given on the command line name the target directory.
    EXPECT_NE(child.out.find("self=" + hex(path("out/Acme/My App/2.3/bin/probe")) + "\n"), std::string::npos)
        << child.out;
    EXPECT_EQ(snapshot(path("out/Acme/My App/2.3")), snapshot(path("app")));
}

TEST_F(Build, WindowsLauncherRunsUnderWineWithItsVersionResource) {
    const char* env_dir = std::getenv("KAY_WIN32_BUILD");
    std::string win32 = env_dir != nullptr ? env_dir : KAY_WIN32_BUILD_DIR;
    std::string probe = win32 + "/tests/kay-probe.exe";
    const char* require = std::getenv("KAY_REQUIRE_WIN32");
    if (!exists(probe)) {
        if (require != nullptr && std::string(require) == "1") FAIL() << "no Windows probe at " << probe;
        GTEST_SKIP() << "no Windows build at " << win32;
    }
    fs::create_directories(path("app"));
    fs::copy_file(probe, path("app/probe.exe"));
    write_file(path("app/data/readme.txt"), "packed for Windows\r\n");
    RunResult r = build({path("app"), "--main", "probe.exe", "-o", path("out/My App.exe"), "--target", "win32",
                         "--target-spec", "{PROGRAM_DIR}\\unpacked", "--company", "Acme", "--product", "My App",
                         "--version", "2.3", "--product-version", "2.3 beta", "--description", "Packed probe",
                         "--icon", KAY_PROBE_ICON, "--quiet"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    expect_clean({"My App.exe"});

    const char* prefix = std::getenv("KAY_WINEPREFIX");
    std::string wine_prefix = prefix != nullptr ? prefix : KAY_BUILD_DIR "/wineprefix";
    std::vector<std::string> wine{"env", "WINEPREFIX=" + wine_prefix, "WINEDEBUG=-all", "wine"};
    std::vector<std::string> argv = wine;
    argv.insert(argv.end(), {path("out/My App.exe"), "one"});
    RunResult child = run(argv);
    std::string out = without_cr(child.out);
    EXPECT_EQ(child.code, 0) << child.err;
    EXPECT_NE(out.find("argc=2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("arg=" + hex("one") + "\n"), std::string::npos) << out;
    std::string self = "Z:" + path("out/unpacked/probe.exe");
    for (char& c : self)
        if (c == '/') c = '\\';
    EXPECT_NE(out.find("self=" + hex(self) + "\n"), std::string::npos) << out;
    EXPECT_EQ(snapshot(path("out/unpacked")), snapshot(path("app")));

    // The version resource as Windows reads it, when the reader was built.
    std::string verinfo = win32 + "/tests/verinfo.exe";
    if (!exists(verinfo)) return;
    argv = wine;
    argv.insert(argv.end(), {verinfo, path("out/My App.exe")});
    RunResult info = run(argv);
    EXPECT_EQ(without_cr(info.out),
              "FileVersionNumber=2.3.0.0\n"
              "ProductVersionNumber=2.3.0.0\n"
              "CompanyName=Acme\n"
              "ProductName=My App\n"
              "FileVersion=2.3\n"
              "ProductVersion=2.3 beta\n"
              "FileDescription=Packed probe\n"
              "OriginalFilename=My App.exe\n"
              "Icon=yes\n");
}

TEST_F(Build, InstalledKayPackUsesThePackageInstalledBesideIt) {
    RunResult install = run({"cmake", "--install", KAY_BUILD_DIR, "--prefix", path("prefix")});
    ASSERT_EQ(install.code, 0) << install.out << install.err;
    write_file(path("app/data/a.txt"), "a");
    fs::copy_file(KAY_PROBE_PATH, path("app/probe"));
    RunResult r = run({"env", "TMPDIR=" + path("tmp"), path("prefix/bin/kay-pack"), "build", path("app"), "--main",
                       "probe", "-o", path("out/launcher"), "--target-spec", "{PROGRAM_DIR}/files", "--keep-build"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    std::string marker = "build directory kept: ";
    std::size_t at = r.out.find(marker);
    ASSERT_NE(at, std::string::npos) << r.out;
    std::string kept = r.out.substr(at + marker.size(), r.out.find('\n', at) - at - marker.size());
    EXPECT_EQ(fs::path(kept).parent_path(), fs::path(path("tmp")));
    std::string cache = read_file(kept + "/build/CMakeCache.txt");
    EXPECT_NE(cache.find("kay_DIR:UNINITIALIZED=" + path("prefix/lib/cmake/kay") + "\n"), std::string::npos);
    EXPECT_FALSE(exists(kept + "/kay-package"));  // no stand-in for the source tree
    RunResult child = run({path("out/launcher")});
    EXPECT_EQ(child.code, 0) << child.err;
    EXPECT_EQ(snapshot(path("out/files")), snapshot(path("app")));
}

TEST_F(Build, BadArgumentsAreReportedBeforeAnythingIsBuilt) {
    write_file(path("app/main"), "#!/bin/sh\n");
    fs::create_directories(path("app/sub"));
    fs::create_symlink("main", path("app/link"));
    write_file(path("outside"), "x");
    std::string app = path("app"), out = path("out/launcher");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {{"--main", "main", "-o", out}, 2, "missing APPDIR (see kay-pack --help)"},
        {{app, "-o", out}, 2, "missing --main RELPATH (see kay-pack --help)"},
        {{app, "--main", "main"}, 2, "missing -o OUT (see kay-pack --help)"},
        {{app, "--main", "main", "-o", out, "--target", "win64"}, 2,
         "unknown target 'win64' (native or win32) (see kay-pack --help)"},
        {{app, "--main", "main", "-o", out, "--company", "two\nlines"}, 2,
         "option --company must not contain control characters (see kay-pack --help)"},
        {{app, "--main", "main", "-o", out, "--frobnicate"}, 2, "unknown option '--frobnicate' (see kay-pack --help)"},
        {{path("none"), "--main", "main", "-o", out}, 1,
         "application directory '" + path("none") + "': No such file or directory"},
        {{path("outside"), "--main", "main", "-o", out}, 1,
         "application directory '" + path("outside") + "': not a directory"},
        {{app, "--main", "missing", "-o", out}, 1, "--main 'missing': no such file in '" + app + "'"},
        {{app, "--main", "sub", "-o", out}, 1, "--main 'sub': not a regular file"},
        {{app, "--main", "link", "-o", out}, 1, "--main 'link': not a regular file"},
        {{app, "--main", "../outside", "-o", out}, 1, "--main '../outside': must not leave the application directory"},
        {{app, "--main", app + "/main", "-o", out}, 1,
         "--main '" + app + "/main': must be a path relative to the application directory"},
        {{app, "--main", "main", "-o", out, "--icon", path("none.ico")}, 1,
         "icon '" + path("none.ico") + "': No such file or directory"},
        {{app, "--main", "main", "-o", path("nodir/launcher")}, 1,
         "output directory '" + path("nodir") + "': No such file or directory"},
        {{app, "--main", "main", "-o", path("out")}, 1, "'" + path("out") + "': is a directory"},
    };
    for (const Case& c : cases) {
        RunResult r = build(c.args);
        EXPECT_EQ(r.code, c.code) << testing::PrintToString(c.args);
        EXPECT_EQ(r.err, "kay-pack: " + c.message + "\n");
        EXPECT_EQ(r.out, "");
        expect_clean();
    }
}

TEST_F(Build, FailedStepShowsTheToolsOutputAndLeavesNoLauncher) {
    write_file(path("app/main"), "#!/bin/sh\n");
    write_file(path("out/launcher"), "old launcher");
    RunResult r = build({path("app"), "--main", "main", "-o", path("out/launcher"), "--quiet"},
                        {"CC=/nonexistent/cc", "CXX=/nonexistent/c++"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("/nonexistent/c"), std::string::npos) << r.err;  // cmake's own words
    EXPECT_TRUE(r.err.ends_with("\nkay-pack: configuring the launcher project failed: cmake exited with code 1\n"))
        << r.err;
    expect_clean({"launcher"});
    EXPECT_EQ(read_file(path("out/launcher")), "old launcher");
}

TEST(BuildHelp, EveryCommandHasHelpAndTheUsageListsBuild) {
    RunResult top = kay_pack({"--help"});
    EXPECT_EQ(top.code, 0);
    EXPECT_NE(top.out.find("\n  build APPDIR --main RELPATH -o OUT "), std::string::npos) << top.out;
    for (const char* command : {"create", "list", "verify", "extract", "build"}) {
        RunResult r = kay_pack({command, "--help"});
        EXPECT_EQ(r.code, 0) << command;
        EXPECT_EQ(r.err, "") << command;
        EXPECT_TRUE(r.out.starts_with(std::string("usage: kay-pack ") + command + " ")) << r.out;
    }
    // build says what it needs.
    RunResult r = kay_pack({"build", "--help"});
    for (const char* needed : {"cmake 3.25", "g++", "Ninja", "i686-w64-mingw32-g++-posix", "libdeflate", "zstd",
                               "scripts/install-deps", "--target native|win32", "--icon"})
        EXPECT_NE(r.out.find(needed), std::string::npos) << needed;
}
