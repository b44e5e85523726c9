// kay-pack: writes, lists, verifies and extracts the payloads of kay launchers,
// and builds launchers.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#endif

#include "commands.h"
#include "fail.h"

#include "kay_pack_config.h"

// Every command, in the order the help lists them.
struct Command {
    const char* name;
    const char* arguments;  // for the help
    const char* summary;
    int (*run)(int argc, char** argv);
};
static const Command COMMANDS[] = {
    {"create", "APPDIR --main RELPATH -o FILE", "pack a directory into a payload", run_create},
    {"list", "FILE [--json]", "list a payload's entries", run_list},
    {"verify", "FILE", "check a payload or launcher as the launcher reads it", run_verify},
    {"extract", "FILE DIR", "unpack a payload into a directory", run_extract},
    {"build", "APPDIR --main RELPATH -o OUT", "build the launcher for a directory", run_build},
    {"assemble", "PAYLOAD -o OUT", "write the launcher for a payload", run_assemble},
};

static void print_help(std::FILE* out) {
    std::fputs("usage: kay-pack COMMAND [options]\n\nCommands:\n", out);
    for (const Command& c : COMMANDS) {
        std::string usage = std::string(c.name) + " " + c.arguments;
        std::fprintf(out, "  %-38s %s\n", usage.c_str(), c.summary);
    }
    std::fputs("\nkay-pack COMMAND --help describes each command.\n", out);
}

static int run(int argc, char** argv) {
    if (argc < 2) {
        print_help(stderr);
        return EXIT_USAGE;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 || std::strcmp(command, "help") == 0) {
        print_help(stdout);
        return 0;
    }
    if (std::strcmp(command, "--version") == 0) {
        std::puts("kay-pack " KAY_PROJECT_VERSION);
        return 0;
    }
    // Every command that writes guards its temporary files against these.
    install_signal_cleanup();
    for (const Command& c : COMMANDS)
        if (std::strcmp(command, c.name) == 0) return c.run(argc, argv);
    fail_usage("unknown command " + quoted(command));
}

#ifdef _WIN32
// Arguments as UTF-8, like every path and text inside kay-pack; the
// console shows what is printed as UTF-8 too.
int wmain(int argc, wchar_t** wargv) {
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 0; i < argc; i++) {
        int n = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, arg.data(), n, nullptr, nullptr);
        args.push_back(arg);
    }
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return run(argc, argv.data());
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
