// kay-pack build: a launcher for an application directory in one step,
// packed (as create does) and assembled (as assemble does) in this process.
#include <cstdio>
#include <filesystem>
#include <string>

#include "args.h"
#include "assemble.h"
#include "commands.h"
#include "create.h"
#include "fail.h"
#include "host.h"
#include "output_file.h"
#include "prebuilt.h"

static const char BUILD_HELP[] =
    "usage: kay-pack build APPDIR --main RELPATH -o OUT [options]\n"
    "\n"
    "Builds the launcher for APPDIR in one step: packs APPDIR as kay-pack create\n"
    "does into a temporary payload beside OUT, and writes the launcher onto the\n"
    "prebuilt launcher program of the target as kay-pack assemble does. Needs no\n"
    "compiler or other tool; OUT appears only when complete, and the same inputs\n"
    "give the same bytes.\n"
    "\n"
    "  --main RELPATH          main executable, relative to APPDIR ('/' or '\\')\n"
    "  -o, --output OUT        launcher to write (its directory must exist)\n"
    "%s"
    "%s"
    "  -q, --quiet             no progress line and no summary\n"
    "\n"
    "Exit codes: 0 done, 1 bad input or I/O failure, 2 bad command line.\n";

// OUT's directory must exist and OUT must not be a directory.
static void check_output(const std::string& out) {
    std::size_t slash = last_separator(out);
    std::string dir = slash == std::string::npos ? "." : out.substr(0, slash == 0 ? 1 : slash);
    std::string base = slash == std::string::npos ? out : out.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") fail(::quoted(out) + ": not a file name");
    std::error_code ec;
    std::filesystem::file_status st = std::filesystem::status(fs_path(dir), ec);
    if (ec) fail("output directory " + ::quoted(dir) + ": " + error_text(ec));
    if (!std::filesystem::is_directory(st)) fail("output directory " + ::quoted(dir) + ": not a directory");
    if (std::filesystem::is_directory(fs_path(out), ec)) fail(::quoted(out) + ": is a directory");
}

int run_build(int argc, char** argv) {
    std::vector<OptionSpec> specs = launcher_options();
    for (const OptionSpec& spec : create_options()) specs.push_back(spec);
    ParsedArgs args = parse_args(argc, argv, 2, specs);
    if (args.help) {
        std::printf(BUILD_HELP, LAUNCHER_OPTIONS_HELP, CREATE_OPTIONS_HELP);
        return 0;
    }
    expect_create_arguments(args, "OUT");
    AssembleRequest launcher = assemble_request(args);
    CreateRequest pack = create_request(args);
    pack.target = launcher.target;
    if (!launcher.icon.empty()) {
        std::error_code ec;
        std::filesystem::file_status st = std::filesystem::status(fs_path(launcher.icon), ec);
        if (ec) fail("icon " + ::quoted(launcher.icon) + ": " + error_text(ec));
        if (!std::filesystem::is_regular_file(st)) fail("icon " + ::quoted(launcher.icon) + ": not a regular file");
    }
    check_output(launcher.output);

    // The payload goes beside OUT under a name of its own, then away.
    std::size_t slash = last_separator(launcher.output);
    std::string dir = slash == std::string::npos ? "" : launcher.output.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? launcher.output : launcher.output.substr(slash + 1);
    pack.output = dir + "." + base + ".payload-XXXXXX";
    std::FILE* reserved = host_create_unique(pack.output);
    if (reserved == nullptr) fail_errno("cannot create " + ::quoted(launcher.output));
    std::fclose(reserved);
    int guard = guard_temp(pack.output);
    CreateResult packed = create_payload(pack);
    // The main program's header says which kind of launcher it needs.
    if (windows_target(launcher.target) && launcher.subsystem.empty()) {
        std::FILE* main = host_fopen(pack.root + "/" + packed.main_rel, "rb");
        char head[MAIN_HEAD_SIZE];
        std::size_t n = main != nullptr ? std::fread(head, 1, sizeof head, main) : 0;
        if (main != nullptr) std::fclose(main);
        launcher.main_head.assign(head, n);
    }
    launcher.main_head_known = true;
    bool gui = false;
    std::uint64_t size = assemble_launcher(launcher, pack.output, packed.main_rel, &gui, &packed.index);
    host_remove(pack.output);
    release_temp(guard);
    if (!pack.quiet)
        std::printf("%s: %s launcher, %llu bytes (%llu files, %llu bytes, payload %llu bytes)\n",
                    launcher.output.c_str(), launcher_kind_text(launcher, gui).c_str(), (unsigned long long)size,
                    (unsigned long long)packed.files, (unsigned long long)packed.bytes,
                    (unsigned long long)packed.payload_size);
    return 0;
}
