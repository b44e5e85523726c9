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

// Where a call on `path` goes: *fd and *name for an *at call. Below the
// folder given to confine_below, the folder holding `path` is opened
// without following links (false with errno when that fails: ELOOP for a
// link on the way); elsewhere AT_FDCWD and `path` itself.
bool at_below(const char* path, int* fd, const char** name);
// Drops the folder at_below keeps open, after a change below the target.
void forget_folder();

// The backend's calls, declared from the one list. A definition whose
// signature differs from its line has no declaration before it, which the
// core's -Werror=missing-declarations refuses to compile.
#define KAY_SYSCALL(result, name, params, args, failure, handles) result name params;
#include "platform/syscalls.def"
#undef KAY_SYSCALL
}  // namespace kay_posix
