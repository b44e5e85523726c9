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

// What stat_path and stat_file tell of a file: its kind, owner, size and
// permission bits (POSIX numbering; 0 on Windows).
enum kay_node_kind { KAY_NODE_FILE, KAY_NODE_FOLDER, KAY_NODE_LINK, KAY_NODE_OTHER };
struct kay_file_status {
    kay_node_kind kind;
    std::uint32_t owner;
    std::uint32_t mode;
    std::uint64_t size;
    // Modification and change times (ns since 1970; POSIX st_mtim and
    // st_ctim, Windows LastWriteTime and ChangeTime) and the file's
    // identity (device and inode; Windows: volume serial and file ID), as
    // far as the call tells them; 0 where it does not.
    std::int64_t mtime_ns = 0;
    std::int64_t ctime_ns = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // Names the file has (POSIX st_nlink; 0 once removed while open).
    std::uint32_t links = 1;
};
constexpr std::uint32_t KAY_MODE_OTHERS_WRITE = 02;
constexpr std::uint32_t KAY_MODE_GROUP_OTHERS = 077;
constexpr std::uint32_t KAY_MODE_STICKY = 01000;
// Modes of new folders (the umask applied): never writable by group or
// others, whatever the umask, so a later start never refuses them.
constexpr std::uint32_t KAY_MODE_FOLDER = 0755;
constexpr std::uint32_t KAY_MODE_PRIVATE_FOLDER = 0700;

