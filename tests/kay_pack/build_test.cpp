// kay-pack build and assemble: launchers for every target run as real
// processes (the Windows ones under Wine), checked argument errors, and the
// help of every command.
#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>

#include "format/data_block.h"
#include "format/format.h"
#include "harness.h"

namespace fs = std::filesystem;

class Build : public KayPackTest {
protected:
    void SetUp() override {
        KayPackTest::SetUp();
        fs::create_directories(path("out"));
    }
    Result build(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"build"};
        argv.insert(argv.end(), args.begin(), args.end());
        return kay_pack(argv);
    }
    // Nothing in out/ but `keep`.
    void expect_clean(const std::vector<std::string>& keep = {}) { EXPECT_EQ(list_dir(path("out")), keep); }
};

// Launchers built and assembled onto the prebuilt programs, for each target,
// with nothing but kay-pack in PATH: each runs its application; build gives
// what create and assemble give, byte for byte, twice, and so does
// kay-pack.exe under Wine; verify accepts the launcher (signed too) and
// refuses one with a flipped byte in its payload or constants; the Windows
// ones carry their resources and still run once signed.
TEST_F(Build, LaunchersOfEveryTargetRunAndAreReproducible) {
    std::vector<Platform> all = platforms();
    std::optional<Platform> arm64 = arm64_platform();
    ASSERT_EQ(run(native(), "openssl",
                  {.args = {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=kay test", "-days", "2",
                            "-keyout", path("key.pem"), "-out", path("cert.pem")}})
                  .code,
              0);
    std::string pack_exe = native().build_dir + "/../win64/kay-pack.exe";
    const RunOptions no_tools{.env = {{"PATH", "/nonexistent"}}};
    // The GUI kinds follow from the main program, a GUI probe.
    for (std::string kind : {"native", "linux-arm64", "win32", "win64", "win32 GUI", "win64 GUI"}) {
        SCOPED_TRACE(kind);
        std::string target = kind.substr(0, kind.find(' '));
        bool windows = target.starts_with("win"), gui = kind != target;
        if ((windows && all.size() < 2) || (target == "linux-arm64" && !arm64)) continue;
        const Platform& p = windows ? all[1] : target == "native" ? all[0] : *arm64;
        const std::string named = std::string(windows ? "Windows" : p.arm64 ? "Linux arm64" : "Linux") +
                                  (gui ? " GUI" : "") + " launcher";
        std::string main = p.exe("probe"), app = path(kind + "/app"), out = path(kind + "/My App.exe");
        write_file(app + "/data/readme.txt", "packed for " + target);
        fs::create_directories(app + "/bin");
        fs::copy_file(p.launcher(gui ? "kay-probe-gui" : "kay-probe"), app + "/bin/" + main);
        std::vector<std::string> options{"--target", target, "--version", "2.3", "--icon", KAY_PROBE_ICON,
                                         "--target-spec", std::string("{PROGRAM_DIR}") + p.sep() + "{COMPANY}-{PRODUCT}-{VERSION}"};
        std::vector<std::string> args{"build", app, "--main", "bin\\" + main, "-o", out};
        args.insert(args.end(), options.begin(), options.end());
        Result r = kay_pack(args, no_tools);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(list_dir(path(kind)).size(), 6u) << "a payload left behind";
        if (gui) {  // --subsystem over the main program's kind; a main program that is no PE file: console
            for (std::vector<std::string> how : {std::vector<std::string>{"bin/" + main, "--subsystem", "console"},
                                                 std::vector<std::string>{"data/readme.txt"}}) {
                how.insert(how.begin(), {"build", app, "-o", path(kind + "/c.exe"), "--target", target, "--main"});
                Result console = kay_pack(how);
                EXPECT_TRUE(console.out.starts_with(path(kind + "/c.exe") + ": " + target + " launcher, ")) << console.err;
            }
            fs::remove(path(kind + "/c.exe"));
        }
        std::string built = read_file(out);
        // create + assemble, and build again: the same bytes.
        ASSERT_EQ(kay_pack({"create", app, "--main", "bin/" + main, "-o", path(kind + "/app.kay"), "-q"}).code, 0);
        std::uint64_t bytes = fs::file_size(app + "/bin/" + main) + fs::file_size(app + "/data/readme.txt");
        EXPECT_EQ(r.out, out + ": " + kind + " launcher, " + std::to_string(built.size()) + " bytes (2 files, " +
                             std::to_string(bytes) + " bytes, payload " +
                             std::to_string(fs::file_size(path(kind + "/app.kay"))) + " bytes)\n");
        std::vector<std::string> assemble{"assemble", path(kind + "/app.kay"), "-o", out, "-q", "--product", main.substr(0, 5)};
        assemble.insert(assemble.end(), options.begin(), options.end());
        ASSERT_EQ(kay_pack(assemble).code, 0);
        EXPECT_TRUE(read_file(out) == built) << "assemble differs from build";
        ASSERT_EQ(kay_pack(args, no_tools).code, 0);
        EXPECT_TRUE(read_file(out) == built) << "two builds differ";
        if (all.size() > 1 && exists(pack_exe)) {
            const Platform& wine = all[1];
            std::vector<std::string> wargs{"build", wine.path(app), "--main", "bin/" + main, "-o", wine.path(out), "-q"};
            wargs.insert(wargs.end(), options.begin(), options.end());
            wargs[wargs.size() - 3] = wine.path(KAY_PROBE_ICON);
            Result w = run(wine, pack_exe, {.args = wargs});
            EXPECT_EQ(w.code, 0) << w.out << w.err;
            EXPECT_EQ(w.out + w.err, "");
            EXPECT_TRUE(read_file(out) == built) << "kay-pack.exe built other bytes";
        }

        // Where this machine runs 64-bit programs only, the win32 launcher
        // is built and checked but not run.
        bool runs = !windows || target == "win64" || p.target() == "win32";
        std::string dir = path(kind + "/Dorvan-probe-2.3");
        for (int round = 0; runs && round < (windows ? 2 : 1); round++) {
            Result child = run(p, out, {.args = {"one"}, .env = {{"PROBE_EXIT", "7"}}});
            EXPECT_EQ(child.code, 7) << child.out << child.err;
            ProbeReport report = parse_probe(child.out);
            if (gui) EXPECT_EQ(report.fields["console"], "0") << "the GUI launcher's child has a console";
            EXPECT_EQ(report.args, (std::vector<std::string>{p.path(out), "one"}));
            EXPECT_EQ(report.fields["self"], p.path(dir + "/bin/" + main));
            EXPECT_EQ(files_of(dir), files_of(app));
            // "kay-pack <version>\n"
            std::string version = kay_pack({"--version"}).out;
            version = version.substr(9, version.size() - 10);
            const std::string made_by = named + " (kay " + version + ")";
            EXPECT_TRUE(kay_pack({"list", out}).out.starts_with(made_by + "\n"));
            Result verify = kay_pack({"verify", out});
            EXPECT_EQ(verify.out, out + ": OK, " + made_by + ", 2 entries, " +
                                      std::to_string(bytes) + " bytes\n")
                << verify.err;
            if (!windows || round == 1) break;
            // The signed launcher, verified, runs as well.
            Result sign = run(native(), "osslsigncode",
                              {.args = {"sign", "-certs", path("cert.pem"), "-key", path("key.pem"), "-in", out, "-out",
                                        out + ".signed"}});
            ASSERT_EQ(sign.code, 0) << sign.out << sign.err;
            Result check =
                run(native(), "osslsigncode", {.args = {"verify", "-CAfile", path("cert.pem"), "-in", out + ".signed"}});
            EXPECT_EQ(check.code, 0) << check.out << check.err;
            fs::rename(out + ".signed", out);
        }
        // A flipped byte in the payload or in the constants is refused.
        std::size_t payload_at = built.find(read_file(path(kind + "/app.kay")));
        ASSERT_NE(payload_at, std::string::npos);
        for (std::size_t at : {payload_at + 60, built.rfind(std::string("D\0o\0r\0v\0a\0n\0", 12), payload_at)}) {
            std::string damaged = built;
            damaged[at] ^= 0x20;
            write_file(out, damaged);
            Result bad = kay_pack({"verify", out});
            EXPECT_EQ(bad.code, 1);
            EXPECT_EQ(bad.out, "");
            std::string expected = at == payload_at + 60 ? "kay-pack: '" + out + "': "
                                                         : "kay-pack: '" + out + "': " + named + ": constants and index damaged (CRC-32 stored ";
            EXPECT_TRUE(bad.err.starts_with(expected)) << bad.err;
        }
        if (!windows) {
#ifndef __SANITIZE_ADDRESS__  // the sanitizers bring their own libraries
            // Self-contained: nothing but the C library's own parts.
            std::istringstream libs(run(native(), "ldd", {.args = {out}}).out);
            for (std::string line; std::getline(libs, line);)
                EXPECT_TRUE(line.find("linux-vdso.so") != std::string::npos || line.find("libc.so.6") != std::string::npos ||
                            line.find("libm.so.6") != std::string::npos || line.find("ld-linux-x86-64.so") != std::string::npos)
                    << line;
#endif
            continue;
        }
        write_file(out, built);
        std::string info = run(p, p.launcher("verinfo"), {.args = {p.path(out)}}).out;
        info.erase(std::remove(info.begin(), info.end(), '\r'), info.end());
        EXPECT_TRUE(info.starts_with("FileVersionNumber=2.3.0.0\nProductVersionNumber=2.3.0.0\nCompanyName=Dorvan\n"
                                     "ProductName=probe\nFileVersion=2.3\nProductVersion=2.3\nFileDescription=probe\n"
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
    auto payload_of = [](std::u16string a, std::u16string b) {
        return make_payload(entry_bytes(u"probe", "", 1) + entry_bytes(a, "", 1) + entry_bytes(b, "", 1) +
                            std::string(2, '\0'));
    };
    write_file(path("slash.kay"), payload_of(u"a/x", u"a\\x"));
    write_file(path("case.kay"), payload_of(u"Readme.txt", u"readme.txt"));
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
        {{path("app.kay"), "--target", "linux-arm64", "--launcher", probe}, "kay-pack: '" + probe + "': not a 64-bit ARM program\n"},
        {{path("slash.kay")},
         "kay-pack: '" + path("slash.kay") + "': entries 2 'a/x' and 3 'a\\x' are the same file" + SAME_SEPARATOR +
             "\n"},
        {{path("case.kay"), "--target", "win32", "--launcher", probe},
         "kay-pack: '" + path("case.kay") + "': entries 2 'Readme.txt' and 3 'readme.txt' are the same file" +
             SAME_ON_WINDOWS + "\n"},
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

// The data block of an assembled launcher whose payload lies at
// `payload_at`, read by the launcher's reader: where its meta starts, its index.
struct LauncherBlock {
    std::size_t meta_at = 0;
    std::vector<Entry> index;
};
LauncherBlock block_of(const std::string& launcher, std::size_t payload_at, std::size_t payload_size) {
    const auto* data = reinterpret_cast<const unsigned char*>(launcher.data());
    LauncherBlock out;
    kay_block block{};
    kay_block_reason reason = read_data_block(data, payload_at + payload_size, &block);
    EXPECT_EQ(reason, KAY_BLOCK_OK);
    if (reason != KAY_BLOCK_OK) return out;
    out.meta_at = payload_at - 8 - get_le(data + payload_at - 8, 8);
    kay_index_entry e;
    for (const unsigned char* cursor = block.index; next_index_entry(block, &cursor, &e);) {
        Entry& entry = out.index.emplace_back(Entry{{}, e.size, e.crc, {}});
        for (std::uint32_t k = 0; k < e.name_units; k++) entry.name += unit_at(e.name, k);
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
        std::string target = p.target(), app = path(target + "/app");
        fs::create_directories(app);
        fs::copy_file(p.launcher("kay-probe"), app + "/" + p.exe("probe"));
        for (int i = 0; i < 24; i++)
            write_file(app + "/d" + std::to_string(i % 3) + "/f" + std::to_string(i),
                       std::string(i * i * 997 % 700000 + 1, static_cast<char>('a' + i)));
        ASSERT_EQ(kay_pack({"create", app, "--main", p.exe("probe"), "-o", path(target + "/app.kay"), "-q"}).code, 0);
        std::string launcher = path(target + "/run/" + p.exe("app"));
        fs::create_directories(path(target + "/run"));
        // For a payload of fixed files, the SHA-256 of what goes before it (the
        // constants, the index, the meta's length): the writer's bytes are fixed.
        write_file(path(target + "/fixed/run"), "#!/bin/sh\n");
        write_file(path(target + "/fixed/d/a.txt"), "hi\n");
        std::string fixed = path(target + "/fixed.kay");
        ASSERT_EQ(kay_pack({"create", path(target + "/fixed"), "--main", "run", "-o", fixed, "-q"}).code, 0);
        const std::string head_sha256 = p.windows ? "efebcbb73150bbcb03d5f3dd57f2c10b6aed852f487eb84679bbb1bb205212ce"
                                                  : "24c537eb5a16fd05d9afdbe41aeced6d35e9285192305fa619838d8efe304656";
        for (const std::string& payload : {p.build_dir + "/tests/payloads/basic.kay", fixed, path(target + "/app.kay")}) {
            ASSERT_EQ(kay_pack({"assemble", payload, "--target", target, "-o", launcher, "-q", "--target-spec",
                                std::string("{PROGRAM_DIR}") + p.sep() + "unpacked"}).code, 0);
            std::string bytes = read_file(launcher), payload_bytes = read_file(payload);
            std::size_t at = bytes.rfind(payload_bytes);
            LauncherBlock block = block_of(bytes, at, payload_bytes.size());
            write_file(path("head"), bytes.substr(block.meta_at, at - block.meta_at));
            if (payload == fixed)
                EXPECT_EQ(run(native(), "sha256sum", {.args = {path("head")}}).out.substr(0, 64), head_sha256);
            std::vector<Entry> index = block.index;
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
        std::size_t at = bytes.rfind(payload), meta = block_of(bytes, at, payload.size()).meta_at;
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

// Without --target-spec the version is followed by 12 digits of the
// payload's index: applications whose main programs share a name keep apart.
TEST_F(Build, DefaultFolderOfEachPayloadIsItsOwn) {
    std::set<std::string> folders;
    for (std::string app : {"a", "b", "a"}) {
        write_file(path(app + "/data.txt"), app);
        fs::copy_file(native().launcher("kay-probe"), path(app + "/probe"), fs::copy_options::skip_existing);
        ASSERT_EQ(build({path(app), "--main", "probe", "-o", path("out/" + app), "-q"}).code, 0);
        Result r = run(native(), path("out/" + app), {.env = {{"XDG_CACHE_HOME", path("cache")}}});
        folders.insert(fs::path(parse_probe(r.out).fields["self"]).parent_path());
    }
    EXPECT_EQ(folders.size(), 2u);
    for (const std::string& f : folders) EXPECT_EQ(f.substr(0, f.size() - 12), path("cache/Dorvan/probe/1.0.0.0-"));
    // The native target by its system's name, where kay-pack knows it.
#if defined(__linux__) && defined(__x86_64__)
    ASSERT_EQ(build({path("a"), "--main", "probe", "-o", path("out/x"), "-q", "--target", "linux-x86_64"}).code, 0);
    EXPECT_EQ(read_file(path("out/x")), read_file(path("out/a")));
#endif
}

TEST_F(Build, InstalledKayPackFindsThePrebuiltLaunchersInstalledWithIt) {
    Result install = run(native(), "cmake", {.args = {"--install", native().build_dir, "--prefix", path("prefix")}});
    ASSERT_EQ(install.code, 0) << install.out << install.err;
    write_file(path("app/data/a.txt"), "a");
    fs::copy_file(native().launcher("kay-probe"), path("app/probe"));
    Result r = run(native(), path("prefix/bin/kay-pack"),
                   {.args = {"build", path("app"), "--main", "probe", "-o", path("out/launcher"), "--target-spec",
                             "{PROGRAM_DIR}/files", "-q"},
                    .env = {{"PATH", "/nonexistent"}}});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    Result child = run(native(), path("out/launcher"));
    EXPECT_EQ(child.code, 0) << child.err;
    EXPECT_EQ(files_of(path("out/files")), files_of(path("app")));
}

// The README's recipe for programs that find their files through argv[0],
// with the machine's python3 and just enough of its library to start.
TEST_F(Build, ReadmeRecipeGivesPythonItsHome) {
    std::string readme = read_file(KAY_SOURCE_DIR "/README.md");
    std::size_t at = readme.find("```sh\n#!/bin/sh\n", readme.find("### Applications that find their files through argv[0]"));
    ASSERT_NE(at, std::string::npos);
    std::string script = readme.substr(at + 6, readme.find("```", at + 6) - at - 6);
    auto ask = [](const std::string& program, const char* code) {
        std::string text = run(native(), program, {.args = {"-c", code}}).out;
        return text.erase(text.find_last_not_of('\n') + 1);
    };
    std::string python = fs::canonical(ask("python3", "import sys; print(sys.executable)")).string();
    std::string version = ask(python, "import sys; print('python%d.%d' % sys.version_info[:2])");
    write_file(path("dist/run"), script);
    fs::permissions(path("dist/run"), fs::perms::owner_exec, fs::perm_options::add);
    fs::create_directories(path("dist/python/bin"));
    fs::copy_file(python, path("dist/python/bin/python3"));
    fs::create_directories(path("dist/python/lib/" + version));
    fs::copy("/usr/lib/" + version + "/encodings", path("dist/python/lib/" + version + "/encodings"),
             fs::copy_options::recursive);
    fs::copy_file("/usr/lib/" + version + "/os.py", path("dist/python/lib/" + version + "/os.py"));
    write_file(path("dist/app.py"), "import sys\nprint(sys.prefix, sys.argv[1:])\n");
    ASSERT_EQ(build({path("dist"), "--main", "run", "-o", path("out/app"), "--target-spec", "{PROGRAM_DIR}/u", "--level", "3", "-q"}).code, 0);
    Result r = run(native(), path("out/app"), {.args = {"one"}});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, path("out/u/python") + " ['one']\n");
}

TEST_F(Build, BadArgumentsAreReportedBeforeAnythingIsBuilt) {
    write_file(path("app/main"), "#!/bin/sh\n");
    write_file(path("outside"), "x");
    for (const char* name : {"win/main", "win/Readme.txt", "win/readme.txt"}) write_file(path(name), "x");
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
        {{app, "--main", "main", "-o", out, "--target", "win16"}, 2,
         "unknown target 'win16' (native, linux-arm64, win32 or win64) (see kay-pack --help)"},
        // What names the target directory must be a folder name.
        {{app, "--main", "main", "-o", out, "--company", "A/B"}, 1,
         "--company 'A/B' holds '/', which a folder name cannot (it is part of the target directory)"},
        {{app, "--main", "main", "-o", out, "--target-spec", "{TEMP}/{product}", "--product", "x."}, 1,
         "--product 'x.' ends with '.', which a folder name cannot (it is part of the target directory)"},
        {{app, "--main", "main", "-o", out, "--company", "two\nlines"}, 2,
         "option --company must not contain control characters (see kay-pack --help)"},
        {{app, "--main", "main", "-o", out, "--frobnicate"}, 2, "unknown option '--frobnicate' (see kay-pack --help)"},
        {{app, "--main", "main", "-o", out, "--keep-versions", "0"}, 2,
         "option --keep-versions needs a whole number from 1 to 65534 or all, not '0' (see kay-pack --help)"},
        {{app, "--main", "main", "-o", out, "--target", "win32", "--file-version", "99999.70000.1.2"}, 2,
         "option --file-version '99999.70000.1.2': a Windows version holds numbers from 0 to 65535 in each of its four "
         "fields (see kay-pack --help)"},
        {{path("win"), "--main", "main", "-o", out, "--target", "win32"}, 1,
         "'Readme.txt' and 'readme.txt' are the same file" + SAME_ON_WINDOWS},
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

TEST(Help, EveryCommandHasHelpAndTheUsageListsEach) {
    Result top = kay_pack({"--help"});
    EXPECT_EQ(top.code, 0);
    Result version = kay_pack({"--version"});
    EXPECT_EQ(version.out + version.err, "kay-pack " KAY_PROJECT_VERSION "\n");
    EXPECT_NE(top.out.find("\n  build APPDIR --main RELPATH -o OUT "), std::string::npos) << top.out;
    for (const char* command : {"create", "list", "verify", "extract", "build", "assemble"}) {
        EXPECT_NE(top.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
        Result r = kay_pack({command, "--help"});
        EXPECT_EQ(r.code, 0) << command;
        EXPECT_EQ(r.err, "") << command;
        EXPECT_TRUE(r.out.starts_with(std::string("usage: kay-pack ") + command + " ")) << r.out;
    }
    // build takes create's and assemble's options.
    Result r = kay_pack({"build", "--help"});
    for (const char* option : {"--level N", "--threads N", "--follow-symlinks", "--target native|linux-arm64|win32|win64",
                               "--launcher FILE", "--icon", "--description"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

// --progress: on a terminal a long unpacking (slowed down here) writes one
// line over itself, erased before the child starts; without a terminal
// nothing.
TEST_F(Build, ProgressLineOnATerminalOnly) {
    std::string launcher = path("out/slow"), payload = native().build_dir + "/tests/payloads/basic.kay";
    ASSERT_EQ(kay_pack({"assemble", payload, "-o", launcher, "-q", "--progress", "--product", "Slowy", "--target-spec",
                        "{PROGRAM_DIR}/u", "--launcher", native().build_dir + "/kay-launcher-native-fault"}).code, 0);
    RunOptions slow{.env = {{"PROBE_OUT", path("r1")}, {"KAY_SLOW_WRITE_MS", "150"}}};
    Result tty = run(native(), "script", {.args = {"-qec", launcher, "/dev/null"}, .env = slow.env});
    EXPECT_TRUE(tty.out.starts_with("\rSlowy: unpacking ")) << tty.out;
    std::size_t erase = tty.out.rfind('\r', tty.out.size() - 2);
    EXPECT_EQ(tty.out.substr(erase), "\r" + std::string(tty.out.find('%'), ' ') + "\r") << tty.out;
    fs::remove_all(path("out/u"));
    slow.env["PROBE_OUT"] = path("r2");
    Result piped = run(native(), launcher, slow);
    EXPECT_EQ(piped.code, 0);
    EXPECT_EQ(piped.out + piped.err, "");
    EXPECT_TRUE(exists(path("r1")) && exists(path("r2")));
}
