// A tiny application to pack: greets, lists its data file, exits with the
// number of arguments it was given.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    std::printf("hello from the example application (%d arguments)\n", argc - 1);
    for (int i = 1; i < argc; i++) std::printf("  %s\n", argv[i]);
    const char* dir = std::getenv("KOLVEX_ONEFILE_DIRECTORY");
    std::printf("launcher folder: %s\n", dir ? dir : "(not set)");
    return argc - 1;
}
