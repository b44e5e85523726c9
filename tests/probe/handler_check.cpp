// Runs the launcher's console event handler against real child processes
// (the probe), the child's handle published as the launcher publishes it.
// Prints one line per case for the launcher tests to check:
//   running:      a child that keeps running is terminated with code 0
//                 after the grace (the time the handler took is printed);
//   ending:       a child that ends within the grace keeps its own code;
//   other events: codes 3, 4 and 7 leave a running child alone;
//   no child:     after the handle was released the handler does nothing.
// Usage: kay-handler-check <probe program>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "child/child_handle.h"
#include "child/run_child.h"
#include "platform/platform.h"

static std::wstring g_probe;

static kay_process start_probe(const wchar_t* sleep_ms, const wchar_t* exit_code) {
    SetEnvironmentVariableW(L"PROBE_IGNORE_INT", L"1");
    SetEnvironmentVariableW(L"PROBE_SLEEP_MS", sleep_ms);
    SetEnvironmentVariableW(L"PROBE_EXIT", exit_code);
    wchar_t* argv[] = {&g_probe[0], nullptr};
    kay_process process{};
    if (!kay_sys.start_process(g_probe.c_str(), argv, nullptr, &process) || !process.valid()) {
        std::printf("cannot start the probe: %lu\n", static_cast<unsigned long>(kay_sys.last_error()));
        std::exit(1);
    }
    return process;
}

static unsigned long code_of(kay_process process) {
    kay_sys.wait_process(process, KAY_WAIT_INFINITE);
    std::uint32_t code = 0xDEADBEEF;
    kay_sys.exit_code(process, &code);
    return code;
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 100;
    g_probe = argv[1];

    kay_process process = start_probe(L"60000", L"5");
    child_handle_publish(process);
    ULONGLONG t0 = GetTickCount64();
    int handled = console_control_handler(KAY_CTRL_C);
    ULONGLONG waited = GetTickCount64() - t0;
    std::printf("running: handler=%d waited=%llu code=%lu\n", handled, waited, code_of(process));
    child_handle_release(process);

    process = start_probe(L"1000", L"7");
    child_handle_publish(process);
    t0 = GetTickCount64();
    handled = console_control_handler(KAY_CTRL_CLOSE);
    waited = GetTickCount64() - t0;
    std::printf("ending: handler=%d waited=%llu code=%lu\n", handled, waited, code_of(process));
    child_handle_release(process);

    process = start_probe(L"1500", L"9");
    child_handle_publish(process);
    t0 = GetTickCount64();
    handled = console_control_handler(3) | console_control_handler(4) | console_control_handler(7);
    waited = GetTickCount64() - t0;
    std::printf("other events: handler=%d waited_long=%d code=%lu\n", handled, waited >= 1000 ? 1 : 0,
                code_of(process));
    child_handle_release(process);

    std::printf("no child: handler=%d\n", console_control_handler(KAY_CTRL_BREAK));
    std::fflush(stdout);
    return 0;
}
