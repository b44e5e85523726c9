#include "args.h"

#include <cerrno>
#include <cstdlib>

#include "fail.h"

static const OptionSpec* find_spec(const std::vector<OptionSpec>& specs, const std::string& name) {
    for (const OptionSpec& spec : specs)
        if (name == spec.name || (spec.alias != nullptr && name == spec.alias)) return &spec;
    return nullptr;
}

ParsedArgs parse_args(int argc, char** argv, int first, const std::vector<OptionSpec>& specs) {
    ParsedArgs args;
    bool options_done = false;
    for (int i = first; i < argc; i++) {
        std::string arg = argv[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            args.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            args.help = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool inline_value = false;
        std::size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inline_value = true;
        }
        const OptionSpec* spec = find_spec(specs, name);
        if (spec == nullptr) fail_usage("unknown option " + quoted(name));
        if (spec->takes_value) {
            if (!inline_value) {
                if (i + 1 >= argc) fail_usage("option " + quoted(name) + " needs a value");
                value = argv[++i];
            }
        } else if (inline_value) {
            fail_usage("option " + quoted(name) + " takes no value");
        }
        args.options[spec->name] = value;
    }
    return args;
}

bool has_option(const ParsedArgs& args, const char* name) { return args.options.count(name) != 0; }

long int_option(const ParsedArgs& args, const char* name, long min, long max, long fallback) {
    auto it = args.options.find(name);
    if (it == args.options.end()) return fallback;
    const std::string& text = it->second;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || errno != 0 || value < min || value > max)
        fail_usage(std::string("option ") + name + " needs a whole number from " + std::to_string(min) +
                   " to " + std::to_string(max) + ", not " + quoted(text));
    return value;
}

void expect_positionals(const ParsedArgs& args, const std::vector<const char*>& names) {
    if (args.positional.size() < names.size())
        fail_usage(std::string("missing ") + names[args.positional.size()]);
    if (args.positional.size() > names.size())
        fail_usage("unexpected argument " + quoted(args.positional[names.size()]));
}
