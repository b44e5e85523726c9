// Reading a payload: the container checks and the decoded entry stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include <zstd.h>

#include "format/data_block.h"
#include "host.h"

struct EntryStream {
    std::string path;
    const unsigned char* data = nullptr;  // the whole payload
    std::size_t size = 0;
    MappedFile map;                       // the file, when the stream mapped it
    std::size_t frame_size = 0;           // the frame starts at offset 3
    std::uint64_t window_size = 0;
    ZSTD_DCtx* dctx = nullptr;
    ZSTD_inBuffer in{};
    std::vector<unsigned char> out;
    std::size_t out_pos = 0, out_len = 0;
    bool frame_ended = false;
    std::uint64_t decoded = 0;            // entry stream bytes consumed
    std::string kay_version;              // of a launcher's program, when it names one
    std::string made_by;                  // a launcher's "kind (kay <version>)"
    std::uint64_t entry_index = 0;        // entries read so far
    // Corrupt data throws StreamError instead of ending kay-pack.
    bool throw_errors = false;
};

struct StreamError {
    std::string message;
};

struct EntryHeader {
    std::u16string name;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};

// Maps `path` and checks the container: magic, exactly one frame with a
// window within the launcher's limit and no dictionary, the filler and the
// trailing length. Fails with a message otherwise.
void stream_open(EntryStream& stream, const std::string& path);
// The same for a payload at [data, data + size) inside the file `path`
// (a launcher), which stays the caller's.
void stream_open_bytes(EntryStream& stream, const std::string& path, const unsigned char* data, std::size_t size);
// A payload, or a launcher whose data block (split into *block) holds
// one: opened as stream_open_bytes opens the payload. Returns what
// launcher_kind_name calls the launcher, nullptr for a payload (and in
// stream.made_by that name with the kay version of its program, when it
// names one); fails with a message when a launcher has no well-formed
// block.
const char* stream_open_any(EntryStream& stream, const std::string& path, kay_block* block);
void stream_close(EntryStream& stream);

// The next entry's name, size and crc; false at the end marker.
bool stream_next(EntryStream& stream, EntryHeader& header);
// Up to `max` content bytes (at least one while max > 0), pointing into the
// stream's buffer; a stream that ends early is reported as truncated.
std::size_t stream_content(EntryStream& stream, const unsigned char** data, std::uint64_t max);
// After the end marker: checks that nothing follows it in the frame.
void stream_finish(EntryStream& stream);

// CRC-32 of a whole entry's content, read from the stream.
std::uint32_t stream_content_crc(EntryStream& stream, std::uint64_t size);
