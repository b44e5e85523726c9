// kay-pack build: a launcher for an application directory in one step, by
// generating a small CMake project around kay_add_launcher() and building it.
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "args.h"
#include "commands.h"
#include "fail.h"
#include "launcher_project.h"
#include "main_path.h"
#include "output_file.h"
#include "prebuilt.h"
#include "run_tool.h"

static const char BUILD_HELP[] =
    "usage: kay-pack build APPDIR --main RELPATH -o OUT [options]\n"
    "\n"
    "Builds the launcher for APPDIR in one step: generates a small CMake project\n"
    "that calls find_package(kay) and kay_add_launcher(), configures and builds\n"
    "it in a temporary directory (packing APPDIR with this kay-pack), and copies\n"
    "the launcher to OUT, which appears only when complete.\n"
    "\n"
    "  --main RELPATH          main executable, relative to APPDIR\n"
    "  -o, --output OUT        launcher to write (its directory must exist)\n"
    "  --target native|win32   native: a program for this system (default);\n"
    "                          win32: a 32-bit Windows console program\n"
    "  --target-spec SPEC      where the launcher unpacks (default\n"
    "                          " KAY_DEFAULT_TARGET_SPEC ", with \\ for win32)\n"
    "  --company TEXT          {COMPANY} (default " KAY_DEFAULT_COMPANY ")\n"
    "  --product TEXT          {PRODUCT} (default " KAY_DEFAULT_PRODUCT ")\n"
    "  --version TEXT          {VERSION} (default " KAY_DEFAULT_VERSION ")\n"
    "  --file-version TEXT     {FILE_VERSION} (default: --version, else " KAY_DEFAULT_VERSION ")\n"
    "  --product-version TEXT  {PRODUCT_VERSION} (default: --version, else " KAY_DEFAULT_VERSION ")\n"
    "  --description TEXT      win32: the file description (default: the product)\n"
    "  --icon FILE.ico         win32: the program's icon\n"
    "  --keep-build            keep the temporary build directory and print its path\n"
    "  -q, --quiet             print nothing unless a step fails\n"
    "\n"
    "Needs cmake 3.25 or newer and a C/C++ compiler (g++); Ninja is used when\n"
    "present. --target win32 also needs the MinGW-w64 i686 cross compiler\n"
    "(i686-w64-mingw32-g++-posix) and zstd's and libdeflate's sources. The script\n"
    "scripts/install-deps installs all of them. The kay CMake package is taken\n"
    "from beside kay-pack (../lib/cmake/kay) or from the source tree it was\n"
    "built from.\n"
    "\n"
    "Exit codes: 0 done, 1 bad input or a failed build step, 2 bad command line.\n";

static const char WIN32_COMPILER[] = "i686-w64-mingw32-g++-posix";

// Text options and the kay_add_launcher() keywords they fill.
static const char* const TEXT_OPTIONS[][2] = {
    {"--target-spec", "TARGET_SPEC"}, {"--company", "COMPANY"},
    {"--product", "PRODUCT"},         {"--version", "VERSION"},
    {"--file-version", "FILE_VERSION"}, {"--product-version", "PRODUCT_VERSION"},
    {"--description", "DESCRIPTION"}};

// The temporary build directory, removed at exit unless kept.
static std::string g_build_dir;
static bool g_keep_build = false;

static void remove_build_dir() {
    if (g_build_dir.empty() || g_keep_build) return;
    std::error_code ignored;
    std::filesystem::remove_all(g_build_dir, ignored);
    g_build_dir.clear();
}

static std::string absolute(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    if (ec) fail("cannot resolve " + ::quoted(path) + ": " + ec.message());
    return p.lexically_normal().string();
}

static void check_text(const std::string& option, const std::string& value) {
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7f) fail_usage("option " + option + " must not contain control characters");
}

// OUT's directory must exist and OUT must not be a directory.
static void check_output(const std::string& out) {
    std::size_t slash = out.rfind('/');
    std::string dir = slash == std::string::npos ? "." : out.substr(0, slash == 0 ? 1 : slash);
    std::string base = slash == std::string::npos ? out : out.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") fail(::quoted(out) + ": not a file name");
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) fail_errno("output directory " + ::quoted(dir));
    if (!S_ISDIR(st.st_mode)) fail("output directory " + ::quoted(dir) + ": not a directory");
    if (stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) fail(::quoted(out) + ": is a directory");
}

static std::string read_text(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) fail_errno("cannot read " + ::quoted(path));
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
}

// Runs one step with its output in `log`; on failure shows that output and
// ends with `what` failed.
static void step(const std::vector<std::string>& argv, const std::string& log, const std::string& what) {
    int code = run_logged(argv, log);
    if (int sig = interrupted_by()) {
        remove_build_dir();
        signal(sig, SIG_DFL);
        raise(sig);
    }
    if (code == 0) return;
    std::fflush(stdout);
    std::string output = read_text(log);
    std::fwrite(output.data(), 1, output.size(), stderr);
    std::string kept = g_keep_build ? " (build directory kept: " + ::quoted(g_build_dir) + ")" : "";
    if (code == 127)
        fail(what + " failed: cannot run " + ::quoted(argv[0]) + kept);
    fail(what + " failed: " + argv[0].substr(argv[0].rfind('/') + 1) + " exited with code " + std::to_string(code) +
         kept);
}

// Copies the built launcher to `out` through a temporary name.
static std::uint64_t copy_launcher(const std::string& built, const std::string& out) {
    int in = open(built.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) fail_errno("cannot open the built launcher " + ::quoted(built));
    OutputFile file;
    output_open(file, out);
    char buf[1 << 16];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail_errno("cannot read " + ::quoted(built));
        if (n == 0) break;
        output_write(file, buf, static_cast<std::size_t>(n));
    }
    close(in);
    std::uint64_t size = file.written;
    output_commit(file, 0777);
    return size;
}

