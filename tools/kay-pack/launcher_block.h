// The data block that turns a prebuilt launcher program into a launcher:
//   [meta] [u64 LE length of meta] [payload, byte for byte]
// (layout and writer: src/format/data_block.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/data_block.h"

// The build-time constants, UTF-8.
struct LauncherConstants {
    std::string target_spec, company, product, version, file_version, product_version;
    bool progress_line = false;  // --progress
    bool check_content = false;  // --check content
    // --keep-versions as the flags hold it: 0 for the default, KAY_KEEP_ALL.
    std::uint32_t keep_versions = 0;
};

using IndexEntry = kay_block_entry;

// Every entry of the payload at `path`, in payload order, read through to
// the end marker. False, with the reason in `why`, when the payload cannot
// be read whole.
// `main_head` receives the first entry's first bytes (up to MAIN_HEAD_SIZE).
constexpr std::size_t MAIN_HEAD_SIZE = 4096;
bool read_payload_index(const std::string& path, std::vector<IndexEntry>& index, std::string& why,
                        std::string& main_head);

// A payload file read for a block: its bytes and, when it reads whole, its
// index (a payload that does not gets none, with a warning).
struct BlockPayload {
    std::string bytes;
    bool whole = false;
    std::vector<IndexEntry> index;
    std::string main_head;  // the first entry's first bytes, when decoded here
};
// `known` (when not nullptr) is the index of a payload just written, which
// then is not decoded again.
BlockPayload read_block_payload(const std::string& path, const std::vector<IndexEntry>* known);

// The whole block.
std::string launcher_block(const BlockPayload& payload, const LauncherConstants& constants);

// The bytes of a whole file; fails with a message naming `what`.
std::string read_whole_file(const std::string& path, const std::string& what);
