// The stream reader over hand-made Zstandard frames of raw blocks: exact
// reads across window refills, names split between windows, and the ends
// on corrupt, truncated and over-long input.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <string>

#include "payload/reader.h"

namespace {

constexpr std::size_t W = KAY_WINDOW_SIZE;

// One frame without checksum or content size, window 2^17, its content in
// raw blocks of at most 100000 bytes (so blocks and windows do not line up).
std::string frame(const std::string& content, unsigned char window_descriptor = 0x38) {
    std::string f = "\x28\xB5\x2F\xFD";
    f += '\0';
    f += static_cast<char>(window_descriptor);
    std::size_t pos = 0;
    do {
        std::size_t n = std::min<std::size_t>(100000, content.size() - pos);
        std::uint32_t header = (pos + n == content.size() ? 1u : 0u) | static_cast<std::uint32_t>(n << 3);
        f += static_cast<char>(header & 0xFF);
        f += static_cast<char>((header >> 8) & 0xFF);
        f += static_cast<char>((header >> 16) & 0xFF);
        f += content.substr(pos, n);
        pos += n;
    } while (pos < content.size());
    return f;
}

// What follows the frame in a payload: the filler and the length field.
std::string tail() { return std::string(10, '\0'); }

std::string pseudo_random(std::size_t n) {
    std::string out(n, '\0');
    std::uint32_t x = 12345;
    for (char& c : out) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 23);
    }
    return out;
}

std::string name_units(const std::u16string& name) {
    std::string out;
    for (char16_t u : name) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out + std::string(2, '\0');
}

// Holds the input for the reader's whole life.
struct Reader {
    std::string input;
    explicit Reader(std::string data) : input(std::move(data)) {
        setup(reinterpret_cast<const unsigned char*>(input.data()), input.size());
    }
    ~Reader() { teardown(); }
    std::string read(std::size_t n) {
        std::string out(n, '\0');
        read_exact(out.data(), n);
        return out;
    }
};

// fatal_error writes to standard output; death tests see standard error.
void stdout_to_stderr() { dup2(2, 1); }

const char* const DECODE_ERROR = "^Error, couldn't decode attached data\\.\n$";

TEST(Reader, ExactReadsAcrossWindowEndsAndSeveralWindows) {
    std::string content = pseudo_random(5 * W + 321);
    Reader r(frame(content) + tail());
    std::size_t pos = 0;
    // Up to one byte before a window's end, a read across it, one byte
    // ending exactly at the next end, a read spanning three windows, and
    // the rest.
    for (std::size_t n : {W - 1, std::size_t{2}, W - 2, std::size_t{1}, 3 * W + 5, std::size_t{316}}) {
        ASSERT_EQ(r.read(n), content.substr(pos, n)) << "at " << pos << ", " << n << " bytes";
        pos += n;
    }
    EXPECT_EQ(pos, content.size());
}

TEST(Reader, NameUnitSplitBetweenWindowsIsAssembled) {
    std::string stream = std::string(W - 1, 'p') + name_units(u"\u00e9a\\\u4e2d") + name_units(u"");
    Reader r(frame(stream) + tail());
    EXPECT_EQ(r.read(W - 1), std::string(W - 1, 'p'));
    std::uint16_t name[1024];
    read_name(name);
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(name)), u"\u00e9a\\\u4e2d");
    read_name(name);
    EXPECT_EQ(name[0], 0);
}

TEST(Reader, SkippableFrameFirstYieldsNothingAndReadingGoesOn) {
    std::string skip = std::string("\x50\x2A\x4D\x18\x03\0\0\0", 8) + "abc";
    Reader r(skip + frame("content") + tail());
    EXPECT_EQ(r.read(7), "content");
}

TEST(Reader, NameOf1023UnitsFitsAndOneMoreIsCorrupt) {
    std::u16string longest(1023, u'n');
    {
        Reader r(frame(name_units(longest)) + tail());
        std::uint16_t name[1024];
        read_name(name);
        EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(name)), longest);
    }
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            Reader r(frame(name_units(longest + u'n')) + tail());
            std::uint16_t name[1024 + 8];
            read_name(name);
        },
        ::testing::ExitedWithCode(2), DECODE_ERROR);
}

TEST(Reader, CorruptTruncatedOrEndedInputIsADecodeError) {
    std::string content = pseudo_random(300000);
    std::string whole = frame(content);
    struct Case {
        const char* what;
        std::string input;
        std::size_t want;
    };
    std::string wide = whole;
    wide[5] = static_cast<char>(0x90);  // window 2^28, above the decoder's limit
    std::string bad_block = whole;
    bad_block[6] = static_cast<char>(bad_block[6] | 0x06);  // reserved block type
    for (const Case& c : {Case{"truncated frame", whole.substr(0, whole.size() / 2), content.size()},
                          Case{"truncated block header", whole.substr(0, 7), 1},
                          Case{"read past the frame", whole + tail(), content.size() + 1},
                          Case{"window above the limit", wide + tail(), 1},
                          Case{"reserved block type", bad_block + tail(), 1},
                          Case{"not a frame", std::string(16, 'x'), 1}}) {
        EXPECT_EXIT(
            {
                stdout_to_stderr();
                Reader r(c.input);
                r.read(c.want);
            },
            ::testing::ExitedWithCode(2), DECODE_ERROR)
            << c.what;
    }
}

}  // namespace
