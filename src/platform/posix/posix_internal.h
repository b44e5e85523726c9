// Declarations shared by the POSIX backend's files.
#pragma once

#include <sys/stat.h>

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
// running_image.cpp: the path the launcher was executed by, as given to
// the system (AT_EXECFN); nullptr when there is none.
const char* executed_name();
// The running program's file mapped read-only whole,
// its size and status set: /proc/self/exe, or without /proc the file at the
// executed path once it is seen to hold the running program. MAP_FAILED
// with errno set when neither can be had.
void* map_running_image(std::size_t* size, struct stat* status);
// Whether `path` names the running program's file.
bool is_running_image(const char* path);

// The backend's calls, declared from the one list. A definition whose
// signature differs from its line has no declaration before it, which the
// core's -Werror=missing-declarations refuses to compile.
#define KAY_SYSCALL(result, name, params, args, failure, handles) result name params;
#include "platform/syscalls.def"
#undef KAY_SYSCALL
}  // namespace kay_posix
