// kay-pack build: launchers built in one step for both targets and run as
// real processes (the Windows one under Wine), checked argument errors, a
// failing build step, and the help of every command.
#include <algorithm>
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

// Launchers assembled onto the prebuilt programs, without a compiler: each
// runs its application, two assemblies give the same bytes, and a Windows
// one carries its resources and still runs once signed.
TEST_F(Build, AssembledLaunchersRunOnEveryTarget) {
    const char* env_dir = std::getenv("KAY_WIN32_BUILD");
    std::string win32 = env_dir != nullptr ? env_dir : KAY_WIN32_BUILD_DIR;
    const char* prefix = std::getenv("KAY_WINEPREFIX");
    std::vector<std::string> wine{"env", "WINEPREFIX=" + std::string(prefix != nullptr ? prefix : KAY_BUILD_DIR "/wineprefix"),
                                  "WINEDEBUG=-all", "wine"};
    bool required = std::getenv("KAY_REQUIRE_WIN32") != nullptr && std::string(std::getenv("KAY_REQUIRE_WIN32")) == "1";
    run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=kay test", "-days", "2",
         "-keyout", path("key.pem"), "-out", path("cert.pem")});
    struct Case {
        std::string target, prebuilt, probe;
    };
    const Case cases[] = {{"native", KAY_BUILD_DIR "/kay-launcher-native", KAY_PROBE_PATH},
                          {"win32", win32 + "/kay-launcher-win32.exe", win32 + "/tests/kay-probe.exe"},
                          {"win64", win32 + "/../win64/kay-launcher-win64.exe", win32 + "/tests/kay-probe.exe"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        bool windows = c.target != "native";
        if (!exists(c.prebuilt) || !exists(c.probe)) {
            if (required) ADD_FAILURE() << "missing " << c.prebuilt << " or " << c.probe;
            continue;
        }
        std::string app = path(c.target + "/app"), main = windows ? "probe.exe" : "probe";
        write_file(app + "/data/readme.txt", "assembled for " + c.target);
        fs::copy_file(c.probe, app + "/" + main);
        ASSERT_EQ(kay_pack({"create", app, "--main", main, "-o", path(c.target + "/app.kay"), "-q"}).code, 0);
        std::string out = path(c.target + "/My App.exe"), sep = windows ? "\\" : "/";
        std::vector<std::string> args{"assemble", path(c.target + "/app.kay"), "--target", c.target, "-o", out,
                                      "--target-spec", "{PROGRAM_DIR}" + sep + "{PRODUCT}-{VERSION}", "--product",
                                      "Prod", "--version", "2.3", "--icon", KAY_PROBE_ICON};
        RunResult r = kay_pack(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, out + ": " + c.target + " launcher, " + std::to_string(fs::file_size(out)) + " bytes\n");
        EXPECT_EQ(r.err, "");
        std::string first = read_file(out);
        ASSERT_EQ(kay_pack(args).code, 0);
        EXPECT_TRUE(read_file(out) == first) << "two assemblies differ";

        std::vector<std::string> argv = windows ? wine : std::vector<std::string>{};
        argv.insert(argv.end(), {out, "one"});
        std::string self = (windows ? "Z:" : "") + path(c.target + "/Prod-2.3/" + main);
        if (windows) std::replace(self.begin(), self.end(), '/', '\\');
        for (int round = 0; round < (windows ? 2 : 1); round++) {
            RunResult child = run(argv);
            EXPECT_EQ(child.code, 0) << child.out << child.err;
            EXPECT_NE(without_cr(child.out).find("argc=2\n"), std::string::npos) << child.out;
            EXPECT_NE(child.out.find("self=" + hex(self)), std::string::npos) << child.out;
            EXPECT_EQ(snapshot(path(c.target + "/Prod-2.3")), snapshot(app));
            if (!windows) break;
            // The signed launcher, verified, runs as well.
            RunResult sign = run({"osslsigncode", "sign", "-certs", path("cert.pem"), "-key", path("key.pem"), "-in",
                                  out, "-out", out + ".signed"});
            ASSERT_EQ(sign.code, 0) << sign.out << sign.err;
            RunResult verify = run({"osslsigncode", "verify", "-CAfile", path("cert.pem"), "-in", out + ".signed"});
            EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
            fs::rename(out + ".signed", out);
        }
        if (!windows) continue;
        argv = wine;
        argv.insert(argv.end(), {win32 + "/tests/verinfo.exe", out});
        std::string info = without_cr(run(argv).out);
        EXPECT_TRUE(info.starts_with("FileVersionNumber=2.3.0.0\nProductVersionNumber=2.3.0.0\nCompanyName=Dorvan\n"
                                     "ProductName=Prod\nFileVersion=2.3\nProductVersion=2.3\nFileDescription=Prod\n"
                                     "OriginalFilename=My App.exe\nIcon=yes\nManifest=<?xml"))
            << info;
        for (const char* part : {"<requestedExecutionLevel level=\"asInvoker\"", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                                 "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                                 "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", ">true</longPathAware>"})
            EXPECT_NE(info.find(part), std::string::npos) << part;
    }
}

// What cannot become a launcher is refused with a clear message and leaves
// no file; a launcher whose data is damaged or missing says so when started.
TEST_F(Build, AssemblyRefusesBadInputAndLaunchersRefuseBadData) {
    write_file(path("app/probe"), read_file(KAY_PROBE_PATH));
    ASSERT_EQ(kay_pack({"create", path("app"), "--main", "probe", "-o", path("app.kay"), "-q"}).code, 0);
    std::string payload = read_file(path("app.kay"));
    write_file(path("short.kay"), payload.substr(0, payload.size() - 1));
    write_file(path("kax.kay"), "KAX" + payload.substr(3));
    std::string out = path("out/launcher");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{path("short.kay")}, "kay-pack: '" + path("short.kay") + "': does not end with its length as 8 bytes (" +
                                  std::to_string(payload.size() - 9) + "), so a launcher could not find it\n"},
        {{path("app.kay"), "--target", "win32", "--launcher", KAY_PROBE_PATH},
         "kay-pack: '" KAY_PROBE_PATH "': not a Windows program (no MZ header)\n"},
        {{path("app.kay"), "--launcher", path("app.kay")}, "kay-pack: '" + path("app.kay") + "': not an ELF program\n"},
        {{path("app.kay"), "--target", "win64", "--launcher", path("none.exe")},
         "kay-pack: prebuilt launcher '" + path("none.exe") + "': No such file or directory\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"assemble", "-o", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = kay_pack(args);
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(r.err, c.err);
        expect_clean();
    }
    // A payload that cannot be read whole gets no index, and its launcher
    // reports at run time what it reports today.
    RunResult r = kay_pack({"assemble", path("kax.kay"), "-o", out, "-q"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "kay-pack: warning: '" + path("kax.kay") +
                         "': not a payload (does not start with \"KAY\"); the launcher gets no entry index\n");
    std::string damaged = read_file(out);
    damaged[damaged.size() - payload.size() - 20] ^= 1;  // inside the meta
    write_file(path("out/damaged"), damaged);
    fs::permissions(path("out/damaged"), fs::perms::owner_exec, fs::perm_options::add);
    for (const std::string& launcher : {out, path("out/damaged"), std::string(KAY_BUILD_DIR "/kay-launcher-native")}) {
        RunResult child = run({"env", "XDG_CACHE_HOME=" + path("cache"), launcher});
        EXPECT_EQ(child.code, 2) << launcher;
        EXPECT_EQ(child.out, "Error, couldn't find attached data header.\n") << launcher;
        EXPECT_FALSE(exists(path("cache"))) << launcher;
    }
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
    for (const char* command : {"create", "list", "verify", "extract", "build", "assemble"}) {
        RunResult r = kay_pack({command, "--help"});
        EXPECT_EQ(r.code, 0) << command;
        EXPECT_EQ(r.err, "") << command;
        EXPECT_TRUE(r.out.starts_with(std::string("usage: kay-pack ") + command + " ")) << r.out;
    }
    // build says what it needs.
    RunResult r = kay_pack({"build", "--help"});
    for (const char* needed : {"cmake 3.25", "g++", "Ninja", "i686-w64-mingw32-g++-posix", "zlib", "zstd",
                               "scripts/install-deps", "--target native|win32", "--icon"})
        EXPECT_NE(r.out.find(needed), std::string::npos) << needed;
}
