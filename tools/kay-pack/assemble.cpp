// kay-pack assemble: a launcher from a payload file and the prebuilt
// launcher program of a target, in well under a second.
#include "assemble.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "format/launcher_file.h"
#include "format/tokens.h"
#include "kay_pack_config.h"
#include "fail.h"
#include "launcher_image.h"
#include "names.h"
#include "output_file.h"
#include "pe_resources.h"
#include "prebuilt.h"

static const char ASSEMBLE_HELP[] =
    "usage: kay-pack assemble PAYLOAD -o OUT [options]\n"
    "\n"
    "Writes a launcher for the payload file PAYLOAD (from kay-pack create or any\n"
    "writer of the format) onto the prebuilt launcher program of the target:\n"
    "the payload, an index of its entries and the constants below, plus for\n"
    "Windows a version resource, an application manifest (run as invoker,\n"
    "Windows 7 to 11, long paths) and the optional icon. Needs no compiler;\n"
    "OUT appears only when complete, and the same inputs give the same bytes.\n"
    "\n"
    "  -o, --output OUT        launcher to write\n"
    "%s"
    "  -q, --quiet             print nothing unless something fails\n"
    "\n"
    "Exit codes: 0 done, 1 bad input, 2 bad command line.\n";

const char LAUNCHER_OPTIONS_HELP[] =
    "  --target native|linux-arm64|win32|win64\n"
    "                          native: a program for this system (default; on\n"
    "                          x86-64 Linux also named linux-x86_64, and for\n"
    "                          kay-pack.exe that x86-64 Linux program);\n"
    "                          linux-arm64: a program for 64-bit ARM Linux;\n"
    "                          win32, win64: a 32- or 64-bit Windows program\n"
    "  --subsystem console|windows\n"
    "                          Windows: a console launcher, or a GUI one that never\n"
    "                          opens a console and shows errors in a message box\n"
    "                          (default: as the main program's PE header says;\n"
    "                          console for a main program that is no PE file)\n"
    "  --launcher FILE         the prebuilt program (default: kay-launcher-TARGET,\n"
    "                          -gui for the GUI kind, .exe for Windows, beside\n"
    "                          kay-pack, in ../lib/kay from it, or in the TARGET\n"
    "                          build tree beside kay-pack's); alone, its own kind\n"
    "                          is the launcher's\n"
    "  --gui-launcher FILE     Windows: with --launcher, the prebuilt GUI program\n"
    "                          taken instead when the GUI kind is chosen\n"
    "  --target-spec SPEC      where the launcher unpacks (default\n"
    "                          {CACHE_DIR}/{COMPANY}/{PRODUCT}/{VERSION}-DIGEST, with\n"
    "                          \\ for Windows, DIGEST 12 hex digits of the payload's\n"
    "                          index); the values it names must be folder names\n"
    "  --company TEXT          {COMPANY} (default " KAY_DEFAULT_COMPANY ")\n"
    "  --product TEXT          {PRODUCT} (default: the main program's file name,\n"
    "                          without .exe)\n"
    "  --version TEXT          {VERSION} (default " KAY_DEFAULT_VERSION ")\n"
    "  --file-version TEXT     {FILE_VERSION} (default: --version, else " KAY_DEFAULT_VERSION ")\n"
    "  --product-version TEXT  {PRODUCT_VERSION} (default: --version, else " KAY_DEFAULT_VERSION ")\n"
    "  --description TEXT      Windows: the file description (default: the product)\n"
    "  --icon FILE.ico         Windows: the program's icon\n"
    "  --progress              a console launcher writes one progress line to\n"
    "                          standard error while a long unpacking (over a\n"
    "                          second) runs, when that is a terminal, erased before\n"
    "                          the application starts (GUI launchers show a window)\n"
    "  --check record|content  how a start proves the unpacked files: by their\n"
    "                          status against the record of the last start that\n"
    "                          read them (record, the default), or by reading\n"
    "                          every file at every start (content)\n"
    "  --keep-versions N|all   a start removes, while its application runs, the\n"
    "                          product's versions in the folders beside its own\n"
    "                          that are not among the N most recently used, its\n"
    "                          own counted (default 2; all keeps every one)\n";

