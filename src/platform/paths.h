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

// Room for a lock name, its terminator included.
constexpr std::uint32_t KAY_LOCK_NAME_CAPACITY = 64;

// The name of the mutex that serialises unpacking into a directory, from its
// full path with letters already folded to one case: "Local\kay-unpack-"
// and the FNV-1a hash of its 16-bit units ('/' taken as '\'), in 16 hex
// digits. Launchers of every version must agree on it.
void kay_lock_name(const kchar* folded_dir, kchar* out);
