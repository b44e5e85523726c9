// Process entry of the GUI launcher (Windows subsystem, no console): the
// same sequence as the console launcher, its messages also in a message
// box, a long unpacking in a progress window.
#include "bootstrap/bootstrap.h"
#include "platform/platform.h"
#include "platform/win32/gui.h"

extern "C" int wmain(int argc, wchar_t** argv) {
    kay_message_hook = kay_win32::gui_message;
    kay_exit_with_child_code(kay_main(argc, argv, KAY_UI_WINDOWS));
}
