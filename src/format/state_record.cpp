#include "format/state_record.h"

#include <libdeflate.h>

#include <cstring>

#include "format/data_block.h"

static const unsigned char MAGIC[4] = {'K', 'A', 'Y', 'R'};
constexpr std::uint32_t VERSION = 2;

static void put(unsigned char* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

static std::uint64_t get(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; i--) value = (value << 8) | in[i];
    return value;
}

std::size_t state_record_size(const kay_record_parts& parts) {
    return record_head_size(parts.identity_size) + parts.count * KAY_STAMP_SIZE + 4 + parts.index_size + 4;
}

std::size_t record_head_size(std::size_t identity_size) { return KAY_RECORD_HEAD_SIZE + 4 + identity_size; }

// A size and its bytes at `at`; the end.
static unsigned char* put_part(unsigned char* at, const unsigned char* bytes, std::size_t size) {
    put(at, size, 4);
    if (size > 0) std::memcpy(at + 4, bytes, size);
    return at + 4 + size;
}

void write_state_record(unsigned char* out, const kay_record_parts& parts, const kay_stamp* stamps) {
    std::memcpy(out, MAGIC, 4);
    put(out + 4, VERSION, 4);
    put(out + 8, parts.digest, 8);
    put(out + 16, parts.count, 4);
    unsigned char* at = put_part(out + KAY_RECORD_HEAD_SIZE, parts.identity, parts.identity_size);
    for (std::uint32_t i = 0; i < parts.count; i++, at += KAY_STAMP_SIZE) {
        const kay_stamp& s = stamps[i];
        put(at, s.size, 8);
        put(at + 8, static_cast<std::uint64_t>(s.mtime_ns), 8);
        put(at + 16, static_cast<std::uint64_t>(s.ctime_ns), 8);
        put(at + 24, s.device, 8);
        put(at + 32, s.inode, 8);
        put(at + 40, s.mode, 4);
        put(at + 44, s.owner, 4);
    }
    at = put_part(at, parts.index, parts.index_size);
    put(at, libdeflate_crc32(0, out, static_cast<std::size_t>(at - out)), 4);
}

// The part at *at (a size and its bytes) before `end`, moving past it;
// false when it does not fit.
static bool get_part(const unsigned char** at, const unsigned char* end, const unsigned char** bytes,
                     std::size_t* size) {
    if (end - *at < 4 || get(*at, 4) > static_cast<std::uint64_t>(end - *at - 4)) return false;
    *size = static_cast<std::size_t>(get(*at, 4));
    *bytes = *at + 4;
    *at += 4 + *size;
    return true;
}

bool read_state_record(const unsigned char* data, std::size_t size, kay_record_parts* parts) {
    if (size < KAY_RECORD_HEAD_SIZE + 4 || std::memcmp(data, MAGIC, 4) != 0 || get(data + 4, 4) != VERSION ||
        get(data + size - 4, 4) != libdeflate_crc32(0, data, size - 4))
        return false;
    parts->digest = get(data + 8, 8);
    parts->count = static_cast<std::uint32_t>(get(data + 16, 4));
    const unsigned char* at = data + KAY_RECORD_HEAD_SIZE;
    const unsigned char* end = data + size - 4;
    if (!get_part(&at, end, &parts->identity, &parts->identity_size) ||
        static_cast<std::size_t>(end - at) / KAY_STAMP_SIZE < parts->count)
        return false;
    parts->stamps = at;
    at += parts->count * KAY_STAMP_SIZE;
    if (!get_part(&at, end, &parts->index, &parts->index_size) || at != end) return false;
    // The index walks to its end in exactly `count` entries.
    kay_block index{};
    index.index_end = parts->index + parts->index_size;
    kay_index_entry entry;
    const unsigned char* cursor = parts->index;
    std::uint32_t entries = 0;
    while (entries <= parts->count && next_index_entry(index, &cursor, &entry)) entries++;
    return entries == parts->count && cursor == index.index_end;
}

kay_stamp record_stamp(const kay_record_parts& parts, std::uint32_t i) {
    const unsigned char* at = parts.stamps + i * KAY_STAMP_SIZE;
    return {get(at, 8),
            static_cast<std::int64_t>(get(at + 8, 8)),
            static_cast<std::int64_t>(get(at + 16, 8)),
            get(at + 24, 8),
            get(at + 32, 8),
            static_cast<std::uint32_t>(get(at + 40, 4)),
            static_cast<std::uint32_t>(get(at + 44, 4))};
}

bool record_of(const unsigned char* head, const unsigned char* identity, std::size_t identity_size) {
    return std::memcmp(head, MAGIC, 4) == 0 && get(head + 4, 4) == VERSION &&
           get(head + KAY_RECORD_HEAD_SIZE, 4) == identity_size &&
           (identity_size == 0 || std::memcmp(head + KAY_RECORD_HEAD_SIZE + 4, identity, identity_size) == 0);
}
