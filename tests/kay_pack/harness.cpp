#include "harness.h"

#include <zlib.h>

Result kay_pack(const std::vector<std::string>& args, RunOptions options) {
    options.args.insert(options.args.begin(), args.begin(), args.end());
    // kay-pack build compiles a launcher, which takes minutes on a busy machine.
    options.timeout_ms = 550000;
    return run(native(), KAY_PACK_PATH, options);
}

// What the zstd command-line tool run with `args` makes of `in`.
static std::string zstd(std::vector<std::string> args, const std::string& in) {
    Scratch tmp;
    write_file(tmp / "in", in);
    args.insert(args.end(), {"-q", "-f", tmp / "in", "-o", tmp / "out"});
    Result r = run(native(), ZSTD_CLI_PATH, {.args = args});
    EXPECT_EQ(r.code, 0) << r.err;
    return read_file(tmp / "out");
}

static std::uint64_t le(const std::string& s, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
    return v;
}

static void put_le(std::string& s, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; i++) s.push_back(static_cast<char>(v >> (8 * i)));
}

std::string frame_of(const std::string& payload) {
    EXPECT_GE(payload.size(), 13u);
    EXPECT_EQ(payload.substr(0, 3), "KAY");
    EXPECT_EQ(le(payload, payload.size() - 8, 8), payload.size() - 8);
    EXPECT_EQ(payload.substr(payload.size() - 10, 2), std::string(2, '\0'));
    return payload.substr(3, payload.size() - 13);
}

std::vector<Entry> decode_payload(const std::string& payload) {
    std::string s = zstd({"-d", "--long=27"}, frame_of(payload));
    std::vector<Entry> entries;
    std::size_t pos = 0;
    for (;;) {
        Entry e;
        for (char16_t c; (c = static_cast<char16_t>(le(s, pos, 2))) != 0; pos += 2) e.name.push_back(c);
        pos += 2;
        if (e.name.empty()) break;
        e.size = le(s, pos, 8);
        e.crc = static_cast<std::uint32_t>(le(s, pos + 8, 4));
        e.content = s.substr(pos + 12, e.size);
        pos += 12 + e.size;
        entries.push_back(e);
    }
    EXPECT_EQ(pos, s.size()) << "bytes after the end marker";
    return entries;
}

std::uint32_t crc_of(const std::string& content) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
}

std::string entry_bytes(const std::u16string& name, const std::string& content, std::uint32_t crc) {
    std::string s;
    for (char16_t c : name) put_le(s, c, 2);
    put_le(s, 0, 2);
    put_le(s, content.size(), 8);
    put_le(s, crc, 4);
    return s + content;
}

std::string make_payload(const std::string& stream, const std::vector<std::string>& zstd_args) {
    std::vector<std::string> args{"--no-check"};
    args.insert(args.end(), zstd_args.begin(), zstd_args.end());
    std::string payload = "KAY" + zstd(args, stream) + std::string(2, '\0');
    put_le(payload, payload.size(), 8);
    return payload;
}

std::string utf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); i++) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size())
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

