// kay-pack build: launchers built in one step for both targets and run as
// real processes (the Windows one under Wine), checked argument errors, a
// failing build step, and the help of every command.
#include <filesystem>
#include <sys/stat.h>

#include "harness.h"

namespace fs = std::filesystem;

class Build : public KayPackTest {
protected:
    void SetUp() override {
        KayPackTest::SetUp();
        fs::create_directories(path("tmp"));
        fs::create_directories(path("out"));
    }
    // kay-pack build with its temporary directory under our scratch dir.
    Result build(const std::vector<std::string>& args, RunOptions options = {}) {
        std::vector<std::string> argv{"build"};
        argv.insert(argv.end(), args.begin(), args.end());
        options.env["TMPDIR"] = path("tmp");
        return kay_pack(argv, options);
    }
    // Nothing left behind in the temporary directory, nothing in out/ but `keep`.
    void expect_clean(const std::vector<std::string>& keep = {}) {
        EXPECT_EQ(list_dir(path("tmp")), std::vector<std::string>{});
        EXPECT_EQ(list_dir(path("out")), keep);
    }
};

TEST_F(Build, NativeLauncherRunsTheApplicationAndUnpacksItsFiles) {
    fs::create_directories(path("app/bin"));
    fs::copy_file(native().launcher("kay-probe"), path("app/bin/probe"));
    write_file(path("app/data/readme.txt"), "packed by kay-pack build\n");
    write_file(path("out/launcher"), "old launcher");
    Result r = build({path("app"), "--main", "bin/probe", "-o", path("out/launcher"), "--target-spec",
                      "{PROGRAM_DIR}/{COMPANY}/{PRODUCT}/{VERSION}", "--company", "Acme", "--product", "My App",
                      "--version", "2.3"});
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

    Result child = run(native(), path("out/launcher"), {.args = {"one", "two words"}});
    EXPECT_EQ(child.code, 0) << child.err;
    ProbeReport probe = parse_probe(child.out);
    EXPECT_EQ(probe.args, (std::vector<std::string>{path("out/launcher"), "one", "two words"}));
    // The constants given on the command line name the target directory.
    EXPECT_EQ(probe.fields["self"], path("out/Acme/My App/2.3/bin/probe"));
    EXPECT_EQ(files_of(path("out/Acme/My App/2.3")), files_of(path("app")));
}

TEST_F(Build, WindowsLauncherRunsUnderWineWithItsVersionResource) {
    std::vector<Platform> all = platforms();
    if (all.size() < 2) GTEST_SKIP() << "no Windows build";
    const Platform& win = all[1];
    std::string probe = win.launcher("kay-probe");
    ASSERT_TRUE(exists(probe)) << probe;
    fs::create_directories(path("app"));
    fs::copy_file(probe, path("app/probe.exe"));
    write_file(path("app/data/readme.txt"), "packed for Windows\r\n");
    Result r = build({path("app"), "--main", "probe.exe", "-o", path("out/My App.exe"), "--target", "win32",
                      "--target-spec", "{PROGRAM_DIR}\\unpacked", "--company", "Acme", "--product", "My App",
                      "--version", "2.3", "--product-version", "2.3 beta", "--description", "Packed probe", "--icon",
                      KAY_PROBE_ICON, "--quiet"});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    expect_clean({"My App.exe"});

    Result child = run(win, path("out/My App.exe"), {.args = {"one"}});
    EXPECT_EQ(child.code, 0) << child.err;
    ProbeReport report = parse_probe(child.out);
    EXPECT_EQ(report.args, (std::vector<std::string>{win.path(path("out/My App.exe")), "one"}));
    EXPECT_EQ(report.fields["self"], win.path(path("out/unpacked/probe.exe")));
    EXPECT_EQ(files_of(path("out/unpacked")), files_of(path("app")));

    // The version resource as Windows reads it.
    Result info = run(win, win.launcher("verinfo"), {.args = {win.path(path("out/My App.exe"))}});
    EXPECT_EQ(info.out,
              "FileVersionNumber=2.3.0.0\r\n"
              "ProductVersionNumber=2.3.0.0\r\n"
              "CompanyName=Acme\r\n"
              "ProductName=My App\r\n"
              "FileVersion=2.3\r\n"
              "ProductVersion=2.3 beta\r\n"
              "FileDescription=Packed probe\r\n"
              "OriginalFilename=My App.exe\r\n"
              "Icon=yes\r\n");
}

