// Shared by the fuzz targets and their replay driver: a reported failure or
// an abnormal end leaves the input by an exception instead of ending the
// process, so one process can try many inputs.
#pragma once

#include <cstdlib>

#include "common/report.h"

namespace kay_fuzz {

struct exit_request {
    int code;
};

[[noreturn]] inline void throw_exit(int code) { throw exit_request{code}; }

// A finding the sanitizers would not see: stop here so it is reported.
[[noreturn]] inline void finding() { __builtin_trap(); }

inline void install_exit_hook() { kay_exit_hook = throw_exit; }

}  // namespace kay_fuzz
