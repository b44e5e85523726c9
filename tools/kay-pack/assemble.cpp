// kay-pack assemble: a launcher from a payload file and the prebuilt
// launcher program of a target, in well under a second.
#include "assemble.h"

#include <cctype>
#include <cstdio>

#include "args.h"
#include "commands.h"
#include "fail.h"
#include "launcher_image.h"
#include "output_file.h"
#include "prebuilt.h"

static const char ASSEMBLE_HELP[] =
    "usage: kay-pack assemble PAYLOAD -o OUT [options]\n"
    "\n"
    "Writes a launcher for the payload file PAYLOAD (from kay-pack create or any\n"
    "writer of the format) onto the prebuilt launcher program of the target:\n"
    "the payload, an index of its entries and the constants below, plus for\n"
    "Windows a version resource, an application manifest (run as invoker,\n"
    "Windows 7 to 11, long paths) and the optional icon. Needs no compiler;\n"
    "OUT appears only when complete.\n"
    "\n"
    "  -o, --output OUT        launcher to write\n"
    "  --target native|win32|win64\n"
    "                          native: a program for this system (default);\n"
    "                          win32, win64: a 32- or 64-bit Windows console program\n"
    "  --launcher FILE         the prebuilt program (default: kay-launcher-TARGET,\n"
    "                          .exe for Windows, beside kay-pack or in the\n"
    "                          TARGET build tree beside kay-pack's)\n"
    "  --target-spec SPEC      where the launcher unpacks (default\n"
    "                          {CACHE_DIR}/Dorvan/Velmora/{VERSION}, with \\ for Windows)\n"
    "  --company TEXT          {COMPANY} (default Dorvan)\n"
    "  --product TEXT          {PRODUCT} (default Velmora Classic)\n"
    "  --version TEXT          {VERSION} (default 1.0.0.0)\n"
    "  --file-version TEXT     {FILE_VERSION} (default: --version, else 1.0.0.0)\n"
    "  --product-version TEXT  {PRODUCT_VERSION} (default: --version, else 1.0.0.0)\n"
    "  --description TEXT      Windows: the file description (default: the product)\n"
    "  --icon FILE.ico         Windows: the program's icon\n"
    "  -q, --quiet             print nothing unless something fails\n"
    "\n"
    "Exit codes: 0 done, 1 bad input, 2 bad command line.\n";

static std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::uint64_t assemble_launcher(const AssembleRequest& r) {
    std::string block = launcher_block(r.payload, r.constants);
    std::string program = read_whole_file(r.launcher, "prebuilt launcher");
    std::string image;
    if (windows_target(r.target)) {
        // The file names itself with ".exe", as Windows programs do.
        std::string file_name = base_name(r.output);
        std::string ext = file_name.size() >= 4 ? file_name.substr(file_name.size() - 4) : "";
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext != ".exe") file_name += ".exe";
        VersionTexts texts{r.constants.company, r.description,       r.constants.file_version,
                           r.constants.product, r.constants.product_version, file_name};
        image = pe_launcher(std::move(program), block, r.launcher, texts, r.icon);
    } else {
        image = elf_launcher(std::move(program), block, r.launcher);
    }
    OutputFile file;
    output_open(file, r.output);
    output_write(file, image.data(), image.size());
    output_commit(file, 0777);
    return image.size();
}

int run_assemble(int argc, char** argv) {
    ParsedArgs args = parse_args(argc, argv, 2,
                                 {{"--output", "-o", true},
                                  {"--target", nullptr, true},
                                  {"--launcher", nullptr, true},
                                  {"--target-spec", nullptr, true},
                                  {"--company", nullptr, true},
                                  {"--product", nullptr, true},
                                  {"--version", nullptr, true},
                                  {"--file-version", nullptr, true},
                                  {"--product-version", nullptr, true},
                                  {"--description", nullptr, true},
                                  {"--icon", nullptr, true},
                                  {"--quiet", "-q", false}});
    if (args.help) {
        std::fputs(ASSEMBLE_HELP, stdout);
        return 0;
    }
    expect_positionals(args, {"PAYLOAD"});
    if (!has_option(args, "--output")) fail_usage("missing -o OUT");
    AssembleRequest r;
    r.target = has_option(args, "--target") ? args.options["--target"] : "native";
    if (!known_target(r.target)) fail_usage("unknown target " + quoted(r.target) + " (native, win32 or win64)");
    for (const auto& [name, value] : args.options)
        for (unsigned char c : value)
            if ((c < 0x20 || c == 0x7f) && name != "--output" && name != "--launcher" && name != "--icon")
                fail_usage("option " + name + " must not contain control characters");
    auto text = [&](const char* option, const std::string& fallback) {
        return has_option(args, option) ? args.options[option] : fallback;
    };
    bool windows = windows_target(r.target);
    std::string version = text("--version", "1.0.0.0");
    r.constants = {text("--target-spec", windows ? "{CACHE_DIR}\\Dorvan\\Velmora\\{VERSION}"
                                                 : "{CACHE_DIR}/Dorvan/Velmora/{VERSION}"),
                   text("--company", "Dorvan"),
                   text("--product", "Velmora Classic"),
                   version,
                   text("--file-version", version),
                   text("--product-version", version)};
    r.description = text("--description", r.constants.product);
    r.icon = text("--icon", "");
    r.payload = args.positional[0];
    r.output = args.options["--output"];
    r.launcher = has_option(args, "--launcher") ? args.options["--launcher"] : find_prebuilt(r.target);
    std::uint64_t size = assemble_launcher(r);
    if (!has_option(args, "--quiet"))
        std::printf("%s: %s launcher, %llu bytes\n", r.output.c_str(), r.target.c_str(), (unsigned long long)size);
    return 0;
}
