// Windows launchers look like well-made programs: a console executable with
// a version resource from the build-time constants, an optional icon, and
// no DLL beyond the system's.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "harness.h"

using namespace kay_test;
namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> version_info(const Platform& p, const std::string& launcher) {
    Result r = run(p, p.launcher("verinfo"), {.args = {p.path(p.launcher(launcher))}});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    std::map<std::string, std::string> values;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// The DLLs a PE file imports, read from its import directory.
std::set<std::string> imported_dlls(const std::string& file, bool pe64, unsigned subsystem) {
    std::string d = read_file(file);
    auto u16 = [&](size_t o) { return static_cast<uint32_t>(static_cast<unsigned char>(d[o]) | static_cast<unsigned char>(d[o + 1]) << 8); };
    auto u32 = [&](size_t o) { return u16(o) | u16(o + 2) << 16; };
    uint32_t pe = u32(0x3C);
    EXPECT_EQ(d.substr(pe, 4), std::string("PE\0\0", 4));
    EXPECT_EQ(u16(pe + 4), pe64 ? 0x8664u : 0x14Cu) << "machine";
    uint32_t opt = pe + 24;
    EXPECT_EQ(u16(opt), pe64 ? 0x20Bu : 0x10Bu) << "PE32 or PE32+ optional header";
    EXPECT_EQ(u16(opt + 68), subsystem) << "subsystem (3: console, 2: GUI)";
    uint32_t import_rva = u32(opt + (pe64 ? 112 : 96) + 8);
    uint32_t sections = pe + 24 + u16(pe + 20);
    auto to_offset = [&](uint32_t rva) -> size_t {
        for (uint32_t i = 0; i < u16(pe + 6); i++) {
            size_t s = sections + i * 40;
            uint32_t va = u32(s + 12), size = u32(s + 8), raw = u32(s + 20);
            if (rva >= va && rva < va + size) return rva - va + raw;
        }
        return 0;
    };
    std::set<std::string> dlls;
    for (size_t desc = to_offset(import_rva); desc != 0 && u32(desc + 12) != 0; desc += 20) {
        std::string name = d.c_str() + to_offset(u32(desc + 12));
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        dlls.insert(name);
    }
    return dlls;
}

}  // namespace

class WindowsExecutable : public ::testing::TestWithParam<Platform> {};

TEST_P(WindowsExecutable, VersionResourceCarriesTheBuildConstants) {
    const Platform& p = GetParam();
    auto defaults = version_info(p, "t_basic");
    EXPECT_EQ(defaults["CompanyName"], "Dorvan");
    EXPECT_EQ(defaults["ProductName"], "Velmora Classic");
    EXPECT_EQ(defaults["FileVersion"], "1.0.0.0");
    EXPECT_EQ(defaults["ProductVersion"], "1.0.0.0");
    EXPECT_EQ(defaults["FileDescription"], "Velmora Classic");
    EXPECT_EQ(defaults["FileVersionNumber"], "1.0.0.0");
    EXPECT_EQ(defaults["OriginalFilename"], "t_basic.exe");
    EXPECT_EQ(defaults["Icon"], "no");

    auto custom = version_info(p, "t_spec_tokens");
    EXPECT_EQ(custom["CompanyName"], "Acme");
    EXPECT_EQ(custom["ProductName"], "Road Runner");
    EXPECT_EQ(custom["FileVersion"], "2.5.1");
    EXPECT_EQ(custom["ProductVersion"], "2.6");
    EXPECT_EQ(custom["FileVersionNumber"], "2.5.1.0");
    EXPECT_EQ(custom["ProductVersionNumber"], "2.6.0.0");

    auto icon = version_info(p, "t_icon");
    EXPECT_EQ(icon["Icon"], "yes");
    EXPECT_EQ(icon["FileDescription"], "Icon test launcher");
}

