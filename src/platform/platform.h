// The launcher's one door to the operating system.
//
// Core code (bootstrap, payload, pathspec, child, common) reaches every
// system service through the table `kay_sys` below and never includes an OS
// header. Each backend (win32/ or posix/) fills the table with its real
// calls; tests may replace single entries to make chosen calls fail.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/text.h"

// Opaque handles; 0 is "none" (the backends map their own invalid values).
typedef std::intptr_t kay_file;     // open file
typedef std::intptr_t kay_mapping;  // file mapping object
typedef std::intptr_t kay_process;  // child process
typedef std::intptr_t kay_lock;     // held lock on a target directory

enum kay_folder { KAY_FOLDER_HOME, KAY_FOLDER_CACHE };

enum kay_mkdir_result { KAY_MKDIR_CREATED, KAY_MKDIR_EXISTS, KAY_MKDIR_FAILED };

enum kay_wait_result { KAY_WAIT_DONE, KAY_WAIT_TIMEOUT, KAY_WAIT_FAILED };

// Console events, numbered as the Windows console numbers them.
enum {
    KAY_CTRL_C = 0,
    KAY_CTRL_BREAK = 1,
    KAY_CTRL_CLOSE = 2,
    KAY_CTRL_LOGOFF = 5,
    KAY_CTRL_SHUTDOWN = 6
};

#define KAY_WAIT_INFINITE 0xFFFFFFFFu

typedef int (*kay_console_handler)(std::uint32_t event);

struct kay_syscalls {
    // Library search: drop the current directory (Windows only; no-op elsewhere).
    void (*set_dll_directory_empty)(void);

    // Environment. get_env follows GetEnvironmentVariable: the length copied,
    // or the size needed when `capacity` is too small, or 0 when unset/empty.
    std::uint32_t (*get_env)(const kchar* name, kchar* out, std::uint32_t capacity);
    // Sets or (value == nullptr) removes a variable. Result not examined.
    int (*set_env)(const kchar* name, const kchar* value);

    std::uint32_t (*current_pid)(void);

    // The launcher's own executable path, written into `out` (possibly cut
    // short and unterminated when it does not fit, as GetModuleFileName does).
    // Returns the units written, 0 on failure.
    std::uint32_t (*module_path)(kchar* out, std::uint32_t capacity);
    // The temporary folder, written into `out` when it fits (with its
    // trailing separator). Returns its length, 0 on failure.
    std::uint32_t (*temp_path)(kchar* out, std::uint32_t capacity);
    // A user folder into `out` (capacity 260). Returns false on failure.
    bool (*user_folder)(kay_folder which, kchar* out, std::uint32_t capacity);
    // Full-path conversion as GetFullPathName: length written, or the size
    // needed when it does not fit, or 0 on failure.
    std::uint32_t (*full_path)(const kchar* in, kchar* out, std::uint32_t capacity);

    std::uint64_t (*perf_counter)(void);
    // 100-nanosecond intervals since 1601-01-01 UTC.
    std::uint64_t (*system_time)(void);

    // Files. open_read/open_write return 0 on failure.
    kay_file (*open_read)(const kchar* path);
    // Size as a 32-bit count; 0xFFFFFFFF when it cannot be taken.
    std::uint32_t (*file_size)(kay_file file);
    kay_mapping (*map_file)(kay_file file, std::uint32_t size);
    const void* (*map_view)(kay_mapping mapping);
    void (*unmap_view)(const void* view, std::uint32_t size);
    void (*close_mapping)(kay_mapping mapping);
    // Creates or truncates a file for writing; other handles may only write.
    kay_file (*open_write)(const kchar* path);
    // POSIX: gives a file being written the program mode (0755) or the plain
    // one (0644), umask applied. No-op on Windows.
    void (*mark_executable)(kay_file file, bool executable);
    // Writes `size` bytes; false on failure (short writes count as failure).
    bool (*write_file)(kay_file file, const void* data, std::uint32_t size);
    void (*close_file)(kay_file file);
    kay_mkdir_result (*create_directory)(const kchar* path);
    // The last error code of the calling thread (GetLastError / errno).
    std::uint32_t (*last_error)(void);
    // The system's text for an error code into a narrow buffer; returns its
    // length, 0 when the system has none.
    std::uint32_t (*error_text)(std::uint32_t code, char* out, std::uint32_t capacity);

    // Console events: the handler runs on a thread of its own.
    bool (*register_console_handler)(kay_console_handler handler);

    // Process arguments as the system splits them (Windows: CommandLineToArgvW
    // of GetCommandLineW; POSIX: the launcher's argv). nullptr on failure.
    kchar** (*command_line_args)(int* count);
    // Windows: starts `program` with `command_line` (argv ignored).
    // POSIX: spawns `program` with `argv` (command_line ignored).
    // Returns false on failure, with the code in last_error.
    bool (*start_process)(const kchar* program, kchar* command_line, kchar* const* argv,
                          kay_process* process);
    kay_wait_result (*wait_process)(kay_process process, std::uint32_t timeout_ms);
    bool (*exit_code)(kay_process process, std::uint32_t* code);
    void (*terminate_process)(kay_process process, std::uint32_t code);
    // Releases the process handle (POSIX: reaps the child).
    void (*close_process)(kay_process process);
    // POSIX: forward a console event to the child where the system does not
    // (SIGTERM sent to the launcher alone). No-op on Windows.
    void (*forward_event)(kay_process process, std::uint32_t event);

    // Serialises the unpacking of one target directory across processes:
    // waits until no other launcher holds the lock for `dir`, then holds it.
    // Windows: a named mutex derived from the path (no file is created);
    // POSIX: flock on the directory, which is created first when missing.
    // 0 when the lock cannot be had; the caller then goes on unlocked.
    kay_lock (*lock_target)(const kchar* dir);
    void (*unlock_target)(kay_lock lock);
};

// The table the core calls through. Tests may overwrite single entries.
extern kay_syscalls kay_sys;

// The table's defaults, to restore after a test.
extern const kay_syscalls kay_sys_default;

// Ends the process with `code`. On POSIX a child that was ended by a signal
// makes the launcher end by the same signal.
[[noreturn]] void kay_exit_with_child_code(std::uint32_t code);
