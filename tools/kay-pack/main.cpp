// kay-pack: writes, lists, verifies and extracts the payloads of kay launchers,
// and builds launchers.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "fail.h"

static const char MAIN_HELP[] =
    "usage: kay-pack COMMAND [options]\n"
    "\n"
    "Commands:\n"
    "  create APPDIR --main RELPATH -o FILE   pack a directory into a payload\n"
    "  list FILE [--json]                     list a payload's entries\n"
    "  verify FILE                            check a payload as the launcher reads it\n"
    "  extract FILE DIR                       unpack a payload into a directory\n"
    "  build APPDIR --main RELPATH -o OUT     build a launcher for a directory (needs cmake)\n"
    "  assemble PAYLOAD -o OUT                write a launcher for a payload (no compiler)\n"
    "\n"
    "kay-pack COMMAND --help describes each command.\n";

int main(int argc, char** argv) {
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
