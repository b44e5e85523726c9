// Declarations shared by the POSIX backend's files.
#pragma once

#include "platform/platform.h"

namespace kay_posix {
extern int g_argc;
extern char** g_argv;
// Signal that ended the child, 0 when it exited normally.
extern int g_child_signal;
// SIGXFSZ was ignored when the launcher started: the child keeps it so.
extern bool g_xfsz_inherited_ignored;

// The backend's calls, declared from the one list. A definition whose
// signature differs from its line has no declaration before it, which the
// core's -Werror=missing-declarations refuses to compile.
#define KAY_SYSCALL(result, name, params, args, failure, handles) result name params;
#include "platform/syscalls.def"
#undef KAY_SYSCALL
}  // namespace kay_posix
