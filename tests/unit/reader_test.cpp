// The stream reader over hand-made Zstandard frames of raw blocks: exact
// reads across window refills, names split between windows, and the ends
// on corrupt, truncated and over-long input; each with the decoder on a
// thread of its own and, as when no thread can be started, without.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format/format.h"
#include "payload/reader.h"
#include "payload_builder.h"
#include "platform/platform.h"

using namespace kay_reader;

namespace {

constexpr std::size_t W = KAY_WINDOW_SIZE;

std::string pseudo_random(std::size_t n) {
    std::string out(n, '\0');
    std::uint32_t x = 12345;
    for (char& c : out) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 23);
    }
    return out;
}

// The payload after its magic, as the reader is given it.
std::string input(const std::string& frame) { return attached_payload(frame).substr(sizeof KAY_MAGIC); }

kay_thread no_thread(kay_thread_main, void*) { return kay_thread{}; }

class Reader : public ::testing::TestWithParam<bool> {};

// Holds the input for the reader's whole life.
struct Reading {
    std::string input;
    explicit Reading(std::string data) : input(std::move(data)) {
        if (!Reader::GetParam()) kay_sys.start_thread = no_thread;
        setup(reinterpret_cast<const unsigned char*>(input.data()), input.size());
        kay_sys.start_thread = kay_sys_default.start_thread;
    }
    ~Reading() { teardown(); }
    std::string read(std::size_t n) {
        std::string out(n, '\0');
        read_exact(out.data(), n);
        return out;
    }
};

// fatal_error writes to standard output; death tests see standard error.
void stdout_to_stderr() { dup2(2, 1); }

const char* const DECODE_ERROR = "^Error, couldn't decode attached data\\.\n$";

TEST_P(Reader, ExactReadsAcrossWindowEndsAndSeveralWindows) {
    std::string content = pseudo_random(5 * W + 321);
    Reading r(input(raw_frame(content)));
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

std::vector<std::pair<const unsigned char*, std::size_t>> g_released;

TEST_P(Reader, InputPassedIsHandedBackInOrderAndNoFurther) {
    std::string content = pseudo_random(17 << 20);
    g_released.clear();
    kay_sys.release_data_block = [](const unsigned char* from, std::size_t size) { g_released.push_back({from, size}); };
    const unsigned char *at, *end;
    {
        Reading r(input(raw_frame(content)));
        at = reinterpret_cast<const unsigned char*>(r.input.data());
        end = at + r.input.size();
        ASSERT_EQ(r.read(content.size()), content);
    }
    kay_sys_restore_all();
    ASSERT_EQ(g_released.size(), 2u);
    for (auto [from, size] : g_released) {
        EXPECT_EQ(from, at);
        EXPECT_GE(size, std::size_t{8} << 20);
        at += size;
    }
    EXPECT_LE(at, end);
}

TEST_P(Reader, NameUnitSplitBetweenWindowsIsAssembled) {
    std::string stream = std::string(W - 1, 'p') + name_units(u"\u00e9a\\\u4e2d") + name_units(u"");
    Reading r(input(raw_frame(stream)));
    EXPECT_EQ(r.read(W - 1), std::string(W - 1, 'p'));
    char16_t name[1024];
    read_name(name);
    EXPECT_EQ(std::u16string(name), u"\u00e9a\\\u4e2d");
    read_name(name);
    EXPECT_EQ(name[0], 0);
}

TEST_P(Reader, SkippableFrameFirstYieldsNothingAndReadingGoesOn) {
    std::string skip = std::string("\x50\x2A\x4D\x18\x03\0\0\0", 8) + "abc";
    Reading r(input(skip + raw_frame("content")));
    EXPECT_EQ(r.read(7), "content");
}

TEST_P(Reader, NameOf1023UnitsFitsAndOneMoreIsCorrupt) {
    std::u16string longest(1023, u'n');
    {
        Reading r(input(raw_frame(name_units(longest))));
        char16_t name[1024];
        read_name(name);
        EXPECT_EQ(std::u16string(name), longest);
    }
    EXPECT_EXIT(
        {
            stdout_to_stderr();
            Reading r(input(raw_frame(name_units(longest + u'n'))));
            char16_t name[1024 + 8];
            read_name(name);
        },
        ::testing::ExitedWithCode(2), DECODE_ERROR);
}

TEST_P(Reader, CorruptTruncatedOrEndedInputIsADecodeError) {
    std::string content = pseudo_random(300000);
    std::string whole = raw_frame(content);
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
                          Case{"read past the frame", input(whole), content.size() + 1},
                          Case{"window above the limit", input(wide), 1},
                          Case{"reserved block type", input(bad_block), 1},
                          Case{"not a frame", std::string(16, 'x'), 1}}) {
        EXPECT_EXIT(
            {
                stdout_to_stderr();
                Reading r(c.input);
                r.read(c.want);
            },
            ::testing::ExitedWithCode(2), DECODE_ERROR)
            << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Decoder, Reader, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Threaded" : "OneThread"; });

}  // namespace
