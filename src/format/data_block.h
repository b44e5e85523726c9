// The data block of a launcher, written by kay-pack onto a prebuilt
// launcher program and read by the launcher, kay-pack verify and the tests:
//   [meta] [u64 LE length of meta] [payload]
// where the payload ends with its own length field, so the block is found
// from its end. The meta:
//   "KAYM" | u32 LE version (1) | u32 LE CRC-32 of the rest of the meta |
//   six texts, each u32 LE unit count + UTF-16LE units: target
//   specification, company, product, version, file version, product version |
//   u32 LE entry count (KAY_NO_INDEX: no index) | per entry in payload order:
//   UTF-16LE name + 0x0000, u64 LE size, u32 LE stored CRC | optionally
//   u32 LE flags (KAY_FLAG_*), written only when not 0, so launchers
//   built without one keep their bytes.
// On Linux the block is appended to the ELF program; on Windows it is the
// content of the PE section KAY_SECTION_NAME.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr unsigned char KAY_META_MAGIC[4] = {'K', 'A', 'Y', 'M'};
constexpr std::uint32_t KAY_META_VERSION = 1;
constexpr std::uint32_t KAY_NO_INDEX = 0xFFFFFFFFu;
// A console launcher writes a progress line on a terminal while a long
// unpacking runs (kay-pack build --progress).
constexpr std::uint32_t KAY_FLAG_PROGRESS_LINE = 1;
// Every start reads every file (kay-pack build --check content): no state
// record is read or written.
constexpr std::uint32_t KAY_FLAG_CHECK_CONTENT = 2;
// How many versions of the product a start keeps beside its own target
// folder, its own counted (kay-pack build --keep-versions): the flags' bits
// 16 to 31, 0 for KAY_KEEP_DEFAULT, KAY_KEEP_ALL for every one.
constexpr std::uint32_t KAY_FLAG_KEEP_SHIFT = 16;
constexpr std::uint32_t KAY_KEEP_DEFAULT = 2;
constexpr std::uint32_t KAY_KEEP_ALL = 0xFFFF;
// Magic, version and CRC-32 before the meta's texts.
constexpr std::size_t KAY_META_HEAD_SIZE = 12;
// The size and CRC after an index entry's name.
constexpr std::size_t KAY_INDEX_FIELDS_SIZE = 12;
// The PE section that holds the block, padded to the 8 bytes of a section name.
constexpr char KAY_SECTION_NAME[8] = {'.', 'k', 'a', 'y', 0, 0, 0, 0};
// What a Linux program (and so a Linux launcher) starts with.
constexpr unsigned char KAY_ELF_MAGIC[4] = {0x7f, 'E', 'L', 'F'};

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
    std::uint32_t flags;            // KAY_FLAG_*, 0 when the meta has none
    // For KAY_BLOCK_CRC: the CRC-32 the meta stores and the one its content gives.
    std::uint32_t stored_crc;
    std::uint32_t content_crc;
};

struct kay_index_entry {
    const unsigned char* name;  // UTF-16LE units, terminator excluded
    std::uint32_t name_units;
    std::uint64_t size;
    std::uint32_t crc;
};

// Why no well-formed block ends at data + size, in the order they are checked.
enum kay_block_reason {
    KAY_BLOCK_OK,
    KAY_BLOCK_TOO_SHORT,       // not even the two length fields
    KAY_BLOCK_PAYLOAD_LENGTH,  // the payload's trailing length points outside
    KAY_BLOCK_META_LENGTH,     // the meta's length is too small or points outside
    KAY_BLOCK_MAGIC,           // no "KAYM" where the meta starts
    KAY_BLOCK_VERSION,
    KAY_BLOCK_CRC,             // the meta's CRC-32 does not match
    KAY_BLOCK_LAYOUT,          // the meta does not parse to its last byte
};

// Splits the block that ends at data + size (what lies before it is
// ignored) into *block; anything but KAY_BLOCK_OK leaves it unusable.
kay_block_reason read_data_block(const unsigned char* data, std::size_t size, kay_block* block);

// The index entry at *cursor (start at block.index), advancing past it;
// false at block.index_end. Entries were checked by read_data_block.
bool next_index_entry(const kay_block& block, const unsigned char** cursor, kay_index_entry* entry);

// The UTF-16 unit `k` of little-endian text at `units`.
inline char16_t unit_at(const unsigned char* units, std::uint32_t k) {
    return static_cast<char16_t>(units[2 * k] | (units[2 * k + 1] << 8));
}

// A digest of an index as the meta stores it (the bytes from block.index to
// block.index_end; index_bytes gives them to the writer): 64-bit FNV-1a.
// Builds whose entries differ in a name, size or CRC get other digests, so
// kay-pack's default target folder tells them apart.
std::uint64_t index_digest(const unsigned char* bytes, std::size_t size);

// The writer, for kay-pack and the tests (the launcher never calls it).

// One entry of the index as written: the name without terminator.
struct kay_block_entry {
    std::u16string name;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;  // as stored in the payload
};

// The entries of `index` as the meta stores them.
std::string index_bytes(const std::vector<kay_block_entry>& index);

// The meta and its length field, which the payload follows to make the
// block; `index` nullptr writes "no index".
std::string data_block_head(const std::u16string (&texts)[KAY_TEXT_COUNT], const std::vector<kay_block_entry>* index,
                            std::uint32_t flags = 0);
