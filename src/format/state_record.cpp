#include "format/state_record.h"

#include <libdeflate.h>

#include <cstring>

static const unsigned char MAGIC[4] = {'K', 'A', 'Y', 'R'};
constexpr std::uint32_t VERSION = 1;

static void put(unsigned char* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

static std::uint64_t get(const unsigned char* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; i--) value = (value << 8) | in[i];
    return value;
}

std::size_t state_record_size(std::uint32_t count) { return KAY_RECORD_HEAD_SIZE + count * KAY_STAMP_SIZE + 4; }

void write_state_record(unsigned char* out, std::uint64_t digest, const kay_stamp* stamps, std::uint32_t count) {
    std::memcpy(out, MAGIC, 4);
    put(out + 4, VERSION, 4);
    put(out + 8, digest, 8);
    put(out + 16, count, 4);
    unsigned char* at = out + KAY_RECORD_HEAD_SIZE;
    for (std::uint32_t i = 0; i < count; i++, at += KAY_STAMP_SIZE) {
        const kay_stamp& s = stamps[i];
        put(at, s.size, 8);
        put(at + 8, static_cast<std::uint64_t>(s.mtime_ns), 8);
        put(at + 16, static_cast<std::uint64_t>(s.ctime_ns), 8);
        put(at + 24, s.device, 8);
        put(at + 32, s.inode, 8);
        put(at + 40, s.mode, 4);
        put(at + 44, s.owner, 4);
    }
    put(at, libdeflate_crc32(0, out, static_cast<std::size_t>(at - out)), 4);
}

bool state_record_valid(const unsigned char* data, std::size_t size, std::uint64_t digest, std::uint32_t count) {
    if (size != state_record_size(count) || std::memcmp(data, MAGIC, 4) != 0 || get(data + 4, 4) != VERSION ||
        get(data + 8, 8) != digest || get(data + 16, 4) != count)
        return false;
    return get(data + size - 4, 4) == libdeflate_crc32(0, data, size - 4);
}

kay_stamp record_stamp(const unsigned char* data, std::uint32_t i) {
    const unsigned char* at = data + KAY_RECORD_HEAD_SIZE + i * KAY_STAMP_SIZE;
    return {get(at, 8),
            static_cast<std::int64_t>(get(at + 8, 8)),
            static_cast<std::int64_t>(get(at + 16, 8)),
            get(at + 24, 8),
            get(at + 32, 8),
            static_cast<std::uint32_t>(get(at + 40, 4)),
            static_cast<std::uint32_t>(get(at + 44, 4))};
}
