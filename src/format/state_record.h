// The state record: what the file system said about each entry's file when
// a launcher last wrote or proved them all, kept in the file
// KAY_STATE_NAME inside the target folder, so that a warm start compares a
// status with it instead of reading the file:
//   "KAYR" | u32 LE version (1) | u64 LE index digest | u32 LE entry count |
//   per entry, in index order: u64 size, i64 modification and i64 change
//   time (ns), u64 device, u64 file identity, u32 mode, u32 owner |
//   u32 LE CRC-32 of everything before it.
// Bound to the index by its digest: a record of another index is absent.
#pragma once

#include <cstddef>
#include <cstdint>

// No entry can be named like these (check_entry_name refuses a first
// component beginning ".kay-state", in any case).
#define KAY_STATE_NAME ".kay-state"
#define KAY_STATE_TEMP ".kay-state.new"

struct kay_stamp {
    std::uint64_t size;
    std::int64_t mtime_ns;
    std::int64_t ctime_ns;
    std::uint64_t device;
    std::uint64_t inode;
    std::uint32_t mode;   // type and permission bits, or attributes
    std::uint32_t owner;
    bool operator==(const kay_stamp&) const = default;
};

constexpr std::size_t KAY_STAMP_SIZE = 48;
constexpr std::size_t KAY_RECORD_HEAD_SIZE = 20;

// The size of a record of `count` entries.
std::size_t state_record_size(std::uint32_t count);
// Writes the record of `count` stamps for the index of `digest` into `out`
// (state_record_size bytes).
void write_state_record(unsigned char* out, std::uint64_t digest, const kay_stamp* stamps, std::uint32_t count);
// Whether `data` is an intact record of `count` entries for the index of
// `digest`.
bool state_record_valid(const unsigned char* data, std::size_t size, std::uint64_t digest, std::uint32_t count);
// The stamp of entry `i` of a valid record.
kay_stamp record_stamp(const unsigned char* data, std::uint32_t i);
