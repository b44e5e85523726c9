#include "child/run_child.h"

#include "child/child_handle.h"
#include "child/handover.h"
#include "common/bounded.h"
#include "common/report.h"
#include "format/format.h"
#include "platform/command_line.h"
#include "platform/paths.h"

constexpr std::uint32_t GRACE_MS = 5000;

static kchar g_own_path[KAY_PATH_CAPACITY];

bool start_child(const kay_own_path& own_path, const kchar* program, const kchar* argv0, kay_process* child) {
    kay_handover::publish_launch_variables(own_path, argv0);

    int count = 0;
    // Kept to the process end, which follows the child's.
    static kchar** args;
    args = kay_sys.command_line_args(&count);
    // Without an argument vector the child cannot be started.
    if (args == nullptr || count < 1) {
        system_error(MSG_LAUNCH, kay_sys.last_error(), kay_sys.error_text);
        return false;
    }
    // The child's first argument is the launcher's own path, which must
    // fit a path buffer.
    if (own_path.length == 0 || own_path.length >= KAY_PATH_CAPACITY) kay_abort();
    buf_copy(g_own_path, KAY_PATH_CAPACITY, own_path.text);
    args[0] = g_own_path;
    // Where a program gets its arguments as one line (Windows), the child
    // gets the launcher's own line with only the first argument replaced:
    // split again and quoted back, it would lose empty arguments and be
    // split by the launcher's rules instead of the child's own.
    const kchar* own_line = kay_sys.own_command_line();
    kchar* line = own_line != nullptr ? pass_on_command_line(g_own_path, own_line) : nullptr;

    kay_process process{};
    static kchar long_form[KAY_SYSTEM_PATH_CAPACITY];
    const kchar* path = kay_system_path(program, long_form);
    bool started = kay_sys.start_process(path, args, line, &process);
    // Not every Windows starts a program from the long form (Wine does
    // not): the path as it is is tried next.
    if (!started && path != program) started = kay_sys.start_process(program, args, line, &process);
    if (!started) {
        system_error(MSG_LAUNCH, kay_sys.last_error(), kay_sys.error_text);
        return false;
    }
    if (process.valid()) child_handle_publish(process);
    *child = process;
    return true;
}

std::uint32_t wait_child(kay_process child) {
    if (!child.valid()) return 0;
    kay_sys.wait_process(child, KAY_WAIT_INFINITE);
    std::uint32_t code = 0;
    if (!kay_sys.exit_code(child, &code)) code = 1;
    child_handle_release(child);
    return code;
}

std::uint32_t run_child(const kay_own_path& own_path, const kchar* program, const kchar* argv0) {
    kay_process child{};
    if (!start_child(own_path, program, argv0, &child)) kay_exit(2);
    return wait_child(child);
}

int console_control_handler(std::uint32_t event) {
    switch (event) {
    case KAY_CTRL_C:
    case KAY_CTRL_BREAK:
    case KAY_CTRL_CLOSE:
    case KAY_CTRL_LOGOFF:
    case KAY_CTRL_SHUTDOWN: {
        kay_process process = child_handle_acquire();
        if (!process.valid()) break;
        // Where the launcher outlives the event, whoever sent it decides
        // whether the child is killed: the main thread goes on waiting and
        // the launcher ends as the child ended. Elsewhere the system ends
        // the launcher, which must not leave its child running.
        if (kay_sys.forward_event(process, event)) {
            child_handle_release(process);
            return 1;
        }
        if (kay_sys.wait_process(process, GRACE_MS) != KAY_WAIT_DONE) {
            kay_sys.terminate_process(process, 0);
        }
        child_handle_release(process);
        break;
    }
    default:
        break;
    }
    // Not handled: the system's default handling ends the launcher.
    return 0;
}
