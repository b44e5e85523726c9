#include "launcher_block.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "entry_stream.h"
#include "fail.h"
#include "format/format.h"
#include "host.h"
#include "names.h"

bool read_payload_index(const std::string& path, std::vector<IndexEntry>& index, std::string& why,
                        std::string& main_head) {
    EntryStream stream;
    stream.throw_errors = true;
    try {
        stream_open(stream, path);
        EntryHeader header;
        while (stream_next(stream, header)) {
            index.push_back({header.name, header.size, header.crc});
            const unsigned char* data;
            for (std::uint64_t left = header.size; left > 0;) {
                std::size_t n = stream_content(stream, &data, left);
                if (index.size() == 1 && main_head.size() < MAIN_HEAD_SIZE)
                    main_head.append(reinterpret_cast<const char*>(data), std::min(n, MAIN_HEAD_SIZE - main_head.size()));
                left -= n;
            }
        }
        stream_finish(stream);
    } catch (const StreamError& error) {
        stream_close(stream);
        index.clear();
        why = error.message;
        return false;
    }
    stream_close(stream);
    return true;
}

// A constant as UTF-16; not UTF-8 fails naming `what`.
static std::u16string text_units(const std::string& utf8, const char* what) {
    std::u16string units;
    if (!utf8_to_utf16(utf8, units)) fail(std::string(what) + " is not valid UTF-8");
    return units;
}

std::string read_whole_file(const std::string& path, const std::string& what) {
    FILE* f = host_fopen(path, "rb");
    if (f == nullptr) fail_errno(what + " " + ::quoted(path));
    std::string data;
    char buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) fail_errno("cannot read " + what + " " + ::quoted(path));
    return data;
}

BlockPayload read_block_payload(const std::string& path, const std::vector<IndexEntry>* known) {
    BlockPayload payload;
    payload.bytes = read_whole_file(path, "payload");
    // The launcher finds the payload from the block's end through this field.
    std::size_t size = payload.bytes.size();
    std::uint64_t expected = size < 8 ? 0 : size - 8;
    if (size < 8 || get_le(reinterpret_cast<const unsigned char*>(payload.bytes.data()) + expected, 8) != expected)
        fail(::quoted(path) + ": does not end with its length as 8 bytes (" + std::to_string(expected) +
             "), so a launcher could not find it");
    if (known != nullptr) {
        payload.whole = true;
        payload.index = *known;
        return payload;
    }
    std::string why;
    payload.whole = read_payload_index(path, payload.index, why, payload.main_head);
    if (!payload.whole) warn(::quoted(path) + ": " + why + "; the launcher gets no entry index");
    return payload;
}

std::string launcher_block(const BlockPayload& payload, const LauncherConstants& c) {
    const std::u16string texts[KAY_TEXT_COUNT] = {
        text_units(c.target_spec, "the target specification"), text_units(c.company, "the company"),
        text_units(c.product, "the product"),                  text_units(c.version, "the version"),
        text_units(c.file_version, "the file version"),        text_units(c.product_version, "the product version")};
    return data_block_head(texts, payload.whole ? &payload.index : nullptr,
                           (c.progress_line ? KAY_FLAG_PROGRESS_LINE : 0) | (c.check_content ? KAY_FLAG_CHECK_CONTENT : 0) |
                               c.keep_versions << KAY_FLAG_KEEP_SHIFT) + payload.bytes;
}
