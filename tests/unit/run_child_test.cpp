// Starting and supervising the child through the platform seam: the rules
// for a failed start, a missing vector, a missing handle, an unreadable exit
// code, and the close-once handle shared with the console event handler.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bootstrap/bootstrap.h"
#include "child/child_handle.h"
#include "child/run_child.h"
#include "platform/platform.h"
#include "fake_system.h"

namespace {

constexpr kay_process CHILD{4242};

struct Calls {
    std::string program;
    std::vector<std::string> argv;
    int waits = 0;
    std::uint32_t last_timeout = 0;
    int terminations = 0;
    std::uint32_t termination_code = 99;
    int closes = 0;
    int forwards = 0;
};
Calls g_calls;
kay_test::FakeSystem g_fake;
kay_wait_result g_timed_wait = KAY_WAIT_TIMEOUT;
bool g_start_ok = true;
kay_process g_started = CHILD;
bool g_code_ok = true;

char g_arg0[] = "as typed";
char g_arg1[] = "one";
char g_arg2[] = "";
char* g_args[] = {g_arg0, g_arg1, g_arg2, nullptr};

kchar** fake_args(int* count) {
    *count = 3;
    return g_args;
}
kchar** no_args(int*) { return nullptr; }
std::uint32_t no_module_path(kchar*, std::uint32_t) { return 0; }
std::uint32_t fake_last_error() { return 1234; }
std::uint32_t fake_error_text(std::uint32_t, char* out, std::uint32_t) {
    std::strcpy(out, "Fake failure.");
    return 13;
}
bool fake_start(const kchar* program, kchar* const* argv, kchar*, kay_process* process) {
    g_calls.program = program;
    g_calls.argv.clear();
    for (; *argv != nullptr; argv++) g_calls.argv.push_back(*argv);
    if (!g_start_ok) return false;
    *process = g_started;
    return true;
}
kay_wait_result fake_wait(kay_process process, std::uint32_t timeout_ms) {
    EXPECT_EQ(process, CHILD);
    g_calls.waits++;
    g_calls.last_timeout = timeout_ms;
    return timeout_ms == KAY_WAIT_INFINITE ? KAY_WAIT_DONE : g_timed_wait;
}
bool fake_exit_code(kay_process, std::uint32_t* code) {
    if (!g_code_ok) return false;
    *code = 0x80000003u;
    return true;
}
void fake_terminate(kay_process, std::uint32_t code) {
    g_calls.terminations++;
    g_calls.termination_code = code;
}
void fake_close(kay_process process) {
    EXPECT_EQ(process, CHILD);
    g_calls.closes++;
}
bool fake_forward(kay_process, std::uint32_t) { return ++g_calls.forwards < 0; }

// Runs the child with the own path as a run fetches it at its start.
std::uint32_t run(const char* program, const char* argv0) {
    static kay_own_path own;
    fetch_own_path(&own);
    return run_child(own, program, argv0);
}

class RunChild : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls = Calls{};
        g_timed_wait = KAY_WAIT_TIMEOUT;
        g_start_ok = true;
        g_started = CHILD;
        g_code_ok = true;
        g_fake.module_path = "/opt/app/launcher";
        g_fake.install();
        kay_sys.command_line_args = fake_args;
        kay_sys.last_error = fake_last_error;
        kay_sys.error_text = fake_error_text;
        kay_sys.start_process = fake_start;
        kay_sys.wait_process = fake_wait;
        kay_sys.exit_code = fake_exit_code;
        kay_sys.terminate_process = fake_terminate;
        kay_sys.close_process = fake_close;
        kay_sys.forward_event = fake_forward;
    }
    void TearDown() override { kay_sys_restore_all(); }
};