std::vector<OptionSpec> launcher_options() {
    return {{"--target", nullptr, true},       {"--launcher", nullptr, true},     {"--target-spec", nullptr, true},
            {"--subsystem", nullptr, true},    {"--gui-launcher", nullptr, true}, {"--progress", nullptr, false},
            {"--check", nullptr, true},        {"--keep-versions", nullptr, true},
            {"--company", nullptr, true},      {"--product", nullptr, true},      {"--version", nullptr, true},
            {"--file-version", nullptr, true}, {"--product-version", nullptr, true}, {"--description", nullptr, true},
            {"--icon", nullptr, true}};
}

static const char* const TEXT_OPTIONS[] = {"--target-spec", "--company", "--product", "--version",
                                           "--file-version", "--product-version", "--description"};

AssembleRequest assemble_request(const ParsedArgs& args) {
    auto text = [&](const char* option, const std::string& fallback) {
        auto it = args.options.find(option);
        return it != args.options.end() ? it->second : fallback;
    };
    AssembleRequest r;
    r.target = text("--target", "native");
    if (NATIVE_NAME[0] != 0 && r.target == NATIVE_NAME) r.target = "native";
    if (!known_target(r.target)) fail_usage("unknown target " + ::quoted(r.target) + " (native, linux-arm64, win32 or win64)");
    for (const char* option : TEXT_OPTIONS)
        for (unsigned char c : text(option, ""))
            if (c < 0x20 || c == 0x7f) fail_usage(std::string("option ") + option + " must not contain control characters");
    std::string version = text("--version", KAY_DEFAULT_VERSION);
    r.constants = {text("--target-spec", ""), text("--company", KAY_DEFAULT_COMPANY), text("--product", ""), version,
                   text("--file-version", version), text("--product-version", version)};
    // The version resource holds the file and product versions.
    if (windows_target(r.target))
        for (const char* option : {"--file-version", "--product-version"})
            check_version_fields(has_option(args, option) ? option : "--version", text(option, version));
    r.constants.progress_line = has_option(args, "--progress");
    std::string check = text("--check", "record");
    if (check != "record" && check != "content") fail_usage("unknown check " + ::quoted(check) + " (record or content)");
    r.constants.check_content = check == "content";
    std::string keep = text("--keep-versions", "2");
    char* end = nullptr;
    unsigned long versions = keep == "all" ? KAY_KEEP_ALL : std::strtoul(keep.c_str(), &end, 10);
    if (keep != "all" && (keep.empty() || !std::isdigit(static_cast<unsigned char>(keep[0])) || *end != 0 ||
                          versions < 1 || versions >= KAY_KEEP_ALL))
        fail_usage("option --keep-versions needs a whole number from 1 to " + std::to_string(KAY_KEEP_ALL - 1) +
                   " or all, not " + ::quoted(keep));
    r.constants.keep_versions = versions == KAY_KEEP_DEFAULT ? 0 : static_cast<std::uint32_t>(versions);
    r.spec_given = has_option(args, "--target-spec");
    r.product_given = has_option(args, "--product");
    r.description = text("--description", "");
    r.icon = text("--icon", "");
    r.output = text("--output", "");
    r.launcher = text("--launcher", "");
    r.gui_launcher = text("--gui-launcher", "");
    r.subsystem = text("--subsystem", "");
    if (has_option(args, "--subsystem") && r.subsystem != "console" && r.subsystem != "windows")
        fail_usage("unknown subsystem " + ::quoted(r.subsystem) + " (console or windows)");
    for (const char* option : {"--subsystem", "--gui-launcher"})
        if (has_option(args, option) && !windows_target(r.target))
            fail_usage(std::string("option ") + option + " applies to Windows targets only");
    return r;
}

