#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include "entry_stream.h"

#include <algorithm>
#include <libdeflate.h>

#include "fail.h"
#include "format/format.h"
#include "format/launcher_file.h"
#include <cstdio>

[[noreturn]] static void corrupt(const EntryStream& stream, const std::string& what) {
    if (stream.throw_errors) throw StreamError{what};
    fail(::quoted(stream.path) + ": " + what);
}

static void check_container(EntryStream& stream) {
    const unsigned char* p = stream.data;
    std::size_t size = stream.size;
    if (size < sizeof KAY_MAGIC || p[0] != KAY_MAGIC[0] || p[1] != KAY_MAGIC[1] ||
        p[2] != KAY_MAGIC[2])
        corrupt(stream, "not a payload (does not start with \"KAY\")");
    const unsigned char* frame = p + 3;
    std::size_t rest = size - 3;

    ZSTD_frameHeader fh;
    std::size_t r = ZSTD_getFrameHeader(&fh, frame, rest);
    if (ZSTD_isError(r)) corrupt(stream, "no Zstandard frame after \"KAY\"");
    if (r != 0) corrupt(stream, "truncated (incomplete frame header)");
    if (fh.frameType != ZSTD_frame) corrupt(stream, "a skippable frame where the Zstandard frame belongs");
    if (fh.windowSize > (1ull << KAY_WINDOW_LOG))
        corrupt(stream, "frame window of " + std::to_string(fh.windowSize) + " bytes exceeds the launcher's limit of " +
                            std::to_string(1ull << KAY_WINDOW_LOG));
    if (fh.dictID != 0) corrupt(stream, "frame needs a dictionary");
    stream.window_size = fh.windowSize;

    std::size_t frame_size = ZSTD_findFrameCompressedSize(frame, rest);
    if (ZSTD_isError(frame_size)) corrupt(stream, "truncated or corrupt Zstandard frame");
    stream.frame_size = frame_size;
    std::size_t after = rest - frame_size;
    if (after < KAY_TAIL_SIZE) corrupt(stream, "truncated (filler or length missing after the frame)");
    if (after > KAY_TAIL_SIZE) {
        unsigned magic = static_cast<unsigned>(get_le(frame + frame_size, 4));
        if (magic == ZSTD_MAGICNUMBER || (magic & ZSTD_MAGIC_SKIPPABLE_MASK) == ZSTD_MAGIC_SKIPPABLE_START)
            corrupt(stream, "more than one frame");
        corrupt(stream, std::to_string(after - KAY_TAIL_SIZE) + " unexpected bytes after the frame");
    }
    const unsigned char* tail = frame + frame_size;
    if (tail[0] != 0 || tail[1] != 0) corrupt(stream, "filler after the frame is not two zero bytes");
    std::uint64_t length = get_le(tail + 2, 8);
    if (length != size - 8)
        corrupt(stream, "trailing length is " + std::to_string(length) + ", expected " + std::to_string(size - 8));
}

void stream_open(EntryStream& stream, const std::string& path) {
    bool regular = false;
    if (!host_map(path, stream.map, regular)) fail_errno("cannot open " + ::quoted(path));
    if (!regular) fail(::quoted(path) + ": not a regular file");
    stream_open_bytes(stream, path, stream.map.data, stream.map.size);
}

void stream_open_bytes(EntryStream& stream, const std::string& path, const unsigned char* data, std::size_t size) {
    stream.path = path;
    stream.data = data;
    stream.size = size;
    check_container(stream);

    stream.dctx = ZSTD_createDCtx();
    if (stream.dctx == nullptr) fail("out of memory");
    ZSTD_DCtx_setParameter(stream.dctx, ZSTD_d_windowLogMax, KAY_WINDOW_LOG);
    stream.in = {stream.data + 3, stream.frame_size, 0};
    stream.out.resize(KAY_WINDOW_SIZE);
}

// Why read_data_block refused a block, as verify explains it.
static std::string block_problem(kay_block_reason reason, const kay_block& block) {
    char text[128];
    switch (reason) {
    case KAY_BLOCK_OK: return "";
    case KAY_BLOCK_TOO_SHORT: return "no data block (too short)";
    case KAY_BLOCK_PAYLOAD_LENGTH: return "no data block (the payload's trailing length points outside the file)";
    case KAY_BLOCK_META_LENGTH: return "no data block (bad length of the constants)";
    case KAY_BLOCK_MAGIC: return "no data block (no \"KAYM\" before the payload)";
    case KAY_BLOCK_VERSION: return "data block of an unknown version";
    case KAY_BLOCK_CRC:
        std::snprintf(text, sizeof text, "constants and index damaged (CRC-32 stored %08x, content gives %08x)",
                      block.stored_crc, block.content_crc);
        return text;
    case KAY_BLOCK_LAYOUT: break;
    }
    return "constants and index do not parse";
}

