// The launcher's rules for the files and folders it trusts, written once
// above the raw calls of the system-call table, so that every call they
// make can be faked or made to fail. The owners trusted are the user and
// root.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The user or root.
bool kay_trusted_owner(std::uint32_t owner);

// Why a target directory is refused, or KAY_TARGET_SAFE.
enum kay_target_verdict {
    KAY_TARGET_SAFE,
    KAY_TARGET_FOREIGN,      // a folder or symlink owned by another user (not root)
    KAY_TARGET_NOT_STICKY,   // a folder every user may write to, without the sticky bit
    KAY_TARGET_NOT_ROOTS,    // a folder every user may write to, not owned by root
    KAY_TARGET_SHARED,       // the target folder itself is writable by every user
};

// Walks the full path `dir` from the root '/', following symlinks, and
// creates the folders missing from it (KAY_MODE_FOLDER): every folder and
// symlink met is owned by the user or by root; a folder every user may
// write to is owned by root and sticky, and the target folder itself is
// not one. A refusal writes the path that fails into `at` (cut to
// `capacity`). A walk that a system call stops (no permission, a file in
// the way) is no refusal: the calls that follow fail as they would have.
// A path that does not begin with '/' (a Windows one: the default folders
// are the user's own) is not walked.
kay_target_verdict kay_check_target(const kchar* dir, kchar* at, std::uint32_t capacity);

// Creates or truncates the file `path` for writing; an invalid handle on
// failure. Whatever is at `path` and is not a regular file of a trusted
// owner (a symlink, FIFO, device, or a file of another user) is removed and
// a new file made in its place: nothing is ever written through it. So is
// a file the user may not open for writing (root's, or read-only).
kay_file kay_open_write(const kchar* path);

// Serialises the unpacking of one target directory across the user's
// processes: waits up to `timeout_ms` (or KAY_WAIT_INFINITE) until no
// other launcher holds the lock for `dir`, then holds it in *lock
// (KAY_WAIT_DONE). KAY_WAIT_TIMEOUT when it is still held then;
// KAY_WAIT_FAILED when it cannot be had, and the caller goes on unlocked.
// The lock is named kay_lock_name (paths.h) of the folded path; where the
// system keeps locks in files, the file of that name (without "Local\")
// lies in lock_folder, a folder of mode 0700 owned by the user, so no other
// user can take it. Released by close_lock.
kay_wait_result kay_lock_target(const kchar* dir, std::uint32_t timeout_ms, kay_lock* lock);