// The product a launcher gets by default: the main program's file name
// without ".exe".
static std::string product_of_main(std::string main) {
    std::replace(main.begin(), main.end(), '\\', '/');
    std::string name = main.substr(main.rfind('/') + 1);
    if (name.size() > 4) {
        std::string ext = name.substr(name.size() - 4);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".exe") name.resize(name.size() - 4);
    }
    return name;
}

// "{NAME}" of a token.
static std::string braced(kay_token token) { return std::string("{") + TOKEN_NAMES[token] + "}"; }

// Whether the target specification names `token`, in any case.
static bool spec_names(const std::string& spec, kay_token token) {
    std::string upper = spec;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper.find(braced(token)) != std::string::npos;
}

// A value that becomes part of the target directory must be one folder
// name that Windows and Linux can both hold.
static void check_folder_name(const std::string& what, const std::string& value) {
    std::string why;
    if (value.empty()) why = "is empty";
    else if (value == "." || value == "..") why = "is not a name";
    else if (value.back() == '.' || value.back() == ' ') why = "ends with '" + value.substr(value.size() - 1) + "'";
    for (char c : value)
        if (why.empty() && std::strchr("<>:\"/\\|?*", c) != nullptr) why = std::string("holds '") + c + "'";
    if (!why.empty())
        fail(what + " " + ::quoted(value) + " " + why +
             ", which a folder name cannot (it is part of the target directory)");
}

// The target folder without --target-spec: below the company, product and
// version, with a digest of the payload's entries after the version, so two
// applications whose main programs share a name, or two builds of one
// version, never unpack over each other.
static std::string default_target_spec(const BlockPayload& payload, bool windows) {
    std::string entries = payload.whole ? index_bytes(payload.index) : payload.bytes;
    std::uint64_t digest = index_digest(reinterpret_cast<const unsigned char*>(entries.data()), entries.size());
    char text[16];
    std::snprintf(text, sizeof text, "-%012llx", static_cast<unsigned long long>(digest >> 16));
    const char* sep = windows ? "\\" : "/";
    return braced(TOKEN_CACHE_DIR) + sep + braced(TOKEN_COMPANY) + sep + braced(TOKEN_PRODUCT) + sep +
           braced(TOKEN_VERSION) + text;
}