int run_build(int argc, char** argv) {
    ParsedArgs args = parse_args(argc, argv, 2,
                                 {{"--main", "-m", true},
                                  {"--output", "-o", true},
                                  {"--target", nullptr, true},
                                  {"--target-spec", nullptr, true},
                                  {"--company", nullptr, true},
                                  {"--product", nullptr, true},
                                  {"--version", nullptr, true},
                                  {"--file-version", nullptr, true},
                                  {"--product-version", nullptr, true},
                                  {"--description", nullptr, true},
                                  {"--icon", nullptr, true},
                                  {"--keep-build", nullptr, false},
                                  {"--quiet", "-q", false}});
    if (args.help) {
        std::fputs(BUILD_HELP, stdout);
        return 0;
    }
    expect_positionals(args, {"APPDIR"});
    if (!has_option(args, "--main")) fail_usage("missing --main RELPATH");
    if (!has_option(args, "--output")) fail_usage("missing -o OUT");
    std::string target = has_option(args, "--target") ? args.options["--target"] : "native";
    if (target != "native" && target != "win32")
        fail_usage("unknown target " + ::quoted(target) + " (native or win32)");
    bool win32 = target == "win32";
    bool quiet = has_option(args, "--quiet");
    g_keep_build = has_option(args, "--keep-build");

    LauncherProject project;
    for (const auto& option : TEXT_OPTIONS) {
        if (!has_option(args, option[0])) continue;
        check_text(option[0], args.options[option[0]]);
        project.values[option[1]] = args.options[option[0]];
    }
    // One version number for all three unless they are given apart.
    if (has_option(args, "--version")) {
        project.values.emplace("FILE_VERSION", args.options["--version"]);
        project.values.emplace("PRODUCT_VERSION", args.options["--version"]);
    }

    std::string root = args.positional[0];
    struct stat st;
    if (stat(root.c_str(), &st) != 0) fail_errno("application directory " + ::quoted(root));
    if (!S_ISDIR(st.st_mode)) fail("application directory " + ::quoted(root) + ": not a directory");
    project.app_dir = absolute(root);
    project.main_rel = resolve_main(project.app_dir, args.options["--main"], false);
    if (has_option(args, "--icon")) {
        std::string icon = args.options["--icon"];
        if (stat(icon.c_str(), &st) != 0) fail_errno("icon " + ::quoted(icon));
        if (!S_ISREG(st.st_mode)) fail("icon " + ::quoted(icon) + ": not a regular file");
        project.values["ICON"] = absolute(icon);
    }
    std::string out = args.options["--output"];
    check_output(out);
    std::string base = out.substr(out.rfind('/') + 1);
    // The Windows resource names the file; CMake adds ".exe" itself.
    if (win32 && base.size() > 4) {
        std::string ext = base.substr(base.size() - 4);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".exe") base.resize(base.size() - 4);
    }
    project.output_name = base;

    std::string cmake = find_in_path("cmake");
    if (cmake.empty())
        fail("cmake not found in PATH: kay-pack build needs cmake 3.25 or newer (see kay-pack build --help)");
    if (win32 && find_in_path(WIN32_COMPILER).empty())
        fail(std::string("the win32 target needs the MinGW-w64 i686 compiler ") + WIN32_COMPILER +
             ", not found in PATH (see kay-pack build --help)");
    std::string self = self_path();
    KayPackage package = find_kay_package(self);

    // The build directory: everything below is removed at exit.
    const char* tmp = std::getenv("TMPDIR");
    std::string temp = std::string(tmp != nullptr && tmp[0] != 0 ? tmp : "/tmp") + "/kay-pack-build-XXXXXX";
    if (mkdtemp(temp.data()) == nullptr) fail_errno("cannot create a temporary directory in " + ::quoted(temp));
    g_build_dir = temp;
    std::atexit(remove_build_dir);
    install_signal_cleanup();

    std::string kay_dir = write_launcher_project(g_build_dir, package, project);
    std::string binary = g_build_dir + "/build";
    std::string log = g_build_dir + "/build.log";
    std::vector<std::string> configure{cmake, "-S", g_build_dir, "-B", binary, "-DCMAKE_BUILD_TYPE=Release",
                                       "-Dkay_DIR=" + kay_dir, "-DKAY_PACK_EXECUTABLE=" + self};
    std::string ninja = find_in_path("ninja");
    if (!ninja.empty()) {
        configure.push_back("-G");
        configure.push_back("Ninja");
    }
    if (win32) configure.push_back("-DCMAKE_TOOLCHAIN_FILE=" + package.toolchain);

    if (!quiet) {
        std::printf("configuring the %s launcher project%s\n", target.c_str(), ninja.empty() ? "" : " (Ninja)");
        std::fflush(stdout);
    }
    step(configure, log, "configuring the launcher project");
    if (!quiet) {
        std::printf("building the launcher\n");
        std::fflush(stdout);
    }
    step({cmake, "--build", binary, "--target", "launcher"}, log, "building the launcher");

    std::string built = read_text(binary + "/launcher-path.txt");
    std::uint64_t size = copy_launcher(built, out);
    if (g_keep_build) std::printf("build directory kept: %s\n", g_build_dir.c_str());
    if (!quiet) std::printf("%s: %s launcher, %llu bytes\n", out.c_str(), target.c_str(), (unsigned long long)size);
    return 0;
}
