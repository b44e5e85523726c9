// Pull-style reader over the attached Zstandard stream: delivers exactly the
// bytes asked for, decoding one 128 KiB window at a time, on a thread of its
// own a few windows ahead when one can be started. A failure is reported
// only when the bytes it stopped are asked for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kay_reader {

// `input` is the payload after its magic; `size` runs to the payload's end.
void setup(const unsigned char* input, std::size_t size);
void read_exact(void* destination, std::size_t count);
// The next 1 to `most` bytes in place (valid until the next read).
std::size_t read_some(const unsigned char** data, std::size_t most);
// Reads one NUL-terminated UTF-16 name into `buffer` (KAY_NAME_CAPACITY
// units). An empty name is the end marker.
void read_name(char16_t* buffer);
void teardown(void);

}  // namespace kay_reader
