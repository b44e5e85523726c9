// Launch data of the prebuilt launcher: read at start from the data block
// assembled onto it (kay-pack), the constants turned into native text.
#include <cstdlib>

#include "common/report.h"
#include "payload/block_meta.h"
#include "format/launch_data.h"
#include "platform/platform.h"

kay_launch_data g_launch;

// Units a code point takes in native text: UTF-16 on Windows, UTF-8 elsewhere.
static std::uint32_t native_units(std::uint32_t c) {
#if KAY_WINDOWS
    return c < 0x10000 ? 1 : 2;
#else
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
#endif
}

static void put(kchar*& out, std::uint32_t c) {
#if KAY_WINDOWS
    if (c >= 0x10000) {
        *out++ = static_cast<kchar>(0xD800 + ((c - 0x10000) >> 10));
        c = 0xDC00 + (c & 0x3FF);
    }
    *out++ = static_cast<kchar>(c);
#else
    std::uint32_t n = native_units(c);
    static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (std::uint32_t i = n; i-- > 1;) out[i] = static_cast<char>(0x80 | ((c >> (6 * (n - 1 - i))) & 0x3F));
    out[0] = static_cast<char>(n == 1 ? c : lead[n] | (c >> (6 * (n - 1))));
    out += n;
#endif
}

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
    for (std::uint32_t i = 0; i < text.count;) length += native_units(next_code_point(text, &i));
    kchar* copy = static_cast<kchar*>(std::malloc((length + 1) * sizeof(kchar)));
    if (copy == nullptr) fatal_error(MSG_NO_MEMORY);
    kchar* out = copy;
    for (std::uint32_t i = 0; i < text.count;) put(out, next_code_point(text, &i));
    *out = 0;
    return copy;
}

void load_launch_data(void) {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    kay_block block;
    if (!kay_sys.locate_data_block(&data, &size) || !parse_block(data, size, &block)) fatal_error(MSG_NO_HEADER);
    const kchar** fields[KAY_TEXT_COUNT] = {&g_launch.target_spec, &g_launch.company,      &g_launch.product,
                                            &g_launch.version,     &g_launch.file_version, &g_launch.product_version};
    for (int i = 0; i < KAY_TEXT_COUNT; i++) *fields[i] = native_text(block.texts[i]);
    g_launch.payload = block.payload;
    g_launch.payload_size = block.payload_size;
    g_launch.index_count = block.index_count;
    g_launch.index = block.index;
    g_launch.index_end = block.index_end;
}