TEST_P(WindowsExecutable, ConsoleProgramWithSystemDllsOnly) {
    const Platform& p = GetParam();
    for (const char* launcher : {"t_basic", "t_icon", "t_gui"}) {
        bool gui = std::string(launcher).ends_with("_gui");
        std::set<std::string> dlls = imported_dlls(p.launcher(launcher), p.target() == "win64", gui ? 2 : 3);
        for (const std::string& dll : dlls) {
            EXPECT_TRUE(dll == "KERNEL32.DLL" || dll == "MSVCRT.DLL" || dll == "SHELL32.DLL" || dll == "USER32.DLL" ||
                        dll == "ADVAPI32.DLL")
                << launcher << " imports " << dll;
        }
        EXPECT_TRUE(dlls.count("KERNEL32.DLL")) << launcher;
    }
}

// The GUI launcher: an error opens a message box titled with the product
// (found by title, read and closed as a user would) while the same text
// reaches the redirected stream; a long unpacking (its writes slowed down)
// shows the progress window, gone once the child runs.
TEST_P(WindowsExecutable, GuiLauncherShowsErrorsInAMessageBoxAndALongUnpackingInAWindow) {
    const Platform& p = GetParam();
    auto find = [&](const char* cls, std::vector<std::string> then) {
        std::vector<std::string> args{cls, "Slow Test", "60000"};
        args.insert(args.end(), then.begin(), then.end());
        Result r = run(p, p.launcher("kay-find-window"), {.args = args});
        EXPECT_EQ(r.code, 0) << cls << " not found";
        return parse_probe(r.out).fields;
    };
    Scratch dir;
    std::string exe = stage(p, "t_gui", dir.path()), target = dir / "unpacked";
    std::string damaged = read_file(exe);
    damaged[damaged.rfind("KAYM") + 20] ^= 1;
    write_file(dir / "damaged.exe", damaged);
    make_dirs(target + "/" + p.exe("probe"));
    const std::string unwritable = "Error, failed to open '" + p.path(target + "/" + p.exe("probe")) + "' for writing.";
    const std::string no_header = "Error, couldn't find attached data header.";
    for (const auto& [launcher, message] : {std::pair{exe, unwritable}, std::pair{dir / "damaged.exe", no_header}}) {
        Running running = start(p, launcher);
        auto box = find("#32770", {"close"});
        Result r = finish(running);
        EXPECT_EQ(box["title"], "Slow Test");
        EXPECT_EQ(box["text"], message);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ((message == no_header ? r.out : r.err), message + p.eol());
    }
    fs::remove(target + "/" + p.exe("probe"));
    std::string report = dir / "report.txt";
    Running running =
        start(p, exe, {.env = {{"PROBE_OUT", p.path(report)}, {"PROBE_SLEEP_MS", "1000"}, {"KAY_SLOW_WRITE_MS", "300"}}});
    auto window = find("KayProgress", {"until", p.path(report)});
    Result r = finish(running);
    EXPECT_EQ(window["title"], "Slow Test");
    EXPECT_EQ(window["after"], "gone");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    // A second launcher waiting for the first shows the same window.
    remove_tree(target);
    running = start(p, exe, {.env = {{"PROBE_OUT", p.path(report)}, {"KAY_SLOW_WRITE_MS", "600"}}});
    find("KayProgress", {});
    Running second = start(p, stage(p, "t_gui", dir.path(), "second.exe"));
    EXPECT_EQ(find("KayProgress", {"count", "2"})["count"], "2");
    finish(running);
    EXPECT_EQ(finish(second).err, "Waiting for another launcher to finish unpacking into '" + p.path(target) + "'." + p.eol());
}

static std::vector<Platform> windows_only() {
    std::vector<Platform> out;
    for (const Platform& p : platforms()) {
        if (p.windows) out.push_back(p);
    }
    return out;
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(WindowsExecutable);
INSTANTIATE_TEST_SUITE_P(Launchers, WindowsExecutable, ::testing::ValuesIn(windows_only()), platform_name);
