// Bounded copies into fixed-size native text buffers.
//
// A buffer of capacity N holds at most N - 1 characters and its terminator.
// Every routine checks the room before each character and never truncates:
// running out of room is an abnormal end (exit code 3, no message).
#pragma once

#include <cstdint>

#include "common/text.h"

std::uint32_t kay_strlen(const kchar* s);
// Whole, case-sensitive comparison as wcscmp.
int kay_strcmp(const kchar* a, const kchar* b);
void buf_copy(kchar* dst, std::uint32_t capacity, const kchar* src);
void buf_append(kchar* dst, std::uint32_t capacity, const kchar* src);
void buf_append_char(kchar* dst, std::uint32_t capacity, kchar c);
// Appends one unit at a known end `*len` of `dst` and advances it, for loops
// that append many units without searching for the end each time.
void buf_put(kchar* dst, std::uint32_t capacity, std::uint32_t* len, kchar c);
// A copy of `s` on the heap (to release with std::free); nullptr without
// memory.
kchar* kay_strdup(const kchar* s);
// `dir`, the separator and `name` into `dst`; false, with nothing written,
// when they do not fit (no abnormal end: the caller does without).
bool buf_join(kchar* dst, std::uint32_t capacity, const kchar* dir, const kchar* name);

// Narrow ASCII text (variable names, formatted numbers) to native text, one
// character at a time; a character that does not convert to exactly one
// native unit, or a missing room, is an abnormal end.
void widen(kchar* dst, std::uint32_t capacity, const char* narrow);
