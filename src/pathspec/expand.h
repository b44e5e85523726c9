// Path specifications: text with {TOKEN}s turned into a concrete path.
#pragma once

#include <cstdint>

#include "format/launch_data.h"
#include "platform/platform.h"

// Expands `spec` into `out` (capacity units, terminator included), the
// constants and the launcher's own path taken from `run`. False on an
// unknown token, a literal without room, or a folder/path query that
// failed; `out` stays terminated. A token value without room ends the
// process abnormally.
bool expand_path_spec(const kay_launch_context& run, kchar* out, const kchar* spec, std::int32_t capacity);

// Makes the target directory `dir` (a path buffer) absolute; abnormal end
// on failure.
void canonicalise_target_dir(kchar* dir);
