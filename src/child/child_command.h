// The form in which the child's arguments reach start_process: Windows
// takes one command line, POSIX the vector. Two forms side by side,
// child_command-win32.cpp and child_command-posix.cpp, of which the build
// takes the one of its system.
#pragma once

#include "common/text.h"

// Writes the child's command line from `args` into g_command_line
// (command_line.h) on Windows; leaves it empty on POSIX.
void build_child_command_line(kchar* const* args, int count);
