#include "pathspec/token_values.h"

static const char BASE64_URL[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

void random_word(std::uint32_t seed, kchar out[12]) {
    std::uint32_t x = seed == 0 ? 1 : seed;
    unsigned char bytes[8];
    for (int i = 0; i < 8; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<unsigned char>(x & 0xFF);
    }
    // 64 bits, most significant first, six at a time; the last character
    // carries the low four bits followed by two zero bits.
    int n = 0;
    std::uint32_t acc = 0;
    int bits = 0;
    for (int i = 0; i < 8; i++) {
        acc = (acc << 8) | bytes[i];
        bits += 8;
        while (bits >= 6) {
            out[n++] = static_cast<kchar>(BASE64_URL[(acc >> (bits - 6)) & 0x3F]);
            bits -= 6;
        }
    }
    out[n++] = static_cast<kchar>(BASE64_URL[(acc << (6 - bits)) & 0x3F]);
    out[n] = 0;
}

void format_time(std::uint64_t count, kchar out[24]) {
    // The count is taken as signed, as the system's time type is.
    std::int64_t v = static_cast<std::int64_t>(count);
    char digits[24];
    int n = 0;
    bool negative = v < 0;
    std::uint64_t u = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    int k = 0;
    if (negative) out[k++] = '-';
    while (n > 0) out[k++] = static_cast<kchar>(digits[--n]);
    out[k] = 0;
}

void format_time_us(std::uint64_t count, kchar out[8]) {
    std::int64_t t = static_cast<std::int64_t>(count);
    std::int64_t v = (t / 10) % 1000000;
    // "%06ld": a negative remainder (times before 1601) keeps its sign.
    bool negative = v < 0;
    if (negative) v = -v;
    int k = 0;
    if (negative) out[k++] = '-';
    kchar digits[6];
    for (int i = 5; i >= 0; i--) {
        digits[i] = static_cast<kchar>('0' + v % 10);
        v /= 10;
    }
    for (int i = negative ? 1 : 0; i < 6; i++) out[k++] = digits[i];
    out[k] = 0;
}
