// The state record: what the file system said about each entry's file when
// a launcher last wrote or proved them all, kept in the file
// KAY_STATE_NAME inside the target folder, so that a warm start compares a
// status with it instead of reading the file, and so that a launcher of
// another version can remove this one's files without its index:
//   "KAYR" | u32 LE version (2) | u64 LE index digest | u32 LE entry count |
//   u32 LE size + the company and product texts as the meta stores them |
//   per entry, in index order: u64 size, i64 modification and i64 change
//   time (ns), u64 device, u64 file identity, u32 mode, u32 owner |
//   u32 LE size + the index as the meta stores it (names, sizes, CRCs) |
//   u32 LE CRC-32 of everything before it.
// The company and product come first, so that another version's launcher
// tells the product's records from others by their first bytes.
// Bound to the index by its digest: a record of another index is absent
// (so is one of version 1, which a start writes anew).
#pragma once

#include <cstddef>
#include <cstdint>

// No entry can be named like these (check_entry_name refuses a first
// component beginning ".kay-state", in any case).
#define KAY_STATE_NAME ".kay-state"
#define KAY_STATE_TEMP ".kay-state.new"
// The file every launcher of a version holds a shared lock on while its
// child runs, touched at every start: its modification time is when the
// version was last used.
#define KAY_IN_USE_NAME ".kay-state.use"

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

// What a record holds beside the stamps; its pointers point into the
// record read, or at what is written.
struct kay_record_parts {
    std::uint64_t digest;
    std::uint32_t count;
    const unsigned char* identity;  // company and product
    std::size_t identity_size;
    const unsigned char* index;
    std::size_t index_size;
    const unsigned char* stamps = nullptr;  // of a record read
};

// The size of the record of `parts`.
std::size_t state_record_size(const kay_record_parts& parts);
// Writes the record of `parts` and its `parts.count` stamps into `out`
// (state_record_size bytes).
void write_state_record(unsigned char* out, const kay_record_parts& parts, const kay_stamp* stamps);
// Whether `data` is an intact record whose index holds exactly its count
// of entries; *parts then says what it holds.
bool read_state_record(const unsigned char* data, std::size_t size, kay_record_parts* parts);
// The stamp of entry `i` of a record read.
kay_stamp record_stamp(const kay_record_parts& parts, std::uint32_t i);
// The bytes a record of `identity_size` bytes of company and product
// begins with up to their end, and whether `head` (that many bytes) is the
// beginning of a record of `identity`.
std::size_t record_head_size(std::size_t identity_size);
bool record_of(const unsigned char* head, const unsigned char* identity, std::size_t identity_size);