// open_file flags.
enum : unsigned {
    KAY_OPEN_WRITE = 1,   // for writing
    KAY_OPEN_CREATE = 2,  // made when missing
    KAY_OPEN_FOLDER = 4,  // a folder, to look at
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
typedef void (*kay_name_visitor)(void* arg, const kchar* name);

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
// open_read: an invalid handle on failure. POSIX: does not follow a
//   symlink at `path` nor block, and opens only a regular file owned by the
//   user or by root (anything else is "no usable file").
// open_file: opens `path` as `flags` say (KAY_OPEN_*); an invalid handle on
//   failure. POSIX: never follows a symlink at `path` (ELOOP) nor blocks on
//   a FIFO (ENXIO); a file made has mode 0644, umask applied. Windows:
//   KAY_OPEN_WRITE | KAY_OPEN_CREATE makes the file anew (CREATE_ALWAYS);
//   other handles may only write. KAY_OPEN_CREATE alone opens for reading
//   (and, on Windows, setting times), making the file when missing.
// stat_file, stat_path: the status of an open file, or of `path` without
//   following a symlink there (lstat); false on failure. Windows: a
//   symbolic link or junction at `path` is KAY_NODE_LINK (stat_file follows
//   it), every owner is user_id(), the mode is 0.
// read_link: the text of the symlink at `path` into `out`, unterminated;
//   its length, 0 on failure or when it does not fit. Windows: 0.
// remove_file: removes the file or link at `path` (unlink; a link to a
//   folder, not what it leads to); false on failure.
// confine_below: from now on, the path calls (open_read, open_file,
//   stat_path, stat_entry, read_link, remove_file, create_directory,
//   open_lock, list_folder, remove_folder) reach what lies below the folder
//   `dir` without following a link on the way there: a symlink, junction or
//   other reparse point where a folder should be makes them fail. `dir`
//   itself is reached as it is. false when `dir` cannot be opened (the
//   calls then work as before).
// lock_file: takes a lock on the open file, shared by any number of
//   holders or `exclusive`, without waiting: KAY_WAIT_TIMEOUT when another
//   handle holds one that conflicts (another handle of the same process
//   too); released when the handle is closed. POSIX flock; Windows
//   LockFileEx on its first byte.
// touch_file: sets the open file's modification time to now.
// list_folder: calls visit(arg, name) for every name in the folder `path`
//   but "." and ".."; false when it cannot be read. Below the folder given
//   to confine_below, a link at `path` is not followed either.
// remove_folder: removes the empty folder `path` (a link there is not
//   followed); false on failure, as when it is not empty.
// stat_entry: as stat_path, with the times and identity, for the state
//   record: POSIX fstatat; Windows from one enumeration of the folder (kept
//   for the next call in it), so no file is opened (nor scanned).
// rename_file: puts the file `from` in the place of `to`, replacing what is
//   there (rename; Windows MoveFileEx); false on failure.
// truncate_file: cuts an open file to 0 bytes; false on failure.
// user_id: the user the launcher runs as (POSIX: the effective uid, root
//   being 0). Windows: 1, the owner every file reports.
// file_size: the size in bytes; KAY_NO_SIZE when it cannot be taken.
// file_executable: POSIX: the owner may execute the file. Windows: true.
// read_file: reads into `buffer` until it holds `capacity` bytes or the
//   file ends; the count read (short only at the end), KAY_READ_FAILED on
//   failure.
// mark_executable: POSIX: gives a file being written the program mode
//   (0755) or the plain one (0644), umask applied. No-op on Windows.
// write_file: writes `size` bytes; false on failure (short writes too).
// create_directory: makes the folder `path` with `mode` (POSIX, umask
//   applied; Windows ignores it); KAY_MKDIR_EXISTS when something is there.
// last_error, set_last_error: the calling thread's error code (GetLastError,
//   SetLastError / errno).
// error_text: the system's text for an error code into a narrow buffer;
//   returns its length, 0 when the system has none.
// register_console_handler: the handler runs on a thread of its own.
// command_line_args: process arguments as the system splits them (Windows:
//   CommandLineToArgvW of GetCommandLineW; POSIX: the launcher's argv),
//   ended by a null pointer. nullptr on failure.
// own_command_line: Windows: the command line the launcher was started
//   with, as one text (GetCommandLineW). POSIX: nullptr, arguments being a
//   vector there.
// start_process: starts `program` with the arguments `argv` (ended by a
//   null pointer), which the child gets back as they are (Windows: quoted
//   into one command line, command_line.h), or on Windows with
//   `command_line` as it is when that is not null (POSIX never gets one).
//   false on failure, with the code in last_error.
// close_process: releases the process handle (POSIX: reaps the child).
// forward_event: POSIX: passes a console event to the child where the
//   system does not (SIGTERM sent to the launcher alone). No-op on Windows.
//   true where the launcher outlives the event (POSIX: it then waits for
//   the child and ends as the child ended); false where the system ends
//   the launcher soon after the handler returns (Windows).
// cpu_count: the processors the launcher may run on, at least 1.
// start_thread: runs main(arg) on a new thread; an invalid handle when no
//   thread could be made. join_thread waits for it to end and releases it.
// semaphore_create: a counting semaphore of the process starting at
//   `initial`; invalid when none can be made. semaphore_wait takes one unit,
//   waiting until there is one; semaphore_post adds one.
// locate_data_block: sets *data and *size to bytes of the launcher's own
//   image that end with its data block (found from the end; see
//   payload/block_meta.h): POSIX: the whole program file, mapped read-only;
//   Windows: the content of the loaded image's ".kay" section (size 0
//   when it has none). false, with the code in last_error, when the own
//   image cannot be had (POSIX: the file cannot be opened, or without
//   /proc the file at the executed path is not the running program).
// release_data_block: the `size` bytes at `from` of the data block that
//   locate_data_block found will not be read again; the whole pages
//   among them leave the process's resident set (their content stays in
//   the system's file cache). Bytes outside that block are left alone, so
//   memory of any other kind is never touched. errno and the last error
//   are kept.
// error_is_terminal: whether standard error is a terminal (a Linux tty, a
//   Windows console), where a progress line can be written and erased.
// progress_window: shows the small window of a long unpacking (titled
//   `title`, a progress bar at `permille` of 1000, no buttons), or moves
//   its bar when it is shown; it answers the system on its own thread, so
//   it never holds up log-off or shut-down. progress_window_close: closes
//   it, if shown, before returning. POSIX: both do nothing.
// sleep_ms: waits `ms` milliseconds.
// fold_case: `in` with its letters folded as the system folds file names,
//   into `out`: its length, 0 on failure or when it does not fit. POSIX:
//   `in` as it is (names differ by case). Windows: upper case, invariant.
// lock_folder: where locks are files, the user's private folder for locks
//   of targets the user cannot write to, into `out`; its length, 0 when
//   there is none. POSIX: $XDG_RUNTIME_DIR when set. Windows: 0.
// open_lock: the lock object `name`, made when missing, not yet held: an
//   invalid handle on failure. POSIX: a file of mode 0600 (open, never
//   through a symlink); Windows: a named mutex.
// stat_lock: as stat_file, of a lock. Windows: a file of user_id().
// wait_lock: takes the lock, waiting until it is free when `wait` says so
//   (KAY_WAIT_DONE), else KAY_WAIT_TIMEOUT at once when another holds it;
//   KAY_WAIT_FAILED on failure. POSIX: flock; a holder that ends releases
//   it. Windows: a mutex its holder abandoned is taken all the same.
// close_lock: releases the lock if held, and the handle.
struct kay_syscalls {
#define KAY_SYSCALL(result, name, params, args, failure, handles) result(*name) params;
#include "platform/syscalls.def"
#undef KAY_SYSCALL
};

// The table the core calls through. Tests may overwrite single entries.
extern kay_syscalls kay_sys;

// The table's defaults: the backend's own calls.
extern const kay_syscalls kay_sys_default;

// Puts every entry of `kay_sys` back to its default (after a test, or a
// fake system, replaced some).
inline void kay_sys_restore_all() { kay_sys = kay_sys_default; }

// The error codes a failure made on request reports: access denied, disk
// full, as the system numbers them.
extern const std::uint32_t KAY_ERROR_DENIED;
extern const std::uint32_t KAY_ERROR_FULL;
// What a failure because something is in the way reports (EEXIST).
extern const std::uint32_t KAY_ERROR_EXISTS;
// Whether locks are files (POSIX, flock) rather than named objects of the
// system (Windows mutexes).
extern const bool KAY_LOCKS_ARE_FILES;

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
