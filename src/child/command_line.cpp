#include "child/command_line.h"

#include "common/bounded.h"

kchar g_command_line[KAY_COMMAND_LINE_CAPACITY];

static bool needs_quotes(const kchar* s) {
    for (; *s != 0; s++) {
        if (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\v' || *s == '"') return true;
    }
    return false;
}

// Appends one unit at a known end of the line, so that quoting a long
// argument does not search for the end again for every unit.
static void put(kchar* line, std::uint32_t capacity, std::uint32_t* len, kchar c) {
    if (*len + 1 >= capacity) kay_abort();
    line[(*len)++] = c;
    line[*len] = 0;
}

static void put_backslashes(kchar* line, std::uint32_t capacity, std::uint32_t* len, std::uint32_t n) {
    while (n-- > 0) put(line, capacity, len, '\\');
}

void append_argument_to(kchar* line, std::uint32_t capacity, const kchar* argument) {
    if (!needs_quotes(argument)) {
        buf_append(line, capacity, argument);
        return;
    }
    std::uint32_t len = kay_strlen(line);
    put(line, capacity, &len, '"');
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
        put(line, capacity, &len, *p);
        p++;
    }
    put(line, capacity, &len, '"');
}

void append_argument(const kchar* argument) {
    append_argument_to(g_command_line, KAY_COMMAND_LINE_CAPACITY, argument);
}
