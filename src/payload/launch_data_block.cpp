// Launch data of the prebuilt launcher: read at start from the data block
// assembled onto it (kay-pack), the constants turned into native text.
#include <cstdlib>

#include "common/native_text.h"
#include "common/report.h"
#include "format/data_block.h"
#include "format/launch_data.h"
#include "platform/platform.h"


// The code point at units[*i], advancing; a lone surrogate stands for itself.
static std::uint32_t next_code_point(const kay_block_string& text, std::uint32_t* i) {
    auto unit = [&](std::uint32_t k) { return static_cast<std::uint32_t>(text.units[2 * k] | (text.units[2 * k + 1] << 8)); };
    std::uint32_t c = unit((*i)++);
    if (c >= 0xD800 && c <= 0xDBFF && *i < text.count) {
        std::uint32_t low = unit(*i);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            (*i)++;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return c;
}

// A heap copy of `text` in native form, kept until the process ends.
static const kchar* native_text(const kay_block_string& text) {
    std::size_t length = 0;
    for (std::uint32_t i = 0; i < text.count;) length += kay_native_units(next_code_point(text, &i));
    kchar* copy = static_cast<kchar*>(std::malloc((length + 1) * sizeof(kchar)));
    if (copy == nullptr) fatal_error(MSG_NO_MEMORY);
    kchar* out = copy;
    for (std::uint32_t i = 0; i < text.count;) kay_put_native(out, next_code_point(text, &i));
    *out = 0;
    return copy;
}

void load_launch_data(kay_launch_data* out) {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    kay_block block;
    // Not finding the own file is the system's failure, said as such; a file
    // without a valid block has no header.
    if (!kay_sys.locate_data_block(&data, &size)) {
        system_error(MSG_OWN_FILE, kay_sys.last_error(), kay_sys.error_text);
        kay_exit(2);
    }
    if (read_data_block(data, size, &block) != KAY_BLOCK_OK) fatal_error(MSG_NO_HEADER);
    const kchar** fields[KAY_TEXT_COUNT] = {&out->target_spec, &out->company,      &out->product,
                                            &out->version,     &out->file_version, &out->product_version};
    for (int i = 0; i < KAY_TEXT_COUNT; i++) *fields[i] = native_text(block.texts[i]);
    out->payload = block.payload;
    out->payload_size = block.payload_size;
    out->index_count = block.index_count;
    out->index = block.index;
    out->index_end = block.index_end;
    out->progress_line = (block.flags & KAY_FLAG_PROGRESS_LINE) != 0;
    out->check_content = (block.flags & KAY_FLAG_CHECK_CONTENT) != 0;
    std::uint32_t keep = block.flags >> KAY_FLAG_KEEP_SHIFT;
    out->keep_versions = keep == 0 ? KAY_KEEP_DEFAULT : keep == KAY_KEEP_ALL ? 0 : keep;
    // The meta stores the product right after the company.
    const kay_block_string& company = block.texts[KAY_TEXT_COMPANY];
    const kay_block_string& product = block.texts[KAY_TEXT_PRODUCT];
    out->identity = company.units - 4;
    out->identity_size = static_cast<std::size_t>(product.units + 2 * product.count - out->identity);
}
