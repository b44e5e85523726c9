// POSIX: the child takes the vector itself; the command line stays empty.
#include "child/child_command.h"

#include "child/command_line.h"

void build_child_command_line(kchar* const* args, int count) {
    (void)args;
    (void)count;
    g_command_line[0] = 0;
}
