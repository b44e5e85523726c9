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
#include <string>
#include <vector>

#include "fake_system.h"
#include "fuzz_common.h"
#include "bootstrap/bootstrap.h"
#include "pathspec/expand.h"

namespace {

kay_test::FakeSystem g_fake;

// A made-up path of `len` characters: "/" then letters, with trailing
// separators when the length is odd, so the trimming after folders shows.
std::string made_path(std::uint32_t len, char letter) {
    std::string s = "/";
    while (s.size() < len) s += letter;
    if (len % 2 == 1 && len > 2) s[len - 1] = '/', s[len - 2] = '/';
    return s.substr(0, len);
}

std::uint32_t u32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t HEADER = 24;
    if (size < HEADER) return 0;
    std::uint32_t capacity = u32(data) % 4201;  // 0 .. 4200
    std::uint8_t flags = data[4];
    g_fake = kay_test::FakeSystem{};
    if (!(flags & 1)) g_fake.home = made_path(data[5] + (flags & 16 ? 256u : 0u), 'h');
    if (!(flags & 2)) g_fake.cache = made_path(data[6] + (flags & 32 ? 256u : 0u), 'c');
    if (!(flags & 4)) g_fake.module_path = made_path((data[7] | (data[8] << 8)) % 4400, 'm') + ".exe";
    if (!(flags & 8)) g_fake.temp = made_path((data[9] | (data[10] << 8)) % 4400, 't') + "/";
    g_fake.pid = u32(data + 11);
    std::uint64_t t = 0;
    for (int i = 0; i < 8; i++) t |= std::uint64_t(data[15 + i]) << (8 * i);
    g_fake.time = t;
    g_fake.counter = t * 0x9E3779B97F4A7C15ull + data[23];

    // Specification and variable values, NUL-separated.
    std::vector<std::string> parts(1);
    for (std::size_t i = HEADER; i < size; i++) {
        if (data[i] == 0) parts.emplace_back();
        else parts.back() += static_cast<char>(data[i]);
    }
    static const char* const VARIABLES[] = {"KOLVEX_ONEFILE_PARENT", "KOLVEX_ONEFILE_RANDOM",
                                            "KOLVEX_ONEFILE_TIME_US", "KOLVEX_ONEFILE_START"};
    for (std::size_t i = 1; i < parts.size() && i <= 4; i++) g_fake.env[VARIABLES[i - 1]] = parts[i];
    g_fake.install();

    std::vector<kchar> out(capacity);
    bool exited = false;
    kay_fuzz::begin_input();
    try {
        static kay_launch_context run;
        load_launch_data(&run.data);
        fetch_own_path(&run.own_path);
        expand_path_spec(run, out.data(), parts[0].c_str(), static_cast<std::int32_t>(capacity));
        // Whatever the result, the text stays terminated inside the buffer.
        if (capacity > 0 && std::memchr(out.data(), 0, out.size()) == nullptr) kay_fuzz::finding();
    } catch (const kay_fuzz::exit_request& e) {
        if (e.code != 3) kay_fuzz::finding();
        exited = true;
    }
    kay_fuzz::end_input(exited);
    kay_sys_restore_all();
    return 0;
}
