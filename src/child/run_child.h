// Starting the unpacked program, supervising it and taking its exit code.
#pragma once

#include <cstdint>

#include "common/text.h"
#include "format/launch_data.h"
#include "platform/platform.h"

// Starts `program` with the launcher's arguments (the first replaced by the
// launcher's own path, as fetched at the start) and makes it known to the
// console event handler; false, the failure reported, when it cannot be
// started.
bool start_child(const kay_own_path& own_path, const kchar* program, const kchar* argv0, kay_process* child);
// Waits for the child that start_child started and returns its exit code
// (0 for a start that gave no handle).
std::uint32_t wait_child(kay_process child);
// Both; a child that cannot be started ends the launcher (exit 2).
std::uint32_t run_child(const kay_own_path& own_path, const kchar* program, const kchar* argv0);
// Passes a console event on to the child. 1 when the launcher goes on
// waiting for the child and ends as it ended; 0 when the system's default
// handling is to end the launcher.
int console_control_handler(std::uint32_t event);