TEST_F(RunChild, WaitsAndReturnsTheWholeCodeWithOwnPathFirst) {
    EXPECT_EQ(run("/opt/app/program", "as typed"), 0x80000003u);
    EXPECT_EQ(g_calls.program, "/opt/app/program");
    EXPECT_EQ(g_calls.argv, (std::vector<std::string>{"/opt/app/launcher", "one", ""}));
    EXPECT_EQ(g_calls.waits, 1);
    EXPECT_EQ(g_calls.last_timeout, KAY_WAIT_INFINITE);
    EXPECT_EQ(g_calls.closes, 1);
    // Closed and cleared: a later event finds no child.
    EXPECT_EQ(console_control_handler(KAY_CTRL_C), 0);
    EXPECT_EQ(g_calls.waits, 1);
    EXPECT_EQ(g_calls.closes, 1);
}

TEST_F(RunChild, UnreadableExitCodeGivesOneAndNoHandleGivesZeroWithoutWaiting) {
    g_code_ok = false;
    EXPECT_EQ(run("/opt/app/program", "x"), 1u);
    EXPECT_EQ(g_calls.closes, 1);

    g_calls = Calls{};
    g_started = kay_process{};
    EXPECT_EQ(run("/opt/app/program", "x"), 0u);
    EXPECT_EQ(g_calls.waits, 0);
    EXPECT_EQ(g_calls.closes, 0);
}

TEST_F(RunChild, FailedStartOrMissingVectorIsReportedWithExitTwo) {
    const char* line = "^Error, couldn't launch child \\(\\[Error 1234\\] Fake failure\\.\\)\n$";
    g_start_ok = false;
    EXPECT_EXIT(run("/opt/app/program", "x"), ::testing::ExitedWithCode(2), line);
    kay_sys.command_line_args = no_args;
    EXPECT_EXIT(run("/opt/app/program", "x"), ::testing::ExitedWithCode(2), line);
}

class RunChildDeathTest : public RunChild {};

TEST_F(RunChildDeathTest, MissingOwnPathIsAnAbnormalEnd) {
    kay_sys.module_path = no_module_path;
    EXPECT_EXIT(run("/opt/app/program", "x"), ::testing::ExitedWithCode(3), "^$");
}

TEST_F(RunChild, HandlerTerminatesAfterTheGraceAndClosesOnlyItsOwnReference) {
    child_handle_publish(CHILD);
    for (std::uint32_t event : {0u, 1u, 2u, 5u, 6u}) {
        g_calls = Calls{};
        EXPECT_EQ(console_control_handler(event), 0) << event;
        EXPECT_EQ(g_calls.waits, 1) << event;
        EXPECT_EQ(g_calls.last_timeout, 5000u) << event;
        EXPECT_EQ(g_calls.terminations, 1) << event;
        EXPECT_EQ(g_calls.termination_code, 0u) << event;
        // The main thread still holds the handle.
        EXPECT_EQ(g_calls.closes, 0) << event;
    }
    g_calls = Calls{};
    g_timed_wait = KAY_WAIT_DONE;
    EXPECT_EQ(console_control_handler(KAY_CTRL_C), 0);
    EXPECT_EQ(g_calls.terminations, 0);
    for (std::uint32_t event : {3u, 4u, 7u, 0xFFFFFFFFu}) EXPECT_EQ(console_control_handler(event), 0);
    EXPECT_EQ(g_calls.waits, 1);
    EXPECT_EQ(g_calls.forwards, 1);
    child_handle_release(CHILD);
    EXPECT_EQ(g_calls.closes, 1);
}

TEST_F(RunChild, LastUserClosesTheHandle) {
    child_handle_publish(CHILD);
    kay_process held = child_handle_acquire();
    EXPECT_EQ(held, CHILD);
    child_handle_release(CHILD);  // the main thread is done first
    EXPECT_EQ(g_calls.closes, 0);
    child_handle_release(held);
    EXPECT_EQ(g_calls.closes, 1);
    EXPECT_EQ(child_handle_acquire(), kay_process{});
}

}  // namespace
