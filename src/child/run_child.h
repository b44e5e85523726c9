// Starting the unpacked program, supervising it and taking its exit code.
#pragma once

#include <cstdint>

#include "common/text.h"
#include "format/launch_data.h"

// Starts `program` with the launcher's arguments (the first replaced by the
// launcher's own path, as fetched at the start), waits for it and returns
// its exit code.
std::uint32_t run_child(const kay_own_path& own_path, const kchar* program, const kchar* argv0);
// Passes a console event on to the child. 1 when the launcher goes on
// waiting for the child and ends as it ended; 0 when the system's default
// handling is to end the launcher.
int console_control_handler(std::uint32_t event);
