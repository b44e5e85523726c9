#include "platform/command_line.h"

#include "common/bounded.h"

kchar g_command_line[KAY_COMMAND_LINE_CAPACITY];

static bool needs_quotes(const kchar* s) {
    for (; *s != 0; s++) {
        if (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\v' || *s == '"') return true;
    }
    return false;
}

static void put_backslashes(kchar* line, std::uint32_t capacity, std::uint32_t* len, std::uint32_t n) {
    while (n-- > 0) buf_put(line, capacity, len, '\\');
}

void append_argument_to(kchar* line, std::uint32_t capacity, const kchar* argument) {
    if (!needs_quotes(argument)) {
        buf_append(line, capacity, argument);
        return;
    }
    std::uint32_t len = kay_strlen(line);
    buf_put(line, capacity, &len, '"');
    const kchar* p = argument;
    while (*p != 0) {
        std::uint32_t run = 0;
        while (*p == '\\') {
            run++;
            p++;
        }
        if (*p == 0) {
            // Before the closing quote every backslash is doubled.
            put_backslashes(line, capacity, &len, 2 * run);
            break;
        }
        if (*p == '"') {
            put_backslashes(line, capacity, &len, 2 * run + 1);
        } else {
            put_backslashes(line, capacity, &len, run);
        }
        buf_put(line, capacity, &len, *p);
        p++;
    }
    buf_put(line, capacity, &len, '"');
}

void append_argument(const kchar* argument) {
    append_argument_to(g_command_line, KAY_COMMAND_LINE_CAPACITY, argument);
}

kchar* join_command_line(kchar* const* args) {
    g_command_line[0] = 0;
    for (kchar* const* a = args; *a != nullptr; a++) {
        if (a != args) buf_append_char(g_command_line, KAY_COMMAND_LINE_CAPACITY, ' ');
        append_argument(*a);
    }
    return g_command_line;
}

const kchar* after_first_argument(const kchar* line) {
    const kchar* p = line;
    if (*p == '"') {
        p++;
        while (*p != 0 && *p != '"') p++;
        return *p == '"' ? p + 1 : p;
    }
    while (*p != 0 && *p != ' ' && *p != '\t') p++;
    return p;
}

kchar* pass_on_command_line(const kchar* first, const kchar* own_line) {
    g_command_line[0] = 0;
    append_argument(first);
    const kchar* rest = after_first_argument(own_line);
    if (*rest != 0 && *rest != ' ' && *rest != '\t') buf_append_char(g_command_line, KAY_COMMAND_LINE_CAPACITY, ' ');
    buf_append(g_command_line, KAY_COMMAND_LINE_CAPACITY, rest);
    return g_command_line;
}
