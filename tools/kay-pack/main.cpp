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

static const char MAIN_HELP[] =
    "usage: kay-pack COMMAND [options]\n"
    "\n"
    "Commands:\n"
    "  create APPDIR --main RELPATH -o FILE   pack a directory into a payload\n"
    "  list FILE [--json]                     list a payload's entries\n"
    "  verify FILE                            check a payload or launcher as the launcher reads it\n"
    "  extract FILE DIR                       unpack a payload into a directory\n"
    "  build APPDIR --main RELPATH -o OUT     build the launcher for a directory\n"
    "  assemble PAYLOAD -o OUT                write the launcher for a payload\n"
    "\n"
    "kay-pack COMMAND --help describes each command.\n";

static int run(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(MAIN_HELP, stderr);
        return EXIT_USAGE;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 || std::strcmp(command, "help") == 0) {
        std::fputs(MAIN_HELP, stdout);
        return 0;
    }
    if (std::strcmp(command, "create") == 0) return run_create(argc, argv);
    if (std::strcmp(command, "list") == 0) return run_list(argc, argv);
    if (std::strcmp(command, "verify") == 0) return run_verify(argc, argv);
    if (std::strcmp(command, "extract") == 0) return run_extract(argc, argv);
    if (std::strcmp(command, "build") == 0) return run_build(argc, argv);
    if (std::strcmp(command, "assemble") == 0) return run_assemble(argc, argv);
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
