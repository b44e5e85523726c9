// The path expander over arbitrary specifications, with the folders, the
// own path, the clocks and the environment made up from the input.
//
// Input: 24 bytes of settings, then the target spec text, then (each after a
// NUL) values for KOLVEX_ONEFILE_PARENT, _RANDOM, _TIME_US and _START;
// a value that is absent leaves its variable unset.
//
// Allowed outcomes: true or false with a terminated result inside the
// buffer (which is exactly as large as the capacity, so the sanitizer sees
// any write past it), or an abnormal end (code 3).
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "bootstrap/bootstrap.h"
#include "pathspec/expand.h"

namespace {

struct Settings {
    std::uint32_t capacity;  // 0 .. 4200
    std::uint32_t home_len, cache_len, module_len, temp_len;
    bool home_fails, cache_fails, module_fails, temp_fails;
    std::uint64_t counter, time;
    std::uint32_t pid;
};

Settings g_set;
std::map<std::string, std::string> g_env;

// A made-up path of `len` characters: "/" then letters, with trailing
// separators when the length is odd, so the trimming after folders shows.
std::string made_path(std::uint32_t len, char letter) {
    std::string s = "/";
    while (s.size() < len) s += letter;
    if (len % 2 == 1 && len > 2) s[len - 1] = '/', s[len - 2] = '/';
    return s.substr(0, len);
}

std::uint32_t fake_get_env(const kchar* name, kchar* out, std::uint32_t capacity) {
    auto it = g_env.find(name);
    if (it == g_env.end() || it->second.empty()) return 0;
    std::size_t n = it->second.size();
    if (n >= capacity) return static_cast<std::uint32_t>(n + 1);
    std::memcpy(out, it->second.c_str(), n + 1);
    return static_cast<std::uint32_t>(n);
}

int fake_set_env(const kchar* name, const kchar* value) {
    if (value == nullptr) g_env.erase(name);
    else g_env[name] = value;
    return 0;
}

std::uint32_t fake_pid() { return g_set.pid; }

// As GetModuleFileName: cut short and terminated when the room is too small.
std::uint32_t fake_module_path(kchar* out, std::uint32_t capacity) {
    if (g_set.module_fails || capacity == 0) return 0;
    std::string p = made_path(g_set.module_len, 'm') + ".exe";
    if (p.size() >= capacity) {
        std::memcpy(out, p.data(), capacity - 1);
        out[capacity - 1] = 0;
        return capacity;
    }
    std::memcpy(out, p.c_str(), p.size() + 1);
    return static_cast<std::uint32_t>(p.size());
}

std::uint32_t fake_temp_path(kchar* out, std::uint32_t capacity) {
    if (g_set.temp_fails) return 0;
    std::string p = made_path(g_set.temp_len, 't') + "/";
    if (p.size() >= capacity) return static_cast<std::uint32_t>(p.size() + 1);
    std::memcpy(out, p.c_str(), p.size() + 1);
    return static_cast<std::uint32_t>(p.size());
}

// The folder contract: a buffer of `capacity` (260) units, false on failure.
bool fake_user_folder(kay_folder which, kchar* out, std::uint32_t capacity) {
    bool home = which == KAY_FOLDER_HOME;
    if (home ? g_set.home_fails : g_set.cache_fails) return false;
    std::string p = made_path(home ? g_set.home_len : g_set.cache_len, home ? 'h' : 'c');
    if (p.empty() || p.size() >= capacity) return false;
    std::memcpy(out, p.c_str(), p.size() + 1);
    return true;
}

std::uint64_t fake_counter() { return g_set.counter; }
std::uint64_t fake_time() { return g_set.time; }

std::uint32_t u32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t HEADER = 24;
    if (size < HEADER) return 0;
    g_set.capacity = u32(data) % 4201;
    std::uint8_t flags = data[4];
    g_set.home_fails = flags & 1;
    g_set.cache_fails = flags & 2;
    g_set.module_fails = flags & 4;
    g_set.temp_fails = flags & 8;
    g_set.home_len = data[5] + (flags & 16 ? 256u : 0u);
    g_set.cache_len = data[6] + (flags & 32 ? 256u : 0u);
    g_set.module_len = (data[7] | (data[8] << 8)) % 4400;
    g_set.temp_len = (data[9] | (data[10] << 8)) % 4400;
    g_set.pid = u32(data + 11) ;
    std::uint64_t t = 0;
    for (int i = 0; i < 8; i++) t |= std::uint64_t(data[15 + i]) << (8 * i);
    g_set.time = t;
    g_set.counter = t * 0x9E3779B97F4A7C15ull + data[23];

    // Specification and variable values, NUL-separated.
    std::vector<std::string> parts(1);
    for (std::size_t i = HEADER; i < size; i++) {
        if (data[i] == 0) parts.emplace_back();
        else parts.back() += static_cast<char>(data[i]);
    }
    static const char* const VARIABLES[] = {"KOLVEX_ONEFILE_PARENT", "KOLVEX_ONEFILE_RANDOM",
                                            "KOLVEX_ONEFILE_TIME_US", "KOLVEX_ONEFILE_START"};
    g_env.clear();
    for (std::size_t i = 1; i < parts.size() && i <= 4; i++) g_env[VARIABLES[i - 1]] = parts[i];

    kay_sys.get_env = fake_get_env;
    kay_sys.set_env = fake_set_env;
    kay_sys.current_pid = fake_pid;
    kay_sys.module_path = fake_module_path;
    kay_sys.temp_path = fake_temp_path;
    kay_sys.user_folder = fake_user_folder;
    kay_sys.perf_counter = fake_counter;
    kay_sys.system_time = fake_time;

    std::vector<kchar> out(g_set.capacity);
    bool exited = false;
    kay_fuzz::begin_input();
    try {
        static kay_launch_context run;
        load_launch_data(&run.data);
        fetch_own_path(&run.own_path);
        expand_path_spec(run, out.data(), parts[0].c_str(), static_cast<std::int32_t>(g_set.capacity));
        // Whatever the result, the text stays terminated inside the buffer.
        if (g_set.capacity > 0 && std::memchr(out.data(), 0, out.size()) == nullptr) kay_fuzz::finding();
    } catch (const kay_fuzz::exit_request& e) {
        if (e.code != 3) kay_fuzz::finding();
        exited = true;
    }
    kay_fuzz::end_input(exited);
    kay_sys = kay_sys_default;
    return 0;
}
