// Process entry on Windows: the runtime hands over the wide argument vector.
#include "bootstrap/bootstrap.h"
#include "platform/platform.h"

extern "C" int wmain(int argc, wchar_t** argv) { kay_exit_with_child_code(kay_main(argc, argv, KAY_UI_CONSOLE)); }
