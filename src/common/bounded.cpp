#include "common/bounded.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "common/native_text.h"
#include "common/report.h"

std::uint32_t kay_strlen(const kchar* s) {
    std::uint32_t n = 0;
    while (s[n] != 0) n++;
    return n;
}

int kay_strcmp(const kchar* a, const kchar* b) {
    while (*a != 0 && *a == *b) {
        a++;
        b++;
    }
    using unit = std::make_unsigned_t<kchar>;
    return static_cast<unit>(*a) < static_cast<unit>(*b) ? -1 : static_cast<unit>(*a) > static_cast<unit>(*b);
}

kchar* kay_strdup(const kchar* s) {
    std::uint32_t n = kay_strlen(s) + 1;
    kchar* copy = static_cast<kchar*>(std::malloc(n * sizeof(kchar)));
    if (copy != nullptr) std::memcpy(copy, s, n * sizeof(kchar));
    return copy;
}

void buf_copy(kchar* dst, std::uint32_t capacity, const kchar* src) {
    if (capacity == 0) kay_abort();
    dst[0] = 0;
    buf_append(dst, capacity, src);
}

void buf_append(kchar* dst, std::uint32_t capacity, const kchar* src) {
    std::uint32_t len = kay_strlen(dst);
    for (; *src != 0; src++) {
        if (len + 1 >= capacity) kay_abort();
        dst[len++] = *src;
        dst[len] = 0;
    }
}

void buf_append_char(kchar* dst, std::uint32_t capacity, kchar c) {
    std::uint32_t len = kay_strlen(dst);
    if (len + 1 >= capacity) kay_abort();
    dst[len] = c;
    dst[len + 1] = 0;
}

void buf_put(kchar* dst, std::uint32_t capacity, std::uint32_t* len, kchar c) {
    if (*len + 1 >= capacity) kay_abort();
    dst[(*len)++] = c;
    dst[*len] = 0;
}

bool buf_join(kchar* dst, std::uint32_t capacity, const kchar* dir, const kchar* name) {
    std::uint32_t n = kay_strlen(dir);
    if (n + 1 + kay_strlen(name) >= capacity) return false;
    buf_copy(dst, capacity, dir);
    buf_put(dst, capacity, &n, KAY_SEP);
    buf_append(dst, capacity, name);
    return true;
}

void widen(kchar* dst, std::uint32_t capacity, const char* narrow) {
    if (capacity == 0) kay_abort();
    dst[0] = 0;
    for (; *narrow != 0; narrow++) {
        buf_append_char(dst, capacity, kay_widen_char(*narrow));
    }
}