static std::string base_name(const std::string& path) {
    std::size_t at = last_separator(path);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string launcher_kind_text(const AssembleRequest& r, bool gui) { return r.target + (gui ? " GUI" : ""); }

static bool gui_program(const std::string& bytes) {
    return pe_subsystem(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == PE_SUBSYSTEM_GUI;
}

// The prebuilt program of the kind asked for (--subsystem), else of the
// given --launcher's own kind when it comes alone, else of the main
// program's kind; read into `program`. Fails when the program is of the
// other kind.
static std::string choose_prebuilt(const AssembleRequest& r, const std::string& main_head, std::string& program,
                                   bool* gui) {
    bool windows = windows_target(r.target);
    bool alone = !r.launcher.empty() && r.gui_launcher.empty();
    std::string path = alone ? r.launcher : "";
    if (alone) program = read_whole_file(path, "prebuilt launcher");
    *gui = windows && (!r.subsystem.empty() ? r.subsystem == "windows" : alone ? gui_program(program) : gui_program(main_head));
    if (!alone) {
        path = *gui ? r.gui_launcher : r.launcher;
        if (path.empty()) path = find_prebuilt(r.target, *gui);
        program = read_whole_file(path, "prebuilt launcher");
    }
    if (windows && gui_program(program) != *gui)
        fail("prebuilt launcher " + ::quoted(path) + ": a " + (*gui ? "console" : "GUI") + " program, not the " +
             (*gui ? "GUI" : "console") + " launcher" + (r.subsystem.empty() ? " the main program needs" : " asked for"));
    return path;
}

std::uint64_t assemble_launcher(AssembleRequest r, const std::string& payload_path, const std::string& main_rel,
                                bool* gui, const std::vector<IndexEntry>* index) {
    bool windows = windows_target(r.target);
    BlockPayload payload = read_block_payload(payload_path, index);
    std::string program;
    r.launcher = choose_prebuilt(r, r.main_head_known ? r.main_head : payload.main_head, program, gui);
    // The target's file system must keep every entry apart.
    NameSet names{name_rules(windows), {}};
    for (std::size_t i = 0; i < payload.index.size(); i++) {
        const std::u16string& name = payload.index[i].name;
        if (const auto* earlier = name_set_add(names, name, i + 1))
            fail(::quoted(payload_path) + ": entries " + std::to_string(earlier->first) + " " +
                 ::quoted(display_name(earlier->second)) + " and " + std::to_string(i + 1) + " " +
                 ::quoted(display_name(name)) + " are the same file " + same_file_text(names.rules));
    }
    LauncherConstants& c = r.constants;
    if (!r.product_given) {
        std::string main = main_rel;
        if (main.empty() && !payload.index.empty()) utf16_to_utf8(payload.index.front().name, main);
        c.product = main.empty() ? KAY_DEFAULT_PRODUCT : product_of_main(main);
    }
    if (!r.spec_given) c.target_spec = default_target_spec(payload, windows);
    const std::pair<kay_token, const std::string*> named[] = {
        {TOKEN_COMPANY, &c.company}, {TOKEN_PRODUCT, &c.product}, {TOKEN_VERSION, &c.version},
        {TOKEN_FILE_VERSION, &c.file_version}, {TOKEN_PRODUCT_VERSION, &c.product_version}};
    for (const auto& [token, value] : named) {
        // The option that sets the token: --company, --file-version, ...
        std::string option = "--" + std::string(TOKEN_NAMES[token]);
        for (char& ch : option) ch = ch == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        std::string what = token == TOKEN_PRODUCT && !r.product_given ? "the product (the main program's name)" : option;
        if (spec_names(c.target_spec, token)) check_folder_name(what, *value);
    }
    if (r.description.empty()) r.description = c.product;

    std::string block = launcher_block(payload, c);
    payload = BlockPayload{};
    std::string image;
    if (windows) {
        // The file names itself with ".exe", as Windows programs do.
        std::string file_name = base_name(r.output);
        std::string ext = file_name.size() >= 4 ? file_name.substr(file_name.size() - 4) : "";
        for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (ext != ".exe") file_name += ".exe";
        VersionTexts texts{c.company, r.description, c.file_version, c.product, c.product_version, file_name};
        image = pe_launcher(std::move(program), block, r.launcher, texts, r.icon);
    } else {
        image = elf_launcher(std::move(program), block, r.launcher, r.target == "linux-arm64");
    }
    OutputFile file;
    output_open(file, r.output);
    output_write(file, image.data(), image.size());
    output_commit(file, 0777);
    return image.size();
}

int run_assemble(int argc, char** argv) {
    std::vector<OptionSpec> specs = launcher_options();
    specs.push_back(OUTPUT_OPTION);
    specs.push_back(QUIET_OPTION);
    ParsedArgs args = parse_args(argc, argv, 2, specs);
    if (args.help) {
        std::printf(ASSEMBLE_HELP, LAUNCHER_OPTIONS_HELP);
        return 0;
    }
    expect_positionals(args, {"PAYLOAD"});
    if (!has_option(args, "--output")) fail_usage("missing -o OUT");
    AssembleRequest r = assemble_request(args);
    bool gui = false;
    std::uint64_t size = assemble_launcher(r, args.positional[0], "", &gui);
    if (!has_option(args, "--quiet"))
        std::printf("%s: %s launcher, %llu bytes\n", r.output.c_str(), launcher_kind_text(r, gui).c_str(),
                    (unsigned long long)size);
    return 0;
}
