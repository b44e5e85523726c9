#include "format/data_block.h"

#include <libdeflate.h>

#include <cstring>

#include "format/format.h"

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
    if (static_cast<std::size_t>(end - p) < KAY_INDEX_FIELDS_SIZE) return nullptr;
    entry->size = get_le(p, 8);
    entry->crc = static_cast<std::uint32_t>(get_le(p + 8, 4));
    return p + KAY_INDEX_FIELDS_SIZE;
}

// The texts and the index of the meta [p, end), or false when it does not
// parse to its last byte.
static bool read_meta_body(const unsigned char* p, const unsigned char* end, kay_block* block) {
    for (int i = 0; i < KAY_TEXT_COUNT; i++) {
        if (end - p < 4) return false;
        std::uint64_t units = get_le(p, 4);
        p += 4;
        if (units > static_cast<std::uint64_t>(end - p) / 2) return false;
        block->texts[i].units = p;
        block->texts[i].count = static_cast<std::uint32_t>(units);
        p += units * 2;
    }
    if (end - p < 4) return false;
    block->index_count = static_cast<std::uint32_t>(get_le(p, 4));
    p += 4;
    block->index = p;
    block->index_end = end;
    if (block->index_count != KAY_NO_INDEX) {
        kay_index_entry entry;
        for (std::uint32_t i = 0; i < block->index_count; i++) {
            p = read_entry(p, end, &entry);
            if (p == nullptr) return false;
        }
    }
    block->index_end = p;
    block->flags = 0;
    if (end - p == 4) {
        block->flags = static_cast<std::uint32_t>(get_le(p, 4));
        p += 4;
    }
    return p == end;
}

kay_block_reason read_data_block(const unsigned char* data, std::size_t size, kay_block* block) {
    // The payload's trailing field counts the bytes before it.
    if (size < 16) return KAY_BLOCK_TOO_SHORT;
    std::uint64_t before = get_le(data + size - 8, 8);
    if (before > size - 16) return KAY_BLOCK_PAYLOAD_LENGTH;
    std::size_t payload_size = static_cast<std::size_t>(before) + 8;
    const unsigned char* payload = data + size - payload_size;
    std::uint64_t meta_size = get_le(payload - 8, 8);
    if (meta_size < KAY_META_HEAD_SIZE || meta_size > size - payload_size - 8) return KAY_BLOCK_META_LENGTH;
    const unsigned char* meta = payload - 8 - meta_size;
    const unsigned char* end = payload - 8;

    if (std::memcmp(meta, KAY_META_MAGIC, sizeof KAY_META_MAGIC) != 0) return KAY_BLOCK_MAGIC;
    if (get_le(meta + 4, 4) != KAY_META_VERSION) return KAY_BLOCK_VERSION;
    const unsigned char* p = meta + KAY_META_HEAD_SIZE;
    block->stored_crc = static_cast<std::uint32_t>(get_le(meta + 8, 4));
    block->content_crc = static_cast<std::uint32_t>(libdeflate_crc32(0, p, static_cast<std::size_t>(end - p)));
    if (block->stored_crc != block->content_crc) return KAY_BLOCK_CRC;
    // Counts inside the meta are 32-bit.
    if (meta_size > UINT32_MAX || !read_meta_body(p, end, block)) return KAY_BLOCK_LAYOUT;
    block->payload = payload;
    block->payload_size = payload_size;
    return KAY_BLOCK_OK;
}

bool next_index_entry(const kay_block& block, const unsigned char** cursor, kay_index_entry* entry) {
    if (block.index_count == KAY_NO_INDEX || *cursor >= block.index_end) return false;
    *cursor = read_entry(*cursor, block.index_end, entry);
    return *cursor != nullptr;
}
