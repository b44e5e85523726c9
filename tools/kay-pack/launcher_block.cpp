#include "launcher_block.h"

#include <cerrno>
#include <cstdio>
#include <libdeflate.h>

#include "entry_stream.h"
#include "fail.h"
#include "format/format.h"
#include "host.h"
#include "names.h"

static const char META_MAGIC[] = "KAYM";
static constexpr std::uint32_t META_VERSION = 1;
static constexpr std::uint32_t NO_INDEX = 0xFFFFFFFFu;

bool read_payload_index(const std::string& path, std::vector<IndexEntry>& index, std::string& why) {
    EntryStream stream;
    stream.throw_errors = true;
    try {
        stream_open(stream, path);
        EntryHeader header;
        while (stream_next(stream, header)) {
            index.push_back({header.name, header.size, header.crc});
            const unsigned char* data;
            for (std::uint64_t left = header.size; left > 0;) left -= stream_content(stream, &data, left);
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

static void put_text(std::string& out, const std::string& utf8, const char* what) {
    std::u16string units;
    if (!utf8_to_utf16(utf8, units)) fail(std::string(what) + " is not valid UTF-8");
    put_le(out, units.size(), 4);
    for (char16_t u : units) put_le(out, u, 2);
}

std::string block_meta(const LauncherConstants& c, const std::vector<IndexEntry>* index) {
    std::string body;
    put_text(body, c.target_spec, "the target specification");
    put_text(body, c.company, "the company");
    put_text(body, c.product, "the product");
    put_text(body, c.version, "the version");
    put_text(body, c.file_version, "the file version");
    put_text(body, c.product_version, "the product version");
    put_le(body, index != nullptr ? index->size() : NO_INDEX, 4);
    if (index != nullptr) {
        for (const IndexEntry& e : *index) {
            for (char16_t u : e.name) put_le(body, u, 2);
            put_le(body, 0, 2);
            put_le(body, e.size, 8);
            put_le(body, e.crc, 4);
        }
    }
    std::string meta(META_MAGIC, 4);
    put_le(meta, META_VERSION, 4);
    put_le(meta, libdeflate_crc32(0, body.data(), body.size()), 4);
    return meta + body;
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
    payload.whole = read_payload_index(path, payload.index, why);
    if (!payload.whole) warn(::quoted(path) + ": " + why + "; the launcher gets no entry index");
    return payload;
}

std::string launcher_block(const BlockPayload& payload, const LauncherConstants& constants) {
    std::string block = block_meta(constants, payload.whole ? &payload.index : nullptr);
    put_le(block, block.size(), 8);
    return block + payload.bytes;
}
