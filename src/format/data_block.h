// The data block of a prebuilt launcher:
//   [meta] [u64 LE length of meta] [payload]
// where the payload ends with its own length field, so the block is found
// from its end. The meta:
//   "KAYM" | u32 LE version (1) | u32 LE CRC-32 of the rest of the meta |
//   six texts, each u32 LE unit count + UTF-16LE units: target
//   specification, company, product, version, file version, product version |
//   u32 LE entry count (0xFFFFFFFF: no index) | per entry in payload order:
//   UTF-16LE name + 0x0000, u64 LE size, u32 LE stored CRC.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned char KAY_META_MAGIC[4] = {'K', 'A', 'Y', 'M'};
constexpr std::uint32_t KAY_META_VERSION = 1;
constexpr std::uint32_t KAY_NO_INDEX = 0xFFFFFFFFu;

enum kay_block_text {
    KAY_TEXT_TARGET_SPEC,
    KAY_TEXT_COMPANY,
    KAY_TEXT_PRODUCT,
    KAY_TEXT_VERSION,
    KAY_TEXT_FILE_VERSION,
    KAY_TEXT_PRODUCT_VERSION,
    KAY_TEXT_COUNT
};

// UTF-16LE text inside the block (not aligned, not terminated).
struct kay_block_string {
    const unsigned char* units;
    std::uint32_t count;
};

struct kay_block {
    kay_block_string texts[KAY_TEXT_COUNT];
    const unsigned char* payload;
    std::size_t payload_size;
    std::uint32_t index_count;      // KAY_NO_INDEX when the block has none
    const unsigned char* index;     // the first entry
    const unsigned char* index_end;
};

struct kay_index_entry {
    const unsigned char* name;  // UTF-16LE units, terminator excluded
    std::uint32_t name_units;
    std::uint64_t size;
    std::uint32_t crc;
};

// Splits the block that ends at data + size (what lies before it is
// ignored). False when no well-formed block ends there: lengths out of
// range, wrong magic or version, a CRC that does not match, or a meta that
// does not parse to its last byte.
bool parse_block(const unsigned char* data, std::size_t size, kay_block* block);

// The index entry at *cursor (start at block.index), advancing past it;
// false at block.index_end. Entries were checked by parse_block.
bool next_index_entry(const kay_block& block, const unsigned char** cursor, kay_index_entry* entry);
