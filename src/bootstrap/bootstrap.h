// The launcher's main sequence: expand the target directory, unpack the
// attached payload, start the first entry and return its exit code.
#pragma once

#include <cstdint>

#include "common/text.h"

std::uint32_t kay_main(int argc, kchar** argv);
