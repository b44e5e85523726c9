// Process entry on POSIX.
#include <signal.h>

#include "bootstrap/bootstrap.h"
#include "platform/posix/posix_internal.h"

int main(int argc, char** argv) {
    kay_posix::g_argc = argc;
    kay_posix::g_argv = argv;
    // A write beyond the file size limit (ulimit -f) fails with EFBIG and is
    // reported like any failed write, instead of ending the launcher.
    kay_posix::g_xfsz_inherited_ignored = signal(SIGXFSZ, SIG_IGN) == SIG_IGN;
    kay_exit_with_child_code(kay_main(argc, argv, KAY_UI_CONSOLE));
}
