// The POSIX system call table.
#include "platform/posix/posix_internal.h"

using namespace kay_posix;

// Constant data, so the table is filled before any code of the program
// runs (test launchers wrap entries from a static initialiser).
constexpr kay_syscalls kay_sys_default = {
    set_dll_directory_empty, get_env, set_env, current_pid, module_path, temp_path,
    user_folder, full_path, perf_counter, system_time, open_read, file_size, map_file,
    map_view, unmap_view, close_mapping, open_write, mark_executable, write_file,
    close_file, create_directory, last_error, error_text, register_console_handler,
    command_line_args, start_process, wait_process, exit_code, terminate_process,
    close_process, forward_event, lock_target, unlock_target,
};

constinit kay_syscalls kay_sys = kay_sys_default;
