// Fault injection for test launchers only (built with KAY_FAULT_INJECTION;
// never part of a production launcher).
//
// KAY_FAULT=<call>:<n> makes the n-th call of one name fail, for every call
// that can fail (see platform/syscalls.def): it returns the call's failure
// result with the error the list gives it, without reaching the system.
// KAY_FAULT_REPORT=<file> receives, when the process exits through the
// runtime, one line:
//   injected=<0|1> open=<handles still open> reported=<0|1> reads=<n>
// where `reported` says the exit came from a reported failure (kay_exit)
// and `reads` counts the files opened for reading (open_read).
// KAY_NO_LOCK=1 makes every lock on the target directory fail, so that
// launchers started at once unpack unlocked. KAY_SLOW_WRITE_MS=n makes
// every write wait n ms first, so that a small payload unpacks slowly.
#ifndef KAY_FAULT_INJECTION
#error "fault_inject.cpp belongs to test launchers only"
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "common/report.h"
#include "platform/platform.h"

namespace {

enum call_index {
#define KAY_SYSCALL(result, name, params, args, failure, handles) I_##name,
#include "platform/syscalls.def"
#undef KAY_SYSCALL
    CALL_COUNT
};

// Worker threads make calls too, hence the atomic counts.
int g_call = -1;
long g_nth;
std::atomic<long> g_calls[CALL_COUNT];
std::atomic<bool> g_injected;
std::atomic<long> g_open;  // files, processes, threads and locks not yet released
bool g_reported;
bool g_no_lock;
std::uint32_t g_slow_write_ms;
const char* g_report;

// True when this call of `k` is to fail; sets the error code then.
bool fail_now(int k, std::uint32_t error) {
    if (k == I_open_lock && g_no_lock) return true;
    if (k == I_write_file && g_slow_write_ms > 0) kay_sys_default.sleep_ms(g_slow_write_ms);
    if (++g_calls[k] != g_nth || k != g_call) return false;
    g_injected = true;
    kay_sys_default.set_last_error(error);
    return true;
}

// The real call's result, after `after` has seen it.
template <typename R, typename Call, typename After>
R pass(Call call, After after) {
    if constexpr (std::is_void_v<R>) {
        call();
        after(0);
    } else {
        R result = call();
        after(result);
        return result;
    }
}

// One wrapper per call: fails on request, else calls the system and counts
// what it opens and closes.
#define KAY_NEVER
#define KAY_FAILS(value, error) \
    if (fail_now(self, KAY_ERROR_##error)) return value;
#define KAY_NO_HANDLE
#define KAY_OPENS(held) \
    if (held) g_open++;
#define KAY_CLOSES g_open--;
#define KAY_SYSCALL(R, name, params, args, failure, handles)                                       \
    R f_##name params {                                                                           \
        [[maybe_unused]] constexpr int self = I_##name;                                            \
        failure return pass<R>([&] { return kay_sys_default.name args; },                         \
                               [&]([[maybe_unused]] const auto& result) { handles });             \
    }
#include "platform/syscalls.def"
#undef KAY_SYSCALL
#undef KAY_NEVER
#undef KAY_FAILS
#undef KAY_NO_HANDLE
#undef KAY_OPENS
#undef KAY_CLOSES

constexpr kay_syscalls FAULT_TABLE = {
#define KAY_SYSCALL(result, name, params, args, failure, handles) .name = f_##name,
#include "platform/syscalls.def"
#undef KAY_SYSCALL
};

void on_reported_exit(int) { g_reported = true; }

void write_report() {
    if (g_report == nullptr) return;
    FILE* f = std::fopen(g_report, "wb");
    if (f == nullptr) return;
    std::fprintf(f, "injected=%d open=%ld reported=%d reads=%ld\n", g_injected ? 1 : 0, g_open.load(),
                 g_reported ? 1 : 0, g_calls[I_open_read].load());
    std::fclose(f);
}

struct installer {
    installer() {
        g_report = std::getenv("KAY_FAULT_REPORT");
        if (g_report != nullptr) std::atexit(write_report);
        const char* spec = std::getenv("KAY_FAULT");
        if (spec != nullptr) {
            const char* colon = std::strchr(spec, ':');
            for (int k = 0; colon != nullptr && k < CALL_COUNT; k++) {
                std::size_t n = std::strlen(kay_syscall_list[k].name);
                if (kay_syscall_list[k].can_fail && static_cast<std::size_t>(colon - spec) == n &&
                    std::strncmp(spec, kay_syscall_list[k].name, n) == 0) {
                    g_call = k;
                    g_nth = std::atol(colon + 1);
                }
            }
        }
        const char* no_lock = std::getenv("KAY_NO_LOCK");
        g_no_lock = no_lock != nullptr && std::strcmp(no_lock, "1") == 0;
        const char* slow = std::getenv("KAY_SLOW_WRITE_MS");
        g_slow_write_ms = slow != nullptr ? static_cast<std::uint32_t>(std::atol(slow)) : 0;
        kay_exit_hook = on_reported_exit;
        kay_sys = FAULT_TABLE;
    }
};

installer g_installer;

}  // namespace
