// Test probe: the program the test payloads start. It reports what it was
// given and does what the environment tells it:
//   PROBE_OUT=file   write the report there instead of standard output
//   PROBE_EXIT=n     exit with n (unsigned 32-bit, decimal)
//   PROBE_IGNORE_INT=1  ignore Ctrl+C / SIGINT
//   PROBE_SLEEP_MS=n sleep before exiting
//   PROBE_SAY=text   write text to standard output and standard error
// Arguments are reported hex-encoded (UTF-8), so every byte is visible.
// On Windows it is also built as a GUI program (kay-probe-gui).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

static const char* const VARIABLES[] = {
    "KOLVEX_ONEFILE_PARENT", "KOLVEX_ONEFILE_DIRECTORY", "KOLVEX_ORIGINAL_ARGV0",
    "KOLVEX_ONEFILE_START", "KOLVEX_ONEFILE_TIME_US", "KOLVEX_ONEFILE_RANDOM"};

static std::string hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

#if defined(_WIN32)
static std::string utf8(const wchar_t* w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
    return s;
}
#endif

int main(int argc, char** argv) {
    std::string report;
#if defined(_WIN32)
    report += "cmdline=" + hex(utf8(GetCommandLineW())) + "\n";
    int count = 0;
    wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
    report += "argc=" + std::to_string(count) + "\n";
    for (int i = 0; i < count; i++) report += "arg=" + hex(utf8(split[i])) + "\n";
    wchar_t cwd[4096];
    GetCurrentDirectoryW(4096, cwd);
    report += "cwd=" + hex(utf8(cwd)) + "\n";
    wchar_t self[4096];
    GetModuleFileNameW(nullptr, self, 4096);
    report += "self=" + hex(utf8(self)) + "\n";
    // The parent's id, from the system's process list.
    DWORD parent = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry)) {
            if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
        }
        CloseHandle(snap);
    }
    report += "ppid=" + std::to_string(parent) + "\n";
    // Whether it was given a console window (a GUI launcher's child is not).
    report += std::string("console=") + (GetConsoleWindow() != nullptr ? "1" : "0") + "\n";
#else
    report += "argc=" + std::to_string(argc) + "\n";
    for (int i = 0; i < argc; i++) report += "arg=" + hex(argv[i]) + "\n";
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = 0;
    report += "cwd=" + hex(cwd) + "\n";
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = 0;
    report += "self=" + hex(self) + "\n";
    report += "ppid=" + std::to_string(getppid()) + "\n";
#endif
    (void)argv;
    for (const char* name : VARIABLES) {
        const char* value = std::getenv(name);
        report += std::string("env ") + name + (value ? "=" + hex(value) : std::string(" unset")) + "\n";
    }

    const char* out = std::getenv("PROBE_OUT");
    if (out != nullptr && out[0] != 0) {
        FILE* f = std::fopen(out, "wb");
        if (f != nullptr) {
            std::fwrite(report.data(), 1, report.size(), f);
            std::fclose(f);
        }
    } else {
        std::fwrite(report.data(), 1, report.size(), stdout);
    }
    const char* say = std::getenv("PROBE_SAY");
    if (say != nullptr) {
        std::fprintf(stdout, "%s\n", say);
        std::fprintf(stderr, "%s\n", say);
    }
    std::fflush(stdout);

    if (std::getenv("PROBE_IGNORE_INT") != nullptr) {
#if defined(_WIN32)
        SetConsoleCtrlHandler(nullptr, TRUE);
#else
        signal(SIGINT, SIG_IGN);
        signal(SIGTERM, SIG_IGN);
        signal(SIGHUP, SIG_IGN);
#endif
    }
    const char* sleep_ms = std::getenv("PROBE_SLEEP_MS");
    if (sleep_ms != nullptr) {
        long ms = std::atol(sleep_ms);
#if defined(_WIN32)
        Sleep(static_cast<DWORD>(ms));
#else
        usleep(static_cast<useconds_t>(ms) * 1000);
#endif
    }
    const char* code = std::getenv("PROBE_EXIT");
    unsigned long value = code != nullptr ? std::strtoul(code, nullptr, 10) : 0;
#if defined(_WIN32)
    ExitProcess(static_cast<UINT>(value));
#else
    return static_cast<int>(value);
#endif
}
