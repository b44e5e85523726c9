// Child processes and console events through the Win32 API.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "platform/paths.h"
#include "platform/win32/win32_internal.h"

namespace kay_win32 {

static kay_console_handler g_handler;

static BOOL WINAPI console_trampoline(DWORD event) { return g_handler(event) ? TRUE : FALSE; }

bool register_console_handler(kay_console_handler handler) {
    g_handler = handler;
    return SetConsoleCtrlHandler(console_trampoline, TRUE) != 0;
}

wchar_t** command_line_args(int* count) { return CommandLineToArgvW(GetCommandLineW(), count); }

bool start_process(const wchar_t* program, wchar_t* command_line, wchar_t* const* argv,
                   kay_process* process) {
    (void)argv;
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessW(program, command_line, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    *process = to_handle<kay_process>(pi.hProcess);
    return true;
}

kay_wait_result wait_process(kay_process process, std::uint32_t timeout_ms) {
    DWORD rc = WaitForSingleObject(system_handle(process),
                                   timeout_ms == KAY_WAIT_INFINITE ? INFINITE : timeout_ms);
    if (rc == WAIT_OBJECT_0) return KAY_WAIT_DONE;
    return rc == WAIT_TIMEOUT ? KAY_WAIT_TIMEOUT : KAY_WAIT_FAILED;
}

bool exit_code(kay_process process, std::uint32_t* code) {
    DWORD value = 0;
    if (!GetExitCodeProcess(system_handle(process), &value)) return false;
    *code = value;
    return true;
}

void terminate_process(kay_process process, std::uint32_t code) {
    TerminateProcess(system_handle(process), code);
}

void close_process(kay_process process) { CloseHandle(system_handle(process)); }

void forward_event(kay_process process, std::uint32_t event) {
    (void)process;
    (void)event;
}

// The mutex is named after the full path with its letters folded, since
// Windows paths ignore case.
kay_wait_result lock_target(const wchar_t* dir, std::uint32_t timeout_ms, kay_lock* lock) {
    static wchar_t folded[4096];
    int n = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, dir, -1, folded, 4096);
    if (n <= 0) return KAY_WAIT_FAILED;
    wchar_t name[KAY_LOCK_NAME_CAPACITY];
    kay_lock_name(folded, name);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr) return KAY_WAIT_FAILED;
    // An abandoned mutex (its holder died) is owned all the same.
    DWORD rc = WaitForSingleObject(mutex, timeout_ms);
    if (rc != WAIT_OBJECT_0 && rc != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return rc == WAIT_TIMEOUT ? KAY_WAIT_TIMEOUT : KAY_WAIT_FAILED;
    }
    *lock = to_handle<kay_lock>(mutex);
    return KAY_WAIT_DONE;
}

void unlock_target(kay_lock lock) {
    ReleaseMutex(system_handle(lock));
    CloseHandle(system_handle(lock));
}

}  // namespace kay_win32

void kay_exit_with_child_code(std::uint32_t code) { std::exit(static_cast<int>(code)); }
