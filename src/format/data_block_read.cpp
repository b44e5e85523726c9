#include "payload/block_meta.h"

#include <libdeflate.h>

#include <cstring>

static std::uint64_t le(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | p[i];
    return v;
}

// Reads one index entry from [p, end); nullptr when it runs past the end.
static const unsigned char* read_entry(const unsigned char* p, const unsigned char* end, kay_index_entry* entry) {
    entry->name = p;
    for (;;) {
        if (end - p < 2) return nullptr;
        bool terminator = p[0] == 0 && p[1] == 0;
        p += 2;
        if (terminator) break;
    }
    entry->name_units = static_cast<std::uint32_t>((p - entry->name) / 2 - 1);
    if (end - p < 12) return nullptr;
    entry->size = le(p, 8);
    entry->crc = static_cast<std::uint32_t>(le(p + 8, 4));
    return p + 12;
}

bool parse_block(const unsigned char* data, std::size_t size, kay_block* block) {
    // The payload's trailing field counts the bytes before it.
    if (size < 16) return false;
    std::uint64_t before = le(data + size - 8, 8);
    if (before > size - 16) return false;
    std::size_t payload_size = static_cast<std::size_t>(before) + 8;
    const unsigned char* payload = data + size - payload_size;
    std::uint64_t meta_size = le(payload - 8, 8);
    if (meta_size < 12 || meta_size > size - payload_size - 8 || meta_size > 0xFFFFFFFFu) return false;
    const unsigned char* meta = payload - 8 - meta_size;
    const unsigned char* end = payload - 8;

    if (std::memcmp(meta, KAY_META_MAGIC, sizeof KAY_META_MAGIC) != 0) return false;
    if (le(meta + 4, 4) != KAY_META_VERSION) return false;
    const unsigned char* p = meta + 12;
    std::uint32_t crc = static_cast<std::uint32_t>(libdeflate_crc32(0, p, static_cast<std::size_t>(end - p)));
    if (le(meta + 8, 4) != crc) return false;

    for (int i = 0; i < KAY_TEXT_COUNT; i++) {
        if (end - p < 4) return false;
        std::uint64_t units = le(p, 4);
        p += 4;
        if (units > static_cast<std::uint64_t>(end - p) / 2) return false;
        block->texts[i].units = p;
        block->texts[i].count = static_cast<std::uint32_t>(units);
        p += units * 2;
    }
    if (end - p < 4) return false;
    block->index_count = static_cast<std::uint32_t>(le(p, 4));
    p += 4;
    block->index = p;
    if (block->index_count == KAY_NO_INDEX) {
        if (p != end) return false;
    } else {
        kay_index_entry entry;
        for (std::uint32_t i = 0; i < block->index_count; i++) {
            p = read_entry(p, end, &entry);
            if (p == nullptr) return false;
        }
        if (p != end) return false;
    }
    block->index_end = end;
    block->payload = payload;
    block->payload_size = payload_size;
    return true;
}

bool next_index_entry(const kay_block& block, const unsigned char** cursor, kay_index_entry* entry) {
    if (block.index_count == KAY_NO_INDEX || *cursor >= block.index_end) return false;
    *cursor = read_entry(*cursor, block.index_end, entry);
    return *cursor != nullptr;
}
