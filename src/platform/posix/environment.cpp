// Environment, user folders, own path and clocks on POSIX.
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "platform/paths.h"
#include "platform/posix/posix_internal.h"

namespace kay_posix {

void set_dll_directory_empty() {}

std::uint32_t get_env(const char* name, char* out, std::uint32_t capacity) {
    const char* value = getenv(name);
    if (value == nullptr) return 0;
    size_t n = strlen(value);
    if (n >= capacity) return static_cast<std::uint32_t>(n + 1);
    memcpy(out, value, n + 1);
    return static_cast<std::uint32_t>(n);
}

int set_env(const char* name, const char* value) {
    return value == nullptr ? unsetenv(name) : setenv(name, value, 1);
}

std::uint32_t current_pid() { return static_cast<std::uint32_t>(getpid()); }

// The path the launcher was executed by (a link keeps its own name, as
// Windows keeps the name a program was started by), made absolute against
// the current directory, which is still the start directory. Only when it
// names the running file; else empty.
static std::uint32_t executed_path(char* out, std::uint32_t capacity) {
    static char cwd[8192];
    const char* executed = executed_name();
    if (executed == nullptr || executed[0] == 0) return 0;
    if (executed[0] != '/' && getcwd(cwd, sizeof cwd) == nullptr) return 0;
    std::uint32_t n = kay_resolve_path(cwd, executed, out, capacity);
    return n != 0 && n < capacity && is_running_image(out) ? n : 0;
}

// The executed path with its links resolved (realpath needs no /proc), when
// folding it by text gave another file ("link/.."). `out` holds PATH_MAX.
static std::uint32_t resolved_executed_path(char* out) {
    const char* executed = executed_name();
    if (executed == nullptr || executed[0] == 0 || realpath(executed, out) == nullptr) return 0;
    return is_running_image(out) ? static_cast<std::uint32_t>(strlen(out)) : 0;
}

std::uint32_t module_path(char* out, std::uint32_t capacity) {
    static char path[8192];
    ssize_t n = executed_path(path, sizeof path);
    if (n == 0) n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) n = resolved_executed_path(path);
    if (n <= 0) return 0;
    path[n] = 0;
    // Cut short like GetModuleFileName when the room is too small.
    std::uint32_t len = static_cast<std::uint32_t>(n);
    if (capacity == 0) return 0;
    if (len >= capacity) {
        memcpy(out, path, capacity - 1);
        out[capacity - 1] = 0;
        return capacity;
    }
    memcpy(out, path, len + 1);
    return len;
}

std::uint32_t temp_path(char* out, std::uint32_t capacity) {
    const char* dir = getenv("TMPDIR");
    if (dir == nullptr || dir[0] == 0) dir = "/tmp";
    size_t n = strlen(dir);
    bool slash = dir[n - 1] == '/';
    size_t total = n + (slash ? 0 : 1);
    if (total >= capacity) return static_cast<std::uint32_t>(total + 1);
    memcpy(out, dir, n);
    if (!slash) out[n] = '/';
    out[total] = 0;
    return static_cast<std::uint32_t>(total);
}

static bool copy_folder(const char* value, char* out, std::uint32_t capacity) {
    size_t n = strlen(value);
    if (n == 0 || n >= capacity) return false;
    memcpy(out, value, n + 1);
    return true;
}

static const char* home_directory() {
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] != 0) return home;
    struct passwd* pw = getpwuid(getuid());
    return pw != nullptr ? pw->pw_dir : nullptr;
}

bool user_folder(kay_folder which, char* out, std::uint32_t capacity) {
    const char* home = home_directory();
    if (which == KAY_FOLDER_HOME) return home != nullptr && copy_folder(home, out, capacity);
    const char* cache = getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return copy_folder(cache, out, capacity);
    if (home == nullptr) return false;
    char joined[4096];
    if (snprintf(joined, sizeof joined, "%s/.cache", home) >= static_cast<int>(sizeof joined)) return false;
    return copy_folder(joined, out, capacity);
}

// The current directory joined and folded by text, as GetFullPathName does.
std::uint32_t full_path(const char* in, char* out, std::uint32_t capacity) {
    static char cwd[16384];
    if (in[0] != '/' && getcwd(cwd, sizeof cwd) == nullptr) return 0;
    return kay_resolve_path(cwd, in, out, capacity);
}

std::uint64_t perf_counter() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
static const std::uint64_t EPOCH_1601 = 116444736000000000ULL;

std::uint64_t system_time() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return EPOCH_1601 + static_cast<std::uint64_t>(ts.tv_sec) * 10000000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 100u;
}

}  // namespace kay_posix
