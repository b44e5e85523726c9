// Child processes and console events through the Win32 API.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "platform/command_line.h"
#include "platform/paths.h"
#include "platform/win32/win32_internal.h"

namespace kay_win32 {

static kay_console_handler g_handler;

static BOOL WINAPI console_trampoline(DWORD event) { return g_handler(event) ? TRUE : FALSE; }

bool register_console_handler(kay_console_handler handler) {
    g_handler = handler;
    return SetConsoleCtrlHandler(console_trampoline, TRUE) != 0;
}

// A copy that ends with a null pointer, as start_process takes it.
wchar_t** command_line_args(int* count) {
    wchar_t** split = CommandLineToArgvW(GetCommandLineW(), count);
    if (split == nullptr) return nullptr;
    wchar_t** args = static_cast<wchar_t**>(malloc(sizeof(wchar_t*) * (static_cast<size_t>(*count) + 1)));
    if (args == nullptr) return nullptr;
    for (int i = 0; i < *count; i++) args[i] = split[i];
    args[*count] = nullptr;
    return args;
}

const wchar_t* own_command_line() { return GetCommandLineW(); }

bool start_process(const wchar_t* program, wchar_t* const* argv, wchar_t* command_line, kay_process* process) {
    if (command_line == nullptr) command_line = join_command_line(argv);
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    // A GUI launcher started without any (from Explorer) hands none over: a
    // console child then gets the handles of the console it is given.
    if (si.hStdInput != nullptr || si.hStdOutput != nullptr || si.hStdError != nullptr)
        si.dwFlags = STARTF_USESTDHANDLES;
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

bool forward_event(kay_process process, std::uint32_t event) {
    (void)process;
    (void)event;
    return false;
}

// The mutex is named after the full path with its letters folded, since
// Windows paths ignore case.
void sleep_ms(std::uint32_t ms) { Sleep(ms); }

std::uint32_t fold_case(const wchar_t* in, wchar_t* out, std::uint32_t capacity) {
    int n = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, in, -1, out, static_cast<int>(capacity));
    return n > 1 ? static_cast<std::uint32_t>(n - 1) : 0;
}

std::uint32_t lock_folder(wchar_t* out, std::uint32_t capacity) {
    (void)out;
    (void)capacity;
    return 0;
}

kay_lock open_lock(const wchar_t* name) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    return mutex == nullptr ? kay_lock{} : to_handle<kay_lock>(mutex);
}

bool stat_lock(kay_lock lock, kay_file_status* status) {
    (void)lock;
    *status = kay_file_status{KAY_NODE_FILE, user_id(), 0, 0};
    return true;
}

kay_wait_result wait_lock(kay_lock lock, bool wait) {
    // An abandoned mutex (its holder died) is owned all the same.
    DWORD rc = WaitForSingleObject(system_handle(lock), wait ? INFINITE : 0);
    if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED) return KAY_WAIT_DONE;
    return rc == WAIT_TIMEOUT ? KAY_WAIT_TIMEOUT : KAY_WAIT_FAILED;
}

void close_lock(kay_lock lock) {
    ReleaseMutex(system_handle(lock));
    CloseHandle(system_handle(lock));
}

std::uint32_t cpu_count() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

// A started thread: the handle points at this record.
struct thread_record {
    HANDLE thread;
    kay_thread_main main;
    void* arg;
};

static DWORD WINAPI thread_entry(void* record) {
    thread_record* r = static_cast<thread_record*>(record);
    r->main(r->arg);
    return 0;
}

kay_thread start_thread(kay_thread_main main, void* arg) {
    thread_record* r = static_cast<thread_record*>(HeapAlloc(GetProcessHeap(), 0, sizeof(thread_record)));
    if (r == nullptr) return kay_thread{};
    r->main = main;
    r->arg = arg;
    r->thread = CreateThread(nullptr, 0, thread_entry, r, 0, nullptr);
    if (r->thread == nullptr) {
        DWORD error = GetLastError();
        HeapFree(GetProcessHeap(), 0, r);
        SetLastError(error);
        return kay_thread{};
    }
    return to_handle<kay_thread>(r);
}

void join_thread(kay_thread thread) {
    thread_record* r = static_cast<thread_record*>(system_handle(thread));
    WaitForSingleObject(r->thread, INFINITE);
    CloseHandle(r->thread);
    HeapFree(GetProcessHeap(), 0, r);
}

kay_semaphore semaphore_create(std::uint32_t initial) {
    return to_handle<kay_semaphore>(CreateSemaphoreW(nullptr, static_cast<LONG>(initial), 0x7FFFFFFF, nullptr));
}

void semaphore_wait(kay_semaphore semaphore) { WaitForSingleObject(system_handle(semaphore), INFINITE); }

void semaphore_post(kay_semaphore semaphore) { ReleaseSemaphore(system_handle(semaphore), 1, nullptr); }

void semaphore_close(kay_semaphore semaphore) { CloseHandle(system_handle(semaphore)); }

}  // namespace kay_win32

void kay_exit_with_child_code(std::uint32_t code) { std::exit(static_cast<int>(code)); }
