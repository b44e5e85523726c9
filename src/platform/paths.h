// Path logic of the backends that needs no system: portable code, tested on
// every system, which the backends call around their thin system calls.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Joins `in` to the directory `base` unless it begins with '/', and folds
// '.' and '..' by text alone, as GetFullPathName does: no links followed,
// nothing needs to exist; runs of '/' are one, '..' stops at the root, a
// trailing '/' of `in` is kept. Returns the length written to `out`, or the
// size needed when it does not fit in `capacity`, or 0 when `in` is empty.
std::uint32_t kay_resolve_path(const kchar* base, const kchar* in, kchar* out, std::uint32_t capacity);

// Where locks are files (KAY_LOCKS_ARE_FILES), the lock's file inside the
// target folder. No entry can have this name: every system refuses ':' in
// entry names.
#define KAY_LOCK_FILE KT(".kay:lock")

// Room for a lock name, its terminator included.
constexpr std::uint32_t KAY_LOCK_NAME_CAPACITY = 64;

// The name of the mutex that serialises unpacking into a directory, from its
// full path with letters already folded to one case: "Local\kay-unpack-"
// and the FNV-1a hash of its 16-bit units ('/' taken as '\'), in 16 hex
// digits. Launchers of every version must agree on it.
void kay_lock_name(const kchar* folded_dir, kchar* out);

// Windows refuses file and folder calls on paths of 260 units or more
// (folders: 248, room for a short file name below them) unless they come in
// the long form "\\?\C:\..." or "\\?\UNC\server\share\...". Full paths from
// this many units on are passed in that form.
constexpr std::uint32_t KAY_LONG_PATH_FROM = 248;
// Room for a path buffer's path in the long form: "\\?\UNC" replaces "\".
constexpr std::uint32_t KAY_SYSTEM_PATH_CAPACITY = 4096 + 6;

// The form of the full path `path` that file and folder calls receive:
// `path` itself when it is shorter than KAY_LONG_PATH_FROM or not a Windows
// full path (a drive path "X:\..." or a UNC path "\\server\..."; POSIX paths
// never are); otherwise its long form, written into `out` (capacity
// KAY_SYSTEM_PATH_CAPACITY). The long form reaches the file system as it
// is, so what Windows does to a short path is done here first: '/' becomes
// '\', runs of separators are one, a folder's name loses one trailing dot
// and the last name its trailing dots and blanks.
const kchar* kay_system_path(const kchar* path, kchar* out);
