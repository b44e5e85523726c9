// Truncated, corrupt and malformed payloads for list, verify and extract:
// each gets its message and exit code 1, and extract writes nothing where
// it must not.
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

namespace {

std::string good_stream() {
    return entry_bytes(u"main.exe", "main program", crc_of("main program")) +
           entry_bytes(u"lib\\data", std::string(5000, 'd'), crc_of(std::string(5000, 'd'))) + std::string(2, '\0');
}

}  // namespace

class PayloadErrors : public KayPackTest {
protected:
    // list, verify and extract all fail on `payload` with "kay-pack: 'FILE': <message>".
    void expect_rejected(const std::string& payload, const std::string& message) {
        write_file(path("p.kay"), payload);
        for (const char* command : {"list", "verify", "extract"}) {
            std::vector<std::string> args{command, path("p.kay")};
            if (std::string(command) == "extract") args.push_back(path("out"));
            Result r = kay_pack(args);
            EXPECT_EQ(r.code, 1) << command;
            EXPECT_EQ(r.err, "kay-pack: '" + path("p.kay") + "': " + message + "\n") << command;
            EXPECT_EQ(r.out, "") << command;
        }
    }
    // verify reports `problems` (one line each, then the count).
    void expect_verify_problems(const std::string& payload, const std::vector<std::string>& problems) {
        write_file(path("p.kay"), payload);
        Result r = kay_pack({"verify", path("p.kay")});
        EXPECT_EQ(r.code, 1);
        std::string expected;
        for (const std::string& p : problems) expected += "kay-pack: '" + path("p.kay") + "': " + p + "\n";
        expected += "kay-pack: '" + path("p.kay") + "': " + std::to_string(problems.size()) +
                    (problems.size() == 1 ? " problem\n" : " problems\n");
        EXPECT_EQ(r.err, expected);
    }
};

TEST_F(PayloadErrors, ContainerDamage) {
    std::string good = make_payload(good_stream());
    write_file(path("good.kay"), good);
    ASSERT_EQ(kay_pack({"verify", path("good.kay"), "-q"}).code, 0);
    std::size_t frame_end = good.size() - 10;

    expect_rejected("", "not a payload (does not start with \"KAY\")");
    expect_rejected("kay" + good.substr(3), "not a payload (does not start with \"KAY\")");
    expect_rejected("KAZ" + good.substr(3), "not a payload (does not start with \"KAY\")");
    expect_rejected("KAY", "truncated (incomplete frame header)");
    expect_rejected("KAYnot a zstd frame", "no Zstandard frame after \"KAY\"");
    expect_rejected(good.substr(0, 20), "truncated or corrupt Zstandard frame");
    expect_rejected(good.substr(0, frame_end - 1), "truncated or corrupt Zstandard frame");
    expect_rejected(good.substr(0, frame_end), "truncated (filler or length missing after the frame)");
    expect_rejected(good.substr(0, good.size() - 1), "truncated (filler or length missing after the frame)");
    expect_rejected(good + "x", "1 unexpected bytes after the frame");

    std::string bad_filler = good;
    bad_filler[frame_end + 1] = 1;
    expect_rejected(bad_filler, "filler after the frame is not two zero bytes");

    std::string bad_length = good;
    bad_length[good.size() - 8] ^= 1;
    expect_rejected(bad_length, "trailing length is " + std::to_string((good.size() - 8) ^ 1) + ", expected " +
                                    std::to_string(good.size() - 8));

    // Two frames, the second carrying the end marker.
    std::string first = make_payload(good_stream().substr(0, good_stream().size() - 2));
    std::string second = make_payload(std::string(2, '\0'));
    std::string two = first.substr(0, first.size() - 10) + second.substr(3);
    for (int i = 0; i < 8; i++) two[two.size() - 8 + i] = static_cast<char>((two.size() - 8) >> (8 * i));
    expect_rejected(two, "more than one frame");
    EXPECT_FALSE(exists(path("out")));
}

TEST_F(PayloadErrors, WindowBeyondTheLauncherLimit) {
    write_file(path("app/main"), "m");
    ASSERT_EQ(kay_pack({"create", path("app"), "--main", "main", "-o", path("p.kay"), "-q"}).code, 0);
    std::string payload = read_file(path("p.kay"));
    ASSERT_EQ(static_cast<unsigned char>(payload[8]), 0x00);  // 2^10, the smallest window
    payload[8] = static_cast<char>(0x89);  // 2^27 + 2^24
    expect_rejected(payload, "frame window of 150994944 bytes exceeds the launcher's limit of 134217728");
}

TEST_F(PayloadErrors, CorruptCompressedDataIsCaught) {
    std::string text;
    for (int i = 0; i < 20000; i++) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
    std::string payload = make_payload(entry_bytes(u"main", text, crc_of(text)) + std::string(2, '\0'), {"-19"});
    for (std::size_t at : {payload.size() / 3, payload.size() / 2, payload.size() * 2 / 3}) {
        std::string bad = payload;
        bad[at] ^= 0x55;
        write_file(path("p.kay"), bad);
        Result r = kay_pack({"verify", path("p.kay")});
        EXPECT_EQ(r.code, 1) << at;
        EXPECT_EQ(r.err.rfind("kay-pack: '" + path("p.kay") + "': ", 0), 0u) << r.err;
        Result x = kay_pack({"extract", path("p.kay"), path("out")});
        EXPECT_EQ(x.code, 1);
        EXPECT_FALSE(exists(path("out/main"))) << "a damaged file was extracted";
    }
}

