#include "child/handover.h"

#include <cstdio>

#include "common/bounded.h"
#include "common/report.h"
#include "platform/env_value.h"

constexpr std::uint32_t PID_CAPACITY = 128;
constexpr std::uint32_t MODULE_CAPACITY = 4097;

static kchar g_module_path[MODULE_CAPACITY];
static kchar g_directory_value[MODULE_CAPACITY];

void reset_handover_variables(void) {
    set_env_value("KOLVEX_ONEFILE_START", nullptr);
    set_env_value("KOLVEX_ONEFILE_TIME_US", nullptr);
    set_env_value("KOLVEX_ONEFILE_RANDOM", nullptr);
    char narrow[PID_CAPACITY];
    std::snprintf(narrow, sizeof narrow, "%ld", static_cast<long>(kay_sys.current_pid()));
    kchar wide[PID_CAPACITY];
    widen(wide, PID_CAPACITY, narrow);
    set_env_value("KOLVEX_ONEFILE_PARENT", wide);
}

void publish_launch_variables(const kchar* argv0) {
    std::uint32_t n = kay_sys.module_path(g_module_path, MODULE_CAPACITY);
    // The path must end within the buffer.
    if (n >= MODULE_CAPACITY) kay_abort();
    g_module_path[n] = 0;
    buf_copy(g_directory_value, MODULE_CAPACITY, g_module_path);
    n = kay_strlen(g_directory_value);
    while (n > 0 && g_directory_value[n - 1] != KAY_SEP) n--;
    if (n > 0) g_directory_value[n - 1] = 0;
    set_env_value("KOLVEX_ONEFILE_DIRECTORY", g_directory_value);
    set_env_value("KOLVEX_ORIGINAL_ARGV0", argv0);
}
