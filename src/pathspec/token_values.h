// Pure formatting of the generated token values, kept apart from the clock
// and the counter so they can be checked against fixed inputs.
#pragma once

#include <cstdint>

#include "common/text.h"

// 11-character URL-safe base64 word from eight xorshift steps of `seed`
// (0 is taken as 1).
void random_word(std::uint32_t seed, kchar out[12]);
// The time count in decimal.
void format_time(std::uint64_t count, kchar out[24]);
// The microseconds within the second of the count, six digits.
void format_time_us(std::uint64_t count, kchar out[8]);
