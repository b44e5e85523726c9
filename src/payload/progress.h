// What a long unpacking shows: nothing for the first second, then a
// progress line on a terminal's standard error or the GUI launcher's
// progress window, gone again before the child starts.
#pragma once

#include <cstdint>

#include "common/text.h"

namespace kay_progress {

enum style { NONE, LINE, WINDOW };

// Starts timing an unpacking of `total` content bytes (0: not known) for
// the product `title`, shown as `how`.
void begin(style how, const kchar* title, std::uint64_t total);
// `bytes` more content passed (written or found current); shows or moves
// the progress once a second has gone by since begin.
void advance(std::uint64_t bytes);
// Shows the progress at once (a launcher waiting for another one).
void show_now();
// Removes what was shown; nothing is shown after it.
void end();

}  // namespace kay_progress
