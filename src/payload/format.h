// Layout of the attached payload:
//   "KAY" | one Zstandard frame | 00 00 | u64 LE count of the bytes before it
// The frame decodes to entries (UTF-16LE name + 0x0000, u64 size, u32 crc,
// content) ended by an empty name.
#pragma once

#include <cstdint>

constexpr unsigned char KAY_MAGIC[3] = {0x4B, 0x41, 0x59};  // "KAY"
constexpr std::uint32_t KAY_NAME_CAPACITY = 1024;          // UTF-16 units, terminator included