TEST_F(Build, InstalledKayPackUsesThePackageInstalledBesideIt) {
    Result install = run(native(), "cmake", {.args = {"--install", native().build_dir, "--prefix", path("prefix")}});
    ASSERT_EQ(install.code, 0) << install.out << install.err;
    write_file(path("app/data/a.txt"), "a");
    fs::copy_file(native().launcher("kay-probe"), path("app/probe"));
    Result r = run(native(), path("prefix/bin/kay-pack"),
                   {.args = {"build", path("app"), "--main", "probe", "-o", path("out/launcher"), "--target-spec",
                             "{PROGRAM_DIR}/files", "--keep-build"},
                    .env = {{"TMPDIR", path("tmp")}},
                    .timeout_ms = 550000});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    std::string marker = "build directory kept: ";
    std::size_t at = r.out.find(marker);
    ASSERT_NE(at, std::string::npos) << r.out;
    std::string kept = r.out.substr(at + marker.size(), r.out.find('\n', at) - at - marker.size());
    EXPECT_EQ(fs::path(kept).parent_path(), fs::path(path("tmp")));
    std::string cache = read_file(kept + "/build/CMakeCache.txt");
    EXPECT_NE(cache.find("kay_DIR:UNINITIALIZED=" + path("prefix/lib/cmake/kay") + "\n"), std::string::npos);
    EXPECT_FALSE(exists(kept + "/kay-package"));  // no stand-in for the source tree
    Result child = run(native(), path("out/launcher"));
    EXPECT_EQ(child.code, 0) << child.err;
    EXPECT_EQ(files_of(path("out/files")), files_of(path("app")));
}

TEST_F(Build, BadArgumentsAreReportedBeforeAnythingIsBuilt) {
    write_file(path("app/main"), "#!/bin/sh\n");
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
        // The --main checks are create's (CreateErrors.MainMustBe...).
        {{app, "--main", "missing", "-o", out}, 1, "--main 'missing': no such file in '" + app + "'"},
        {{app, "--main", "main", "-o", out, "--icon", path("none.ico")}, 1,
         "icon '" + path("none.ico") + "': No such file or directory"},
        {{app, "--main", "main", "-o", path("nodir/launcher")}, 1,
         "output directory '" + path("nodir") + "': No such file or directory"},
        {{app, "--main", "main", "-o", path("out")}, 1, "'" + path("out") + "': is a directory"},
    };
    for (const Case& c : cases) {
        Result r = build(c.args);
        EXPECT_EQ(r.code, c.code) << testing::PrintToString(c.args);
        EXPECT_EQ(r.err, "kay-pack: " + c.message + "\n");
        EXPECT_EQ(r.out, "");
        expect_clean();
    }
}

TEST_F(Build, FailedStepShowsTheToolsOutputAndLeavesNoLauncher) {
    write_file(path("app/main"), "#!/bin/sh\n");
    write_file(path("out/launcher"), "old launcher");
    Result r = build({path("app"), "--main", "main", "-o", path("out/launcher"), "--quiet"},
                     {.env = {{"CC", "/nonexistent/cc"}, {"CXX", "/nonexistent/c++"}}});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("/nonexistent/c"), std::string::npos) << r.err;  // cmake's own words
    EXPECT_TRUE(r.err.ends_with("\nkay-pack: configuring the launcher project failed: cmake exited with code 1\n"))
        << r.err;
    expect_clean({"launcher"});
    EXPECT_EQ(read_file(path("out/launcher")), "old launcher");
}

TEST(Help, EveryCommandHasHelpAndTheUsageListsEach) {
    Result top = kay_pack({"--help"});
    EXPECT_EQ(top.code, 0);
    EXPECT_NE(top.out.find("\n  build APPDIR --main RELPATH -o OUT "), std::string::npos) << top.out;
    for (const char* command : {"create", "list", "verify", "extract", "build"}) {
        EXPECT_NE(top.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
        Result r = kay_pack({command, "--help"});
        EXPECT_EQ(r.code, 0) << command;
        EXPECT_EQ(r.err, "") << command;
        EXPECT_TRUE(r.out.starts_with(std::string("usage: kay-pack ") + command + " ")) << r.out;
    }
    // build says what it needs.
    Result r = kay_pack({"build", "--help"});
    for (const char* needed : {"cmake 3.25", "g++", "Ninja", "i686-w64-mingw32-g++-posix", "libdeflate", "zstd",
                               "scripts/install-deps", "--target native|win32", "--icon"})
        EXPECT_NE(r.out.find(needed), std::string::npos) << needed;
}
