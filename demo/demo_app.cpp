// The demo application carried by `make demo`: it shows what a program
// started by a kay launcher sees.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

static const char* const VARIABLES[] = {
    "KOLVEX_ONEFILE_PARENT", "KOLVEX_ONEFILE_DIRECTORY", "KOLVEX_ORIGINAL_ARGV0",
    "KOLVEX_ONEFILE_START", "KOLVEX_ONEFILE_TIME_US", "KOLVEX_ONEFILE_RANDOM"};

int main(int argc, char** argv) {
    std::printf("Hello from the kay demo application.\n\n");
#if defined(_WIN32)
    std::printf("command line: %ls\n", GetCommandLineW());
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::printf("running from: %s\n", path);
#else
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    path[n > 0 ? n : 0] = 0;
    std::printf("running from: %s\n", path);
    std::printf("parent pid:   %ld\n", static_cast<long>(getppid()));
#endif
    std::printf("arguments:\n");
    for (int i = 0; i < argc; i++) std::printf("  argv[%d] = [%s]\n", i, argv[i]);
    std::printf("environment:\n");
    for (const char* name : VARIABLES) {
        const char* value = std::getenv(name);
        std::printf("  %-25s %s\n", name, value ? value : "(not set)");
    }
    const char* data = argc > 0 ? argv[0] : "";
    (void)data;
    return 0;
}
