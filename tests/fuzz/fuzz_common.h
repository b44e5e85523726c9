// Shared by the fuzz targets and their replay driver: a reported failure or
// an abnormal end leaves the input by an exception instead of ending the
// process, so one process can try many inputs, each as if it ran alone.
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

// Around each input. An exit leaves what a launcher keeps until it ends
// (heap copies, see fuzz_common.cpp); for the target the input's end is the
// process end, so end_input(true) frees them. After an input that ran to
// its end nothing the core took from the heap may remain: that would be a
// leak or state carried into the next input, where a crash file would no
// longer reproduce alone.
void begin_input();
void end_input(bool exited);

}  // namespace kay_fuzz
