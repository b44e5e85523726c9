// Starting the unpacked program, supervising it and taking its exit code.
#pragma once

#include <cstdint>

#include "platform/platform.h"

std::uint32_t run_child(const kchar* argv0);
int console_control_handler(std::uint32_t event);
