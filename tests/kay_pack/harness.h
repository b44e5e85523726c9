// kay-pack run as a real process (tests/support), payloads written and
// read back without kay-pack's own code: the zstd command-line tool
// compresses and decompresses, and the entry stream is walked here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "process.h"

using namespace kay_test;

// Runs kay-pack with `args` (and `options` for the rest).
Result kay_pack(const std::vector<std::string>& args, RunOptions options = {});

inline const std::string SAME_ON_WINDOWS =
    " (Windows ignores case and trailing dots and blanks, and takes '/' for '\\')";
inline const std::string SAME_SEPARATOR = " ('/' and '\\' are one separator)";

struct Entry {
    std::u16string name;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::string content;
    bool operator==(const Entry&) const = default;
};

// The payload's container, checked independently: "KAY", frame bytes, two
// zero bytes and the trailing length. Returns the frame bytes.
std::string frame_of(const std::string& payload);
// Decodes a payload with the zstd command-line tool and walks the entries.
std::vector<Entry> decode_payload(const std::string& payload);

// A raw entry stream for hand-made payloads.
std::string entry_bytes(const std::u16string& name, const std::string& content, std::uint32_t crc);
std::uint32_t crc_of(const std::string& content);
// "KAY" + zstd CLI compression of `stream` (with `zstd_args`) + filler + length.
std::string make_payload(const std::string& stream, const std::vector<std::string>& zstd_args = {});

std::string utf8(const std::u16string& text);

// A fresh directory per test, removed afterwards.
class KayPackTest : public ::testing::Test {
protected:
    std::string path(const std::string& rel) const { return scratch / rel; }
    Scratch scratch;
    std::string dir = scratch.path();
};
