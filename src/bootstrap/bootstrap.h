// The launcher's main sequence: expand the target directory, unpack the
// attached payload, start the first entry and return its exit code.
#pragma once

#include <cstdint>

#include "common/text.h"

// The attached payload, placed in read-only data when the launcher is built.
extern "C" const unsigned char kay_payload_data[] __asm__("kay_payload_data");
extern "C" const std::uint32_t kay_payload_size __asm__("kay_payload_size");

std::uint32_t kay_main(int argc, kchar** argv);
