// What the GUI launcher shows of itself: messages in a message box, the
// title they and the progress window take.
#pragma once

#include "common/report.h"

namespace kay_win32 {

// The GUI launcher's message sink (kay_message_hook): the line to the
// standard handle the console launcher would write it to, when that
// handle is valid or a parent's console can be attached; an error also in
// a message box titled with the product name.
void gui_message(kay_stream stream, bool error, const char* line);

}  // namespace kay_win32
