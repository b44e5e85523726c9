// Payloads written by kay-pack create, read back by list, verify, extract
// and by an independent decoder.
#include <bit>
#include <cstdio>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

namespace {

// CRC-32 of these four bytes is 0.
const std::string CRC_ZERO_CONTENT("\x9d\x0a\xd9\x6d", 4);

std::string text_block(std::size_t size, unsigned seed) {
    static const char* words[] = {"launcher ", "payload ", "entry ", "frame ", "window ", "crc ", "\n"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) s += words[rng() % 7];
    return s.substr(0, size);
}

std::string random_block(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

// Relative path -> content; "bin/app" is the main program.
std::map<std::string, std::string> sample_tree() {
    return {
        {"bin/app", "#!/bin/sh\necho app\n"},
        {"empty", ""},
        {"zero-crc", CRC_ZERO_CONTENT},
        {"lib/data.txt", text_block(300000, 1)},
        {"lib/noise.bin", random_block(70000, 2)},
        {"lib/deep/er/still.py", "print('deep')\n"},
        {"názvy/日本語 ファイル.txt", "unicode\n"},
        {"astral/\xF0\x9F\x98\x80.txt", "outside the basic plane\n"},
        {"README", "readme\n"},
    };
}

void write_tree(const std::string& root, const std::map<std::string, std::string>& tree, bool reverse = false) {
    if (reverse)
        for (auto it = tree.rbegin(); it != tree.rend(); ++it) write_file(root + "/" + it->first, it->second);
    else
        for (const auto& [rel, content] : tree) write_file(root + "/" + rel, content);
}

std::string slashes(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

}  // namespace

class RoundTrip : public KayPackTest {};

TEST_F(RoundTrip, CreateThenDecodeListVerifyExtractGivesTheSameTree) {
    auto tree = sample_tree();
    write_tree(path("app"), tree);
    // The form the build-time launcher function uses.
    Result c = kay_pack({"create", path("app"), "--main", "bin/app", "-o", path("p.kay"), "--quiet"});
    ASSERT_EQ(c.code, 0) << c.err;
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err, "");

    std::string payload = read_file(path("p.kay"));
    // Frame header: no single-segment flag, a checksum, no dictionary; the
    // window the smallest power of two (from 2^10) that holds the entry stream.
    ASSERT_EQ(payload.substr(3, 4), "\x28\xB5\x2F\xFD");
    EXPECT_EQ(static_cast<unsigned char>(payload[7]) & 0x27, 0x04);
    std::vector<Entry> entries = decode_payload(payload);
    std::uint64_t stream_size = 2;
    for (const Entry& e : entries) stream_size += e.name.size() * 2 + 14 + e.content.size();
    EXPECT_EQ(std::uint64_t{static_cast<unsigned char>(payload[8])},
              (std::max<std::uint64_t>(10, std::bit_width(stream_size - 1)) - 10) << 3);

    ASSERT_EQ(entries.size(), tree.size());
    EXPECT_EQ(utf8(entries[0].name), "bin\\app");
    std::map<std::string, std::string> decoded;
    for (const Entry& e : entries) {
        EXPECT_EQ(e.size, e.content.size());
        std::uint32_t crc = crc_of(e.content);
        EXPECT_EQ(e.crc, crc == 0 ? 1u : crc) << utf8(e.name);
        EXPECT_EQ(utf8(e.name).find('/'), std::string::npos);
        decoded[slashes(utf8(e.name))] = e.content;
    }
    EXPECT_EQ(decoded, tree);
    EXPECT_EQ(crc_of(CRC_ZERO_CONTENT), 0u);

    // list: a line per entry in stream order, then the totals.
    Result l = kay_pack({"list", path("p.kay")});
    ASSERT_EQ(l.code, 0) << l.err;
    std::uint64_t total = 0;
    std::size_t at = 0;
    for (const Entry& e : entries) {
        at = l.out.find("  " + utf8(e.name) + "\n", at);
        EXPECT_NE(at, std::string::npos) << utf8(e.name) << " missing or out of order in\n" << l.out;
        total += e.size;
    }
    EXPECT_NE(l.out.find(std::to_string(entries.size()) + " entries, " + std::to_string(total) + " bytes, "),
              std::string::npos)
        << l.out;

    Result v = kay_pack({"verify", path("p.kay")});
    EXPECT_EQ(v.code, 0) << v.err;
    EXPECT_EQ(v.out, path("p.kay") + ": OK, " + std::to_string(entries.size()) + " entries, " +
                         std::to_string(total) + " bytes\n");

    Result x = kay_pack({"extract", path("p.kay"), path("out"), "--quiet"});
    ASSERT_EQ(x.code, 0) << x.err;
    EXPECT_EQ(files_of(path("out")), tree);
    struct stat st;
    ASSERT_EQ(stat(path("out/bin/app").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
}

TEST_F(RoundTrip, ListJsonCarriesEveryEntryAndTheSummary) {
    write_file(path("app/main"), "m");
    write_file(path("app/dir/q\"uote"), "12345");
    ASSERT_EQ(kay_pack({"create", path("app"), "--main", "main", "-o", path("p.kay"), "-q"}).code, 0);
    Result l = kay_pack({"list", "--json", path("p.kay")});
    ASSERT_EQ(l.code, 0) << l.err;
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", crc_of("12345"));
    EXPECT_NE(l.out.find(R"({"name": "main", "size": 1, "crc": ")"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find(std::string(R"({"name": "dir\\q\"uote", "size": 5, "crc": ")") + crc + "\"}"),
              std::string::npos)
        << l.out;
    EXPECT_LT(l.out.find("\"main\""), l.out.find("uote"));
    EXPECT_NE(l.out.find("\"count\": 2,"), std::string::npos);
    EXPECT_NE(l.out.find("\"total_bytes\": 6,"), std::string::npos);
    EXPECT_NE(l.out.find("\"compressed_bytes\": " + std::to_string(read_file(path("p.kay")).size() - 13) + ","),
              std::string::npos);
}

TEST_F(RoundTrip, SameTreeGivesByteIdenticalPayloads) {
    auto tree = sample_tree();
    write_tree(path("a"), tree);
    write_tree(path("b"), tree, true);  // other creation order, other directory order
    ASSERT_EQ(kay_pack({"create", path("a"), "--main", "bin/app", "-o", path("a1.kay"), "-q"}).code, 0);
    ASSERT_EQ(kay_pack({"create", path("a"), "--main", "./bin//app", "-o", path("a2.kay"), "-q"}).code, 0);
    ASSERT_EQ(kay_pack({"create", path("b/"), "--main", "bin/app", "-o", path("b.kay"), "-q"}).code, 0);
    std::string a1 = read_file(path("a1.kay"));
    EXPECT_EQ(a1, read_file(path("a2.kay")));
    EXPECT_EQ(a1, read_file(path("b.kay")));

    // Several compression jobs: the output must not depend on the threads.
    for (int i = 0; i < 4; i++) write_file(path("big/part" + std::to_string(i)), text_block(2 << 20, 10 + i));
    write_file(path("big/main"), "m");
    std::string first;
    for (const char* threads : {"1", "2", "5"}) {
        std::string out = path(std::string("big") + threads + ".kay");
        Result r = kay_pack({"create", path("big"), "--main", "main", "-o", out, "-q", "--level", "3",
                             "--threads", threads});
        ASSERT_EQ(r.code, 0) << r.err;
        std::string payload = read_file(out);
        if (first.empty()) first = payload;
        EXPECT_EQ(payload, first) << threads << " threads";
    }
    EXPECT_EQ(decode_payload(first).size(), 5u);
}

TEST_F(RoundTrip, FollowSymlinksPacksWhatLinksPointTo) {
    write_file(path("app/main"), "m");
    write_file(path("outside/lib/x.txt"), "x");
    write_file(path("outside/file"), "f");
    ASSERT_EQ(symlink(path("outside/lib").c_str(), path("app/lib").c_str()), 0);
    ASSERT_EQ(symlink("../outside/file", path("app/file").c_str()), 0);
    Result r = kay_pack({"create", path("app"), "--main", "main", "-o", path("p.kay"), "-q", "--follow-symlinks"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::map<std::string, std::string> got;
    for (const Entry& e : decode_payload(read_file(path("p.kay")))) got[slashes(utf8(e.name))] = e.content;
    EXPECT_EQ(got, (std::map<std::string, std::string>{{"main", "m"}, {"lib/x.txt", "x"}, {"file", "f"}}));
}

TEST_F(RoundTrip, ReaderAcceptsFramesOfAnotherWriter) {
    // A single-segment frame with content size and checksum, as the zstd
    // tool writes it: also acceptable to a launcher's decoder.
    std::string stream = entry_bytes(u"main.exe", "main", crc_of("main")) +
                         entry_bytes(u"sub\\text", text_block(500000, 3), crc_of(text_block(500000, 3))) +
                         std::string(2, '\0');
    write_file(path("p.kay"), make_payload(stream, {"-3", "--check"}));
    Result v = kay_pack({"verify", path("p.kay")});
    EXPECT_EQ(v.code, 0) << v.err;
    Result x = kay_pack({"extract", path("p.kay"), path("out"), "-q"});
    ASSERT_EQ(x.code, 0) << x.err;
    EXPECT_EQ(files_of(path("out")),
              (std::map<std::string, std::string>{{"main.exe", "main"}, {"sub/text", text_block(500000, 3)}}));
}