const char* stream_open_any(EntryStream& stream, const std::string& path, kay_block* block) {
    bool regular = false;
    if (!host_map(path, stream.map, regular)) fail_errno("cannot open " + ::quoted(path));
    if (!regular) fail(::quoted(path) + ": not a regular file");
    const unsigned char* data = stream.map.data;
    std::size_t size = stream.map.size;
    // A launcher: the payload comes from its data block.
    const char* kind = launcher_kind_name(data, size);
    if (kind != nullptr) {
        stream.kay_version = launcher_version(data, size);
        stream.made_by = stream.kay_version.empty() ? kind : std::string(kind) + " (kay " + stream.kay_version + ")";
        if (!launcher_block_bytes(launcher_kind(data, size), &data, &size))
            fail(::quoted(path) + ": " + kind + " without a " + KAY_SECTION_NAME + " section (no data block)");
        kay_block_reason reason = read_data_block(data, size, block);
        if (reason != KAY_BLOCK_OK) fail(::quoted(path) + ": " + kind + ": " + block_problem(reason, *block));
        data = block->payload;
        size = block->payload_size;
    }
    stream_open_bytes(stream, path, data, size);
    return kind;
}

void stream_close(EntryStream& stream) {
    if (stream.dctx != nullptr) ZSTD_freeDCtx(stream.dctx);
    stream.dctx = nullptr;
    host_unmap(stream.map);
    stream.data = nullptr;
}

// Decodes more of the entry stream; false when the frame has no more.
static bool refill(EntryStream& stream) {
    stream.out_pos = stream.out_len = 0;
    while (stream.out_len == 0) {
        if (stream.frame_ended) return false;
        ZSTD_outBuffer out{stream.out.data(), stream.out.size(), 0};
        std::size_t before = stream.in.pos;
        std::size_t r = ZSTD_decompressStream(stream.dctx, &out, &stream.in);
        if (ZSTD_isError(r)) corrupt(stream, std::string("corrupt compressed data (") + ZSTD_getErrorName(r) + ")");
        stream.out_len = out.pos;
        if (r == 0) stream.frame_ended = true;
        else if (out.pos == 0 && stream.in.pos == before && stream.in.pos == stream.in.size) return false;
    }
    return true;
}

[[noreturn]] static void truncated(const EntryStream& stream, std::uint64_t entry, const char* where) {
    corrupt(stream, "entry stream ends inside " + std::string(where) + " of entry " + std::to_string(entry));
}

// False when the stream ends first.
static bool read_exact(EntryStream& stream, void* dst, std::size_t size) {
    unsigned char* p = static_cast<unsigned char*>(dst);
    while (size > 0) {
        if (stream.out_pos == stream.out_len && !refill(stream)) return false;
        std::size_t n = std::min(size, stream.out_len - stream.out_pos);
        std::copy(stream.out.data() + stream.out_pos, stream.out.data() + stream.out_pos + n, p);
        stream.out_pos += n;
        stream.decoded += n;
        p += n;
        size -= n;
    }
    return true;
}

bool stream_next(EntryStream& stream, EntryHeader& header) {
    std::uint64_t entry = stream.entry_index + 1;
    header.name.clear();
    for (;;) {
        unsigned char unit[2];
        if (!read_exact(stream, unit, 2)) {
            if (header.name.empty()) corrupt(stream, "entry stream ends without the end marker");
            truncated(stream, entry, "the name");
        }
        char16_t c = static_cast<char16_t>(unit[0] | (unit[1] << 8));
        if (c == 0) break;
        if (header.name.size() == KAY_NAME_CAPACITY - 1)
            corrupt(stream, "name of entry " + std::to_string(entry) + " longer than " + std::to_string(KAY_NAME_CAPACITY - 1) +
                                " UTF-16 units");
        header.name.push_back(c);
    }
    if (header.name.empty()) return false;
    unsigned char fields[12];
    if (!read_exact(stream, fields, 12)) truncated(stream, entry, "the size and crc");
    header.size = get_le(fields, 8);
    header.crc = static_cast<std::uint32_t>(get_le(fields + 8, 4));
    stream.entry_index = entry;
    return true;
}

std::size_t stream_content(EntryStream& stream, const unsigned char** data, std::uint64_t max) {
    if (max == 0) return 0;
    if (stream.out_pos == stream.out_len && !refill(stream))
        truncated(stream, stream.entry_index, "the content");
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(max, stream.out_len - stream.out_pos));
    *data = stream.out.data() + stream.out_pos;
    stream.out_pos += n;
    stream.decoded += n;
    return n;
}

std::uint32_t stream_content_crc(EntryStream& stream, std::uint64_t size) {
    std::uint32_t crc = 0;
    while (size > 0) {
        const unsigned char* p;
        std::size_t n = stream_content(stream, &p, size);
        crc = libdeflate_crc32(crc, p, n);
        size -= n;
    }
    return crc;
}

void stream_finish(EntryStream& stream) {
    if (stream.out_pos != stream.out_len || refill(stream)) corrupt(stream, "data after the end marker");
    if (!stream.frame_ended) corrupt(stream, "truncated Zstandard frame");
}
