// kay-pack build: launchers built in one step for both targets and run as
// real processes (the Windows one under Wine), checked argument errors, a
// failing build step, and the help of every command.
#include <algorithm>
#include <chrono>
#include <functional>
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

// Launchers assembled onto the prebuilt programs, without a compiler: each
// runs its application, two assemblies give the same bytes, and a Windows
// one carries its resources and still runs once signed.
TEST_F(Build, AssembledLaunchersRunOnEveryTarget) {
    std::vector<Platform> all = platforms();
    ASSERT_EQ(run(native(), "openssl",
                  {.args = {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=kay test", "-days", "2",
                            "-keyout", path("key.pem"), "-out", path("cert.pem")}})
                  .code,
              0);
    struct Case {
        std::string target;
        bool windows;
    };
    for (const Case& c : {Case{"native", false}, Case{"win32", true}, Case{"win64", true}}) {
        SCOPED_TRACE(c.target);
        if (c.windows && all.size() < 2) continue;
        const Platform& p = c.windows ? all[1] : all[0];
        std::string main = p.exe("probe"), app = path(c.target + "/app");
        write_file(app + "/data/readme.txt", "assembled for " + c.target);
        fs::copy_file(p.launcher("kay-probe"), app + "/" + main);
        ASSERT_EQ(kay_pack({"create", app, "--main", main, "-o", path(c.target + "/app.kay"), "-q"}).code, 0);
        std::string out = path(c.target + "/My App.exe");
        std::vector<std::string> args{"assemble", path(c.target + "/app.kay"), "--target", c.target, "-o", out,
                                      "--target-spec", std::string("{PROGRAM_DIR}") + p.sep() + "{PRODUCT}-{VERSION}",
                                      "--product", "Prod", "--version", "2.3", "--icon", KAY_PROBE_ICON};
        Result r = kay_pack(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, out + ": " + c.target + " launcher, " + std::to_string(fs::file_size(out)) + " bytes\n");
        EXPECT_EQ(r.err, "");
        std::string first = read_file(out);
        ASSERT_EQ(kay_pack(args).code, 0);
        EXPECT_TRUE(read_file(out) == first) << "two assemblies differ";

        for (int round = 0; round < (c.windows ? 2 : 1); round++) {
            Result child = run(p, out, {.args = {"one"}});
            EXPECT_EQ(child.code, 0) << child.out << child.err;
            ProbeReport report = parse_probe(child.out);
            EXPECT_EQ(report.args, (std::vector<std::string>{p.path(out), "one"}));
            EXPECT_EQ(report.fields["self"], p.path(path(c.target + "/Prod-2.3/" + main)));
            EXPECT_EQ(files_of(path(c.target + "/Prod-2.3")), files_of(app));
            if (!c.windows || round == 1) break;
            // The signed launcher, verified, runs as well.
            Result sign = run(native(), "osslsigncode",
                              {.args = {"sign", "-certs", path("cert.pem"), "-key", path("key.pem"), "-in", out, "-out",
                                        out + ".signed"}});
            ASSERT_EQ(sign.code, 0) << sign.out << sign.err;
            Result verify =
                run(native(), "osslsigncode", {.args = {"verify", "-CAfile", path("cert.pem"), "-in", out + ".signed"}});
            EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
            fs::rename(out + ".signed", out);
        }
        if (!c.windows) continue;
        std::string info = run(p, p.launcher("verinfo"), {.args = {p.path(out)}}).out;
        info.erase(std::remove(info.begin(), info.end(), '\r'), info.end());
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
    std::string probe = native().launcher("kay-probe");
    write_file(path("app/probe"), read_file(probe));
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
        {{path("app.kay"), "--target", "win32", "--launcher", probe},
         "kay-pack: '" + probe + "': not a Windows program (no MZ header)\n"},
        {{path("app.kay"), "--launcher", path("app.kay")}, "kay-pack: '" + path("app.kay") + "': not an ELF program\n"},
        {{path("app.kay"), "--target", "win64", "--launcher", path("none.exe")},
         "kay-pack: prebuilt launcher '" + path("none.exe") + "': No such file or directory\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"assemble", "-o", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Result r = kay_pack(args);
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(r.err, c.err);
        expect_clean();
    }
    // A payload that cannot be read whole gets no index, and its launcher
    // reports at run time what it reports today.
    Result r = kay_pack({"assemble", path("kax.kay"), "-o", out, "-q"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "kay-pack: warning: '" + path("kax.kay") +
                         "': not a payload (does not start with \"KAY\"); the launcher gets no entry index\n");
    std::string damaged = read_file(out);
    damaged[damaged.size() - payload.size() - 20] ^= 1;  // inside the meta
    write_file(path("out/damaged"), damaged);
    fs::permissions(path("out/damaged"), fs::perms::owner_exec, fs::perm_options::add);
    for (const std::string& launcher : {out, path("out/damaged"), native().build_dir + "/kay-launcher-native"}) {
        Result child = run(native(), launcher, {.env = {{"XDG_CACHE_HOME", path("cache")}}});
        EXPECT_EQ(child.code, 2) << launcher;
        EXPECT_EQ(child.out, "Error, couldn't find attached data header.\n") << launcher;
        EXPECT_FALSE(exists(path("cache"))) << launcher;
    }
}

// The entry index in an assembled launcher, read independently: the bytes
// before `payload_at` end with [meta][u64 meta length].
std::uint64_t le_at(const std::string& bytes, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; i--) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}
std::size_t meta_at(const std::string& launcher, std::size_t payload_at) {
    return payload_at - 8 - le_at(launcher, payload_at - 8, 8);
}
std::vector<Entry> index_of(const std::string& launcher, std::size_t payload_at) {
    auto le = [&](std::size_t at, int n) { return le_at(launcher, at, n); };
    std::size_t at = meta_at(launcher, payload_at) + 12;
    for (int text = 0; text < 6; text++) at += 4 + 2 * le(at, 4);
    std::vector<Entry> out(le(at, 4));
    at += 4;
    for (Entry& e : out) {
        for (; le(at, 2) != 0; at += 2) e.name += static_cast<char16_t>(le(at, 2));
        e.size = le(at + 2, 8);
        e.crc = static_cast<std::uint32_t>(le(at + 10, 4));
        at += 14;
    }
    return out;
}

// Launchers with an entry index: it lists the payload entry for entry (from
// kay-pack and from the tests' own writer); a warm start decodes and writes
// nothing (its payload may even be broken); a file changed, missing or cut
// short is written again, alone; and a payload that fails in the middle
// stops there with the decode error, every complete file left as it was.
TEST_F(Build, IndexedLaunchersDecodeOnlyWhenAFileDiffers) {
    for (const Platform& p : platforms()) {
        SCOPED_TRACE(p.name());
        std::string target = p.windows ? "win32" : "native", app = path(target + "/app");
        fs::create_directories(app);
        fs::copy_file(p.launcher("kay-probe"), app + "/" + p.exe("probe"));
        for (int i = 0; i < 24; i++)
            write_file(app + "/d" + std::to_string(i % 3) + "/f" + std::to_string(i),
                       std::string(i * i * 997 % 700000 + 1, static_cast<char>('a' + i)));
        ASSERT_EQ(kay_pack({"create", app, "--main", p.exe("probe"), "-o", path(target + "/app.kay"), "-q"}).code, 0);
        std::string launcher = path(target + "/run/" + p.exe("app"));
        fs::create_directories(path(target + "/run"));
        for (const std::string& payload : {p.build_dir + "/tests/payloads/basic.kay", path(target + "/app.kay")}) {
            ASSERT_EQ(kay_pack({"assemble", payload, "--target", target, "-o", launcher, "-q", "--target-spec",
                                std::string("{PROGRAM_DIR}") + p.sep() + "unpacked"}).code, 0);
            std::vector<Entry> index = index_of(read_file(launcher), read_file(launcher).rfind(read_file(payload)));
            std::vector<Entry> entries = decode_payload(read_file(payload));
            for (Entry& e : entries) e.content.clear();
            EXPECT_EQ(index, entries) << payload;
        }
        // The same launcher whose payload ends in the middle of entry k.
        std::vector<Entry> entries = decode_payload(read_file(path(target + "/app.kay")));
        const std::size_t k = 12;
        std::string stream;
        for (std::size_t i = 0; i <= k; i++) stream += entry_bytes(entries[i].name, entries[i].content, entries[i].crc);
        std::string cut = make_payload(stream.substr(0, stream.size() - entries[k].content.size() / 2), {"-19"});
        std::string bytes = read_file(launcher), payload = read_file(path(target + "/app.kay"));
        std::size_t at = bytes.rfind(payload), meta = meta_at(bytes, at);
        ASSERT_LT(cut.size(), payload.size());
        std::string broken = bytes.substr(0, meta) + std::string(payload.size() - cut.size(), '\0') +
                             bytes.substr(meta, at - meta) + cut + bytes.substr(at + payload.size());
        std::string bad = path(target + "/run/" + p.exe("bad"));
        write_file(bad, broken);
        fs::permissions(bad, fs::perms::owner_exec, fs::perm_options::add);

        std::string unpacked = path(target + "/run/unpacked");
        auto file_of = [&](std::size_t i) {
            std::string rel = utf8(entries[i].name);
            std::replace(rel.begin(), rel.end(), '\\', '/');
            return rel;
        };
        // Every file's state; aged first, any write shows.
        auto age = [&] {
            for (const auto& e : fs::recursive_directory_iterator(unpacked))
                fs::last_write_time(e.path(), fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
        };
        auto files = [&] {
            auto all = snapshot(unpacked);
            std::erase_if(all, [](const auto& item) { return item.second.directory; });
            return all;
        };
        // Runs `exe`; every file but `written` stays as it was.
        auto run_keeping = [&](const std::string& exe, const std::string& written) {
            age();
            auto before = files();
            Result r = run(p, exe);
            auto after = files();
            if (after.count(written) != 0) EXPECT_EQ(after[written].content, read_file(app + "/" + written));
            before.erase(written);
            after.erase(written);
            EXPECT_EQ(after, before);
            return r;
        };
        Result cold = run(p, launcher);
        ASSERT_EQ(cold.code, 0) << cold.out << cold.err;
        ASSERT_EQ(files_of(unpacked), files_of(app));
        Result warm = run_keeping(bad, "");
        EXPECT_EQ(warm.code, 0) << warm.out << warm.err;

        struct Damage {
            std::size_t entry;
            std::function<void(const std::string&)> apply;
        };
        for (const Damage& d : {Damage{3, [](const std::string& f) { write_file(f, read_file(f) + "x"); }},
                                Damage{20, [](const std::string& f) { fs::remove(f); }},
                                Damage{7, [](const std::string& f) { fs::resize_file(f, fs::file_size(f) / 2); }}}) {
            std::string damaged = file_of(d.entry);
            SCOPED_TRACE(damaged);
            d.apply(unpacked + "/" + damaged);
            Result failed = run_keeping(bad, d.entry < k ? damaged : "");
            EXPECT_EQ(failed.code, 2);
            EXPECT_EQ(failed.out, "Error, couldn't decode attached data." + p.eol());
            Result repair = run_keeping(launcher, damaged);
            EXPECT_EQ(repair.code, 0) << repair.out << repair.err;
            EXPECT_EQ(files_of(unpacked), files_of(app));
        }
    }
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
    for (const char* command : {"create", "list", "verify", "extract", "build", "assemble"}) {
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
