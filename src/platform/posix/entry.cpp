// Process entry on POSIX.
#include "bootstrap/bootstrap.h"
#include "platform/posix/posix_internal.h"

int main(int argc, char** argv) {
    kay_posix::g_argc = argc;
    kay_posix::g_argv = argv;
    kay_exit_with_child_code(kay_main(argc, argv));
}
