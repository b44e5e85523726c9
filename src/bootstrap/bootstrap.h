// The launcher's main sequence: expand the target directory, unpack the
// attached payload, start the first entry and return its exit code.
#pragma once

#include <cstdint>

#include "common/text.h"
#include "format/launch_data.h"

// What kind of program the launcher is: a console one, or a GUI one (the
// Windows subsystem) that shows a long unpacking in a window.
enum kay_ui { KAY_UI_CONSOLE, KAY_UI_WINDOWS };

std::uint32_t kay_main(int argc, kchar** argv, kay_ui ui);

// Asks the system for the launcher's own path, once per run: the tokens
// and the child take it from there.
void fetch_own_path(kay_own_path* out);
