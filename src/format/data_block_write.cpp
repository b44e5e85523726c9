#include <libdeflate.h>

#include "format/data_block.h"
#include "format/format.h"

std::string index_bytes(const std::vector<kay_block_entry>& index) {
    std::string out;
    for (const kay_block_entry& e : index) {
        for (char16_t u : e.name) put_le(out, u, 2);
        put_le(out, 0, 2);
        put_le(out, e.size, 8);
        put_le(out, e.crc, 4);
    }
    return out;
}

std::string data_block_head(const std::u16string (&texts)[KAY_TEXT_COUNT], const std::vector<kay_block_entry>* index,
                            std::uint32_t flags) {
    std::string body;
    for (const std::u16string& text : texts) {
        put_le(body, text.size(), 4);
        for (char16_t u : text) put_le(body, u, 2);
    }
    put_le(body, index != nullptr ? index->size() : KAY_NO_INDEX, 4);
    if (index != nullptr) body += index_bytes(*index);
    if (flags != 0) put_le(body, flags, 4);
    std::string head(reinterpret_cast<const char*>(KAY_META_MAGIC), sizeof KAY_META_MAGIC);
    put_le(head, KAY_META_VERSION, 4);
    put_le(head, libdeflate_crc32(0, body.data(), body.size()), 4);
    head += body;
    put_le(head, head.size(), 8);
    return head;
}
