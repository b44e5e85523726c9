// Test harness: runs kay-pack as a process, builds trees and payloads on
// disk, and decodes payloads independently of kay-pack's reader.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct RunResult {
    int code = -1;
    std::string out, err;
};

// Runs `argv` (argv[0] searched in PATH) with no standard input.
RunResult run(const std::vector<std::string>& argv);
// Runs kay-pack with `args`.
RunResult kay_pack(const std::vector<std::string>& args);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);  // creates parent directories
bool exists(const std::string& path);                                  // lstat succeeds

// Relative path ('/' separators) -> content of every regular file.
std::map<std::string, std::string> snapshot(const std::string& root);
// Every name under `dir` (files, directories, links), relative.
std::vector<std::string> list_dir(const std::string& dir);

struct Entry {
    std::u16string name;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::string content;
};

// The payload's container, checked independently: "KAY", frame bytes, two
// zero bytes and the trailing length. Returns the frame bytes.
std::string frame_of(const std::string& payload);
// Decodes a payload with the zstd command-line tool and walks the entries.
std::vector<Entry> decode_payload(const std::string& payload);

// A raw entry stream for hand-made payloads; `end` adds the end marker.
std::string entry_bytes(const std::u16string& name, const std::string& content, std::uint32_t crc);
std::uint32_t crc_of(const std::string& content);
// "KAY" + zstd CLI compression of `stream` (with `zstd_args`) + filler + length.
std::string make_payload(const std::string& stream, const std::vector<std::string>& zstd_args = {});

std::string utf8(const std::u16string& text);
std::u16string utf16(const std::string& text);

// A fresh directory per test, removed afterwards.
class KayPackTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string path(const std::string& rel) const { return dir + "/" + rel; }
    std::string dir;
};
