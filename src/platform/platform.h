// The launcher's one door to the operating system.
//
// Core code (bootstrap, payload, pathspec, child, common) reaches every
// system service through the table `kay_sys` below and never includes an OS
// header. Each backend (win32/ or posix/) fills the table with its real
// calls; tests may replace single entries to make chosen calls fail.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>

#include "common/text.h"

// Handles, one type for each kind so that one cannot pass for another (a
// lock for a file, say). The value 0 is "none"; the backends map their
// own invalid values to it.
template <typename Kind>
struct kay_handle {
    std::intptr_t value = 0;
    bool valid() const { return value != 0; }
    friend auto operator<=>(const kay_handle&, const kay_handle&) = default;
};
using kay_file = kay_handle<struct kay_file_kind>;        // open file
using kay_process = kay_handle<struct kay_process_kind>;  // child process
using kay_lock = kay_handle<struct kay_lock_kind>;        // held lock on a target directory
using kay_thread = kay_handle<struct kay_thread_kind>;    // running thread, to join
using kay_semaphore = kay_handle<struct kay_semaphore_kind>;  // counting semaphore between threads

enum kay_folder { KAY_FOLDER_HOME, KAY_FOLDER_CACHE };

enum kay_mkdir_result { KAY_MKDIR_CREATED, KAY_MKDIR_EXISTS, KAY_MKDIR_FAILED };

enum kay_wait_result { KAY_WAIT_DONE, KAY_WAIT_TIMEOUT, KAY_WAIT_FAILED };

// Why a target directory is refused, or KAY_TARGET_SAFE.
enum kay_target_verdict {
    KAY_TARGET_SAFE,
    KAY_TARGET_FOREIGN,      // a folder or symlink owned by another user (not root)
    KAY_TARGET_NOT_STICKY,   // a folder every user may write to, without the sticky bit
    KAY_TARGET_NOT_ROOTS,    // a folder every user may write to, not owned by root
    KAY_TARGET_SHARED,       // the target folder itself is writable by every user
};

// file_size when the size cannot be taken; read_file when a read fails.
constexpr std::uint64_t KAY_NO_SIZE = ~std::uint64_t{0};
constexpr std::uint32_t KAY_READ_FAILED = 0xFFFFFFFFu;

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
typedef void (*kay_thread_main)(void* arg);

