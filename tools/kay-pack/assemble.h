// Writing a launcher without a compiler: prebuilt program + data block
// (+ resources for Windows). Shared by kay-pack assemble and build.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "args.h"
#include "launcher_block.h"

struct AssembleRequest {
    std::string target;     // native, linux-arm64, win32 or win64
    std::string launcher;   // the prebuilt program (--launcher), or ""
    std::string gui_launcher;  // Windows: the prebuilt GUI program (--gui-launcher), or ""
    std::string subsystem;     // Windows: "console", "windows", or "" to follow the main program
    std::string main_head;     // build: the main program's first bytes, read from disk
    bool main_head_known = false;
    std::string output;
    LauncherConstants constants;
    bool product_given = false;  // else: the main program's name
    bool spec_given = false;     // else: {CACHE_DIR}/{COMPANY}/{PRODUCT}/{VERSION}-<index digest>
    std::string description;     // Windows: the file description ("": the product)
    std::string icon;            // Windows: .ico file, or ""
};

// The options that say what launcher to write (target, prebuilt program,
// constants, Windows resources), for parse_args, and their help.
std::vector<OptionSpec> launcher_options();
extern const char LAUNCHER_OPTIONS_HELP[];

// The request from parsed options; fails on bad ones (unknown target,
// control characters).
AssembleRequest assemble_request(const ParsedArgs& args);

// The launcher's kind for a printed summary: "win64", "win64 GUI", ...
std::string launcher_kind_text(const AssembleRequest& request, bool gui);

// Writes the launcher for `payload` to request.output (which appears only
// when complete) and returns its size; *gui says whether it is the GUI
// (Windows-subsystem) kind. `main_rel` is the main program's
// path, for the default product; "" takes it from the payload's first entry.
// `index`, when not nullptr, is the payload's, known from writing it.
std::uint64_t assemble_launcher(AssembleRequest request, const std::string& payload, const std::string& main_rel,
                                bool* gui, const std::vector<IndexEntry>* index = nullptr);
