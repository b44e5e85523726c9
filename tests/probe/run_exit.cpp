// Starts a program, waits for it and prints its whole 32-bit exit code as
// "exit=<decimal>": Wine's own exit status keeps only the low 8 bits.
// Usage: kay-run-exit <program> [<rest>]   (its command line: "<program>" <rest>)
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: kay-run-exit <program> [<rest>]\n");
        return 100;
    }
    std::wstring line = L"\"" + std::wstring(argv[1]) + L"\"" + (argc == 3 ? L" " + std::wstring(argv[2]) : L"");
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessW(argv[1], &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "cannot start: %lu\n", GetLastError());
        return 101;
    }
    CloseHandle(pi.hThread);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(pi.hProcess, &code)) {
        std::fprintf(stderr, "no exit code: %lu\n", GetLastError());
        return 102;
    }
    std::printf("exit=%lu\n", static_cast<unsigned long>(code));
    return 0;
}
