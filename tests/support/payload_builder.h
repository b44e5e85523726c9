// Payloads built byte by byte for tests: entry streams and Zstandard frames
// of raw (uncompressed) blocks, so every byte the reader sees is chosen here.
#pragma once

#include <cstdint>
#include <string>

// CRC-32 computed bit by bit, independent of the library the code uses.
std::uint32_t crc32_of(const std::string& data);

// A name's UTF-16LE units and its terminator.
std::string name_units(const std::u16string& name);
// The fields after a name: size, crc and content.
std::string entry_fields(const std::string& content, std::uint32_t crc);
// A whole entry; without `crc`, the one kay-pack stores.
std::string entry(const std::u16string& name, const std::string& content);
std::string entry(const std::u16string& name, const std::string& content, std::uint32_t crc);

// One frame without checksum or content size, window 2^17 unless another
// descriptor is given, `content` in raw blocks of at most 100000 bytes (so
// blocks and 128 KiB windows do not line up).
std::string raw_frame(const std::string& content, unsigned char window_descriptor = 0x38);
// "KAY", the frame, the two zero bytes and the trailing length.
std::string attached_payload(const std::string& frame);
