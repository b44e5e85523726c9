// Payload layout: "KAY" | one Zstandard frame | 00 00 | u64 LE count of the
// bytes before it. The frame decodes to entries (UTF-16LE name + 0x0000,
// u64 size, u32 crc, content) ended by an empty name.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned char PAYLOAD_MAGIC[3] = {'K', 'A', 'Y'};
constexpr std::size_t PAYLOAD_TAIL = 10;            // filler + length
constexpr unsigned MAX_WINDOW_LOG = 27;             // the launcher's decoder limit
constexpr std::size_t MAX_NAME_UNITS = 1023;        // terminator excluded
constexpr int DEFAULT_LEVEL = 19;

// The stored crc: CRC-32 of the content, 0 stored as 1 (0 means "never write").
inline std::uint32_t stored_crc(std::uint32_t crc) { return crc == 0 ? 1 : crc; }
