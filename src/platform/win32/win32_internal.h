// Declarations shared by the Win32 backend's files.
#pragma once

#include "platform/platform.h"

namespace kay_win32 {
// A system handle as one of the table's handle kinds, and back.
template <typename H>
H to_handle(void* h) {
    return H{reinterpret_cast<std::intptr_t>(h)};
}
template <typename Kind>
void* system_handle(kay_handle<Kind> h) {
    return reinterpret_cast<void*>(h.value);
}

// Whether `path`, below the folder given to confine_below, is reached
// without a symbolic link or junction on the way (and at its own name when
// `with_name`); false with ERROR_CANT_RESOLVE_FILENAME when not. Other
// paths pass.
bool free_of_links(const wchar_t* path, bool with_name);
// Whether the name at `path`, of these attributes, is a symbolic link or
// junction.
bool is_link(const wchar_t* path, unsigned long attributes);
// Drops what free_of_links remembers, after a change below the target.
void forget_folder();

// The backend's calls, declared from the one list. A definition whose
// signature differs from its line has no declaration before it, which the
// core's -Werror=missing-declarations refuses to compile.
#define KAY_SYSCALL(result, name, params, args, failure, handles) result name params;
#include "platform/syscalls.def"
#undef KAY_SYSCALL
}  // namespace kay_win32
