// Windows: the arguments quoted into one command line.
#include "child/child_command.h"

#include "child/command_line.h"
#include "common/bounded.h"

void build_child_command_line(kchar* const* args, int count) {
    g_command_line[0] = 0;
    for (int i = 0; i < count; i++) {
        append_argument(args[i]);
        if (i + 1 < count) buf_append_char(g_command_line, KAY_COMMAND_LINE_CAPACITY, ' ');
    }
}
