// Pull-style reader over the attached Zstandard stream: delivers exactly the
// bytes asked for, decoding one 128 KiB window at a time.
#pragma once

#include <cstddef>
#include <cstdint>

// `input` is the payload after its magic; `size` runs to the payload's end.
void setup(const unsigned char* input, std::size_t size);
void read_exact(void* destination, std::size_t count);
// Reads one NUL-terminated UTF-16 name into `buffer` (KAY_NAME_CAPACITY
// units). An empty name is the end marker.
void read_name(char16_t* buffer);
void teardown(void);