// The table of system calls, one entry per line of syscalls.def:
//
// set_dll_directory_empty: drops the current directory from the library
//   search (Windows only; no-op elsewhere).
// get_env: as GetEnvironmentVariable: the length copied, or the size needed
//   when `capacity` is too small, or 0 when unset/empty.
// set_env: sets or (value == nullptr) removes a variable. Result not examined.
// module_path: the launcher's own executable path, written into `out`
//   (possibly cut short and unterminated when it does not fit, as
//   GetModuleFileName does). Returns the units written, 0 on failure.
// temp_path: the temporary folder, written into `out` when it fits (with
//   its trailing separator). Returns its length, 0 on failure.
// user_folder: a user folder into `out` (capacity 260). false on failure.
// full_path: full-path conversion as GetFullPathName: length written, or the
//   size needed when it does not fit, or 0 on failure. POSIX: the current
//   directory joined and folded by text (kay_resolve_path in paths.h).
// system_time: 100-nanosecond intervals since 1601-01-01 UTC.
// open_read, open_write: an invalid handle on failure. open_write creates or
//   truncates a file for writing; other handles may only write.
//   POSIX: neither follows a symlink at `path` nor blocks. open_read opens
//   only a regular file owned by the user or by root (anything else is "no
//   usable file"). open_write replaces whatever else is at `path` (a
//   symlink, FIFO, device, or a file of another user) by a new regular
//   file, and never writes through it.
// file_size: the size in bytes; KAY_NO_SIZE when it cannot be taken.
// file_executable: POSIX: the owner may execute the file. Windows: true.
// read_file: reads into `buffer` until it holds `capacity` bytes or the
//   file ends; the count read (short only at the end), KAY_READ_FAILED on
//   failure.
// mark_executable: POSIX: gives a file being written the program mode
//   (0755) or the plain one (0644), umask applied. No-op on Windows.
// write_file: writes `size` bytes; false on failure (short writes too).
// last_error, set_last_error: the calling thread's error code (GetLastError,
//   SetLastError / errno).
// error_text: the system's text for an error code into a narrow buffer;
//   returns its length, 0 when the system has none.
// register_console_handler: the handler runs on a thread of its own.
// command_line_args: process arguments as the system splits them (Windows:
//   CommandLineToArgvW of GetCommandLineW; POSIX: the launcher's argv).
//   nullptr on failure.
// start_process: Windows: starts `program` with `command_line` (argv
//   ignored). POSIX: spawns `program` with `argv` (command_line ignored).
//   false on failure, with the code in last_error.
// close_process: releases the process handle (POSIX: reaps the child).
// forward_event: POSIX: passes a console event to the child where the
//   system does not (SIGTERM sent to the launcher alone). No-op on Windows.
// cpu_count: the processors the launcher may run on, at least 1.
// start_thread: runs main(arg) on a new thread; an invalid handle when no
//   thread could be made. join_thread waits for it to end and releases it.
// semaphore_create: a counting semaphore of the process starting at
//   `initial`; invalid when none can be made. semaphore_wait takes one unit,
//   waiting until there is one; semaphore_post adds one.
// release_data_block: the `size` bytes at `from` of the data block that
//   kay_locate_data_block found will not be read again; the whole pages
//   among them leave the process's resident set (their content stays in
//   the system's file cache). Bytes outside that block are left alone, so
//   memory of any other kind is never touched. errno and the last error
//   are kept.
// check_target: POSIX: walks the full path `dir` from the root, following
//   symlinks, and creates the folders missing from it (0777, umask
//   applied): every folder and symlink met is owned by the user or by
//   root; a folder every user may write to is owned by root and sticky,
//   and the target folder itself is not one. A refusal writes the path
//   that fails into `at` (cut to `capacity`). A walk that a system call
//   stops (no permission, a file in the way) is no refusal: the calls that
//   follow fail as they would have. Windows: KAY_TARGET_SAFE, nothing done
//   (the default folders are the user's own).
// lock_target: serialises the unpacking of one target directory across
//   the user's processes: waits up to `timeout_ms` until no other launcher
//   holds the lock for `dir`, then holds it in *lock (KAY_WAIT_DONE).
//   KAY_WAIT_TIMEOUT when it is still held then; KAY_WAIT_FAILED when it
//   cannot be had, and the caller goes on unlocked. Windows: a named mutex
//   (kay_lock_name in paths.h; no file is created); POSIX: flock on a file
//   of mode 0600 named as that mutex, in /tmp/kay-<uid>, a folder of mode
//   0700 owned by the user, so no other user can take it; a holder that
//   ends releases it.
struct kay_syscalls {
#define KAY_SYSCALL(result, name, params, args, failure, handles) result(*name) params;
#include "platform/syscalls.def"
#undef KAY_SYSCALL
};

// The table the core calls through. Tests may overwrite single entries.
extern kay_syscalls kay_sys;

// The table's defaults, to restore after a test.
extern const kay_syscalls kay_sys_default;

// The calls by name, in table order, and whether each can be made to fail
// (the fault-injecting test launchers fail them by these names).
struct kay_syscall_info {
    const char* name;
    bool can_fail;
};
#define KAY_NEVER false
#define KAY_FAILS(value, error) true
inline constexpr kay_syscall_info kay_syscall_list[] = {
#define KAY_SYSCALL(result, name, params, args, failure, handles) {#name, failure},
#include "platform/syscalls.def"
#undef KAY_SYSCALL
};
#undef KAY_NEVER
#undef KAY_FAILS

// Ends the process with `code`. On POSIX a child that was ended by a signal
// makes the launcher end by the same signal.
[[noreturn]] void kay_exit_with_child_code(std::uint32_t code);
