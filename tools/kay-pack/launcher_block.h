// The data block that turns a prebuilt launcher program into a launcher:
//   [meta] [u64 LE length of meta] [payload, byte for byte]
// (layout of the meta: src/payload/block_meta.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The build-time constants, UTF-8.
struct LauncherConstants {
    std::string target_spec, company, product, version, file_version, product_version;
};

struct IndexEntry {
    std::u16string name;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;  // as stored in the payload
};

// Every entry of the payload at `path`, in payload order, read through to
// the end marker. False, with the reason in `why`, when the payload cannot
// be read whole.
bool read_payload_index(const std::string& path, std::vector<IndexEntry>& index, std::string& why);

// The meta; `index` nullptr writes "no index".
std::string block_meta(const LauncherConstants& constants, const std::vector<IndexEntry>* index);

// The whole block for the payload file at `path`. A payload that cannot be
// read whole gets no index, with a warning.
std::string launcher_block(const std::string& path, const LauncherConstants& constants);

// The bytes of a whole file; fails with a message naming `what`.
std::string read_whole_file(const std::string& path, const std::string& what);
