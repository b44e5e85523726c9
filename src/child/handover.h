// Environment variables handed to the child and shared with path expansion.
#pragma once

#include "common/text.h"

// Start of run: drop inherited START/TIME_US/RANDOM, publish our process id.
void reset_handover_variables(void);
// Before the child starts: the launcher's directory and its argv[0].
void publish_launch_variables(const kchar* argv0);
