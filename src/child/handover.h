// Environment variables handed to the child and shared with path expansion
// (their names: format/handover_names.h).
#pragma once

#include "common/text.h"
#include "format/launch_data.h"

namespace kay_handover {

// Start of run: drops the inherited START, TIME_US and RANDOM values and
// sets PARENT to this process's id.
void reset_handover_variables(void);
// Before the child starts: the launcher's directory, from its own path as
// fetched at the start, and its argv[0].
void publish_launch_variables(const kay_own_path& own_path, const kchar* argv0);

}  // namespace kay_handover
