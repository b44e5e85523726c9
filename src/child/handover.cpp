#include "child/handover.h"

#include <cstdio>

#include "common/bounded.h"
#include "common/report.h"
#include "format/handover_names.h"
#include "platform/env_value.h"

constexpr std::uint32_t PID_CAPACITY = 128;

static kchar g_directory_value[KAY_OWN_PATH_CAPACITY];

namespace kay_handover {

void reset_handover_variables(void) {
    set_env_value(KAY_VAR_START, nullptr);
    set_env_value(KAY_VAR_TIME_US, nullptr);
    set_env_value(KAY_VAR_RANDOM, nullptr);
    char narrow[PID_CAPACITY];
    std::snprintf(narrow, sizeof narrow, "%ld", static_cast<long>(kay_sys.current_pid()));
    kchar wide[PID_CAPACITY];
    widen(wide, PID_CAPACITY, narrow);
    set_env_value(KAY_VAR_PARENT, wide);
}

void publish_launch_variables(const kay_own_path& own_path, const kchar* argv0) {
    // The path must end within the buffer; one that could not be had
    // leaves the directory empty.
    if (own_path.length >= KAY_OWN_PATH_CAPACITY) kay_abort();
    buf_copy(g_directory_value, KAY_OWN_PATH_CAPACITY, own_path.text);
    std::uint32_t n = kay_strlen(g_directory_value);
    while (n > 0 && g_directory_value[n - 1] != KAY_SEP) n--;
    if (n > 0) g_directory_value[n - 1] = 0;
    set_env_value(KAY_VAR_DIRECTORY, g_directory_value);
    set_env_value(KAY_VAR_ORIGINAL_ARGV0, argv0);
}

}  // namespace kay_handover
