// The Win32 system call table.
#include "platform/win32/win32_internal.h"

// Constant data, so the table is filled before any code of the program
// runs (test launchers wrap entries from a static initialiser). Filled by
// name: each entry can only take the call of its own name.
constexpr kay_syscalls kay_sys_default = {
#define KAY_SYSCALL(result, name, params, args, failure, handles) .name = kay_win32::name,
#include "platform/syscalls.def"
#undef KAY_SYSCALL
};

constinit kay_syscalls kay_sys = kay_sys_default;

const std::uint32_t KAY_ERROR_DENIED = 5;    // ERROR_ACCESS_DENIED
const std::uint32_t KAY_ERROR_FULL = 112;    // ERROR_DISK_FULL
const std::uint32_t KAY_ERROR_EXISTS = 183;  // ERROR_ALREADY_EXISTS
const bool KAY_LOCKS_ARE_FILES = false;
