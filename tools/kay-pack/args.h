// Command-line parsing shared by the subcommands.
#pragma once

#include <map>
#include <string>
#include <vector>

struct OptionSpec {
    const char* name;   // "--output"
    const char* alias;  // "-o" or nullptr
    bool takes_value;
};

// Options several commands take.
inline constexpr OptionSpec MAIN_OPTION{"--main", "-m", true};
inline constexpr OptionSpec OUTPUT_OPTION{"--output", "-o", true};
inline constexpr OptionSpec QUIET_OPTION{"--quiet", "-q", false};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // by long name; flags map to ""
    bool help = false;
};

// Parses argv[first..argc); options may come before or after positionals,
// "--name=value" and "--name value" both work, "--" ends the options.
ParsedArgs parse_args(int argc, char** argv, int first, const std::vector<OptionSpec>& specs);

bool has_option(const ParsedArgs& args, const char* name);
// Integer value of `name` within [min, max], or `fallback` when absent.
long int_option(const ParsedArgs& args, const char* name, long min, long max, long fallback);
// Exactly `count` positionals, named in the message when missing.
void expect_positionals(const ParsedArgs& args, const std::vector<const char*>& names);
