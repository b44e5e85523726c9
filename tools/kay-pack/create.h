// Packing an application directory into a payload file (kay-pack create,
// and the first half of kay-pack build).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "args.h"
#include "launcher_block.h"

struct CreateRequest {
    std::string root;    // application directory
    std::string main;    // --main as given
    std::string output;  // payload file to write
    std::string target;  // the launcher's target (build), or "" (create)
    int level = 0;
    int threads = 1;
    bool follow_symlinks = false;
    bool quiet = false;  // no progress line
};

struct CreateResult {
    std::string main_rel;  // the main program, relative, '/' separators
    std::uint64_t files = 0, bytes = 0, frame_size = 0, payload_size = 0;
    std::vector<IndexEntry> index;  // the entries written, in payload order
};

CreateResult create_payload(const CreateRequest& request);

// The options create and build share, with their help text.
extern const char CREATE_OPTIONS_HELP[];

// The options create and build share (--main, -o, --level, --threads,
// --follow-symlinks, --quiet), for parse_args.
std::vector<OptionSpec> create_options();
// APPDIR, --main and -o present; -o is named `output_name` when missing.
void expect_create_arguments(const ParsedArgs& args, const char* output_name);
// The request from parsed create/build options.
CreateRequest create_request(const ParsedArgs& args);
