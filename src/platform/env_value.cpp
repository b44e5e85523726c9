#include "platform/env_value.h"

#include <cstdlib>
#include <cstring>

#include "common/bounded.h"

constexpr std::uint32_t NAME_CAPACITY = 40;
constexpr std::uint32_t VALUE_CAPACITY = 32768;

kchar* get_env_value(const char* name) {
    static kchar value[VALUE_CAPACITY];
    kchar wide_name[NAME_CAPACITY];
    widen(wide_name, NAME_CAPACITY, name);
    std::uint32_t n = kay_sys.get_env(wide_name, value, VALUE_CAPACITY);
    if (n == 0 || n >= VALUE_CAPACITY) return nullptr;
    value[n] = 0;
    kchar* copy = static_cast<kchar*>(std::malloc((n + 1) * sizeof(kchar)));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, value, (n + 1) * sizeof(kchar));
    return copy;
}

void set_env_value(const char* name, const kchar* value) {
    kchar wide_name[NAME_CAPACITY];
    widen(wide_name, NAME_CAPACITY, name);
    kay_sys.set_env(wide_name, value);
}
