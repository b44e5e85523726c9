// The POSIX system call table.
#include <errno.h>

#include "platform/posix/posix_internal.h"

// Constant data, so the table is filled before any code of the program
// runs (test launchers wrap entries from a static initialiser). Filled by
// name: each entry can only take the call of its own name.
constexpr kay_syscalls kay_sys_default = {
#define KAY_SYSCALL(result, name, params, args, failure, handles) .name = kay_posix::name,
#include "platform/syscalls.def"
#undef KAY_SYSCALL
};

constinit kay_syscalls kay_sys = kay_sys_default;

const std::uint32_t KAY_ERROR_DENIED = EACCES;
const std::uint32_t KAY_ERROR_FULL = ENOSPC;
const std::uint32_t KAY_ERROR_EXISTS = EEXIST;
const bool KAY_LOCKS_ARE_FILES = true;