TEST_F(PayloadErrors, BrokenEntryStreams) {
    std::string entry = entry_bytes(u"main", "content", crc_of("content"));
    expect_rejected(make_payload(entry), "entry stream ends without the end marker");
    expect_rejected(make_payload(entry.substr(0, 6)), "entry stream ends inside the name of entry 1");
    expect_rejected(make_payload(entry.substr(0, 16)), "entry stream ends inside the size and crc of entry 1");
    std::string other = entry_bytes(u"other", "content", crc_of("content"));
    expect_rejected(make_payload(entry + other.substr(0, other.size() - 2)),
                    "entry stream ends inside the content of entry 2");
    expect_rejected(make_payload(entry + std::string(2, '\0') + "x"), "data after the end marker");
    expect_rejected(make_payload(std::string(2048, 'a') + std::string(2, '\0')),
                    "name of entry 1 longer than 1023 UTF-16 units");
}

TEST_F(PayloadErrors, VerifyReportsEveryUnacceptableEntry) {
    auto one = [](const std::u16string& name) {
        return make_payload(entry_bytes(name, "x", crc_of("x")) + std::string(2, '\0'));
    };
    // The reasons come from the entry-name check, unit-tested on its own:
    // here verify must name the entry and refuse it.
    const std::u16string names[] = {
        u"\\abs", u"/abs", u"C:x", u"a:stream", u".", u"a\\..\\b", u"a/../b", u"a\\. .\\b", u"a\\\\b", u"dir\\",
        u"sub\\COM1", std::u16string(u"bad") + char16_t(0xD800), std::u16string(1, char16_t(0xDC00)) + u"x",
    };
    for (const std::u16string& name : names) {
        SCOPED_TRACE(utf8(name));
        write_file(path("p.kay"), one(name));
        Result r = kay_pack({"verify", path("p.kay")});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("kay-pack: '" + path("p.kay") + "': entry 1 '", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("': unusable name: "), std::string::npos) << r.err;
        EXPECT_TRUE(r.err.ends_with(": 1 problem\n")) << r.err;
    }

    std::string stream = entry_bytes(u"main", "m", crc_of("m")) + entry_bytes(u"f", "abc", crc_of("abc") ^ 1) +
                         entry_bytes(u"empty", "", 0) + entry_bytes(u"main", "m", crc_of("m")) +
                         entry_bytes(u"zero", std::string("\x9d\x0a\xd9\x6d", 4), 0) + entry_bytes(u"a/x", "", 1) +
                         entry_bytes(u"a\\x", "", 1) + std::string(2, '\0');
    char mismatch[96];
    std::snprintf(mismatch, sizeof mismatch, "entry 2 'f': crc mismatch (stored %08x, content gives %08x)",
                  crc_of("abc") ^ 1, crc_of("abc"));
    expect_verify_problems(make_payload(stream), {mismatch, "entry 3 'empty': crc 0 (the launcher would never write this file)",
                                                  "entry 4 'main': name appears more than once",
                                                  "entry 5 'zero': crc 0 (the launcher would never write this file)",
                                                  "entry 7 'a\\x': the same file as entry 6 'a/x'" + SAME_SEPARATOR});
    // A Windows program's payload: Windows' rules.
    std::string windows = entry_bytes(u"main.exe", "", 1) + entry_bytes(u"Readme.txt", "", 1) +
                          entry_bytes(u"readme.txt", "", 1) + std::string(2, '\0');
    expect_verify_problems(make_payload(windows),
                           {"entry 3 'readme.txt': the same file as entry 2 'Readme.txt'" + SAME_ON_WINDOWS});
    expect_verify_problems(make_payload(std::string(2, '\0')), {"no entries (no program to start)"});
}

TEST_F(PayloadErrors, ExtractStaysInsideItsDirectory) {
    mkdir(path("x").c_str(), 0777);
    mkdir(path("outside").c_str(), 0777);
    for (const std::u16string name : {u"..\\escaped", u"sub/../../escaped", u"C:\\escaped", u"\\escaped"}) {
        write_file(path("p.kay"), make_payload(entry_bytes(u"main", "m", crc_of("m")) +
                                               entry_bytes(name, "x", crc_of("x")) + std::string(2, '\0')));
        Result r = kay_pack({"extract", path("p.kay"), path("x/out")});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err.rfind("kay-pack: '" + path("p.kay") + "': entry 2 '" + utf8(name) + "': unusable name: ", 0),
                  0u)
            << r.err;
        EXPECT_EQ(list_dir(path("x")), (std::vector<std::string>{"out", "out/main"}));
    }

    // A symbolic link inside the directory must not lead writes outside it.
    ASSERT_EQ(symlink(path("outside").c_str(), path("x/out/sub").c_str()), 0);
    write_file(path("p.kay"), make_payload(entry_bytes(u"main", "m", crc_of("m")) +
                                           entry_bytes(u"sub\\f", "x", crc_of("x")) + std::string(2, '\0')));
    Result r = kay_pack({"extract", path("p.kay"), path("x/out")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kay-pack: '" + path("x/out/sub") + "': symbolic link, refusing to write through it\n");
    EXPECT_EQ(list_dir(path("outside")), std::vector<std::string>{});

    // A crc mismatch leaves no file under the entry's name.
    write_file(path("p.kay"), make_payload(entry_bytes(u"main", "m", crc_of("m")) +
                                           entry_bytes(u"bad", "x", crc_of("x") ^ 1) + std::string(2, '\0')));
    r = kay_pack({"extract", path("p.kay"), path("y")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(list_dir(path("y")), std::vector<std::string>{"main"});
}
