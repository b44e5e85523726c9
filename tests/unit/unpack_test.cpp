// Unpacking through the platform seam: the checksum of files on disk, the
// directory walk with its known directories, skipped and written entries,
// the names refused as corrupt, and write failures. Each test starts an
// unpacking of its own (unpack_begin).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/report.h"
#include "format/format.h"
#include "payload/reader.h"
#include "payload/unpack.h"
#include "files.h"
#include "payload_builder.h"
#include "platform/platform.h"
#include "platform/safe_files.h"

using namespace kay_reader;
using namespace kay_unpack;
using kay_test::read_file;
using kay_test::Scratch;
using kay_test::write_file;

namespace {

namespace fs = std::filesystem;


// Kept past the process end, as a launcher's payload is: a test that exits
// while the decoder thread still reads must not see it freed.
std::string& g_input = *new std::string;
void start_reader(const std::string& stream) {
    g_input = attached_payload(raw_frame(stream));
    setup(reinterpret_cast<const unsigned char*>(g_input.data()) + sizeof KAY_MAGIC, g_input.size() - sizeof KAY_MAGIC);
}

// Records the calls that change the disk, and passes them on to the real
// system.
std::vector<std::string> g_calls;
std::string g_home;
kay_file record_open_file(const kchar* path, unsigned flags) {
    g_calls.push_back(std::string("open ") + path);
    return kay_sys_default.open_file(path, flags);
}
kay_mkdir_result record_create_directory(const kchar* path, std::uint32_t mode) {
    g_calls.push_back(std::string("mkdir ") + path);
    return kay_sys_default.create_directory(path, mode);
}
// The path the last unpack_entry gave.
kchar g_path[KAY_PATH_CAPACITY];

class Unpack : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        g_home = d / "home";
        kay_sys.open_file = record_open_file;
        kay_sys.create_directory = record_create_directory;
        unpack_begin(g_home.c_str());
    }
    void TearDown() override {
        teardown();
        kay_sys_restore_all();
    }
    Scratch d;
};

TEST(FileCheckValue, ZeroOnlyForNoUsableFileAndOneForACrcOfZero) {
    Scratch d;
    write_file(d / "digits", "123456789");
    write_file(d / "empty", "");
    // These bytes have the CRC-32 0.
    write_file(d / "zero", std::string("\x6b\x61\x79\x20\x7a\x65\x72\x6f\x20\x63\x72\x63\x60\x32\xbc\xcc", 16));
    ASSERT_EQ(crc32_of(read_file(d / "zero")), 0u);
    fs::create_directory(d / "dir");
    write_file(d / "prog", "#!/bin/sh\n");
    fs::create_symlink(d / "digits", d / "link");
    mkfifo((d / "fifo").c_str(), 0644);
    // Path, size of the entry, the value expected.
    const struct {
        const char* name;
        std::uint64_t size;
        std::uint32_t value;
    } cases[] = {
        {"digits", 9, 0xCBF43926u}, {"digits", 8, 0}, {"zero", 16, 1}, {"empty", 0, 1},  {"empty", 16, 0},
        {"dir", 0, 0},              {"missing", 0, 0}, {"missing/below", 0, 0},          {"link", 9, 0},
        {"fifo", 0, 0},             {"prog", 10, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(file_check_value((d / c.name).c_str(), c.size), c.value) << c.name;
    chmod((d / "prog").c_str(), 0755);
    EXPECT_EQ(file_check_value((d / "prog").c_str(), 10), crc32_of("#!/bin/sh\n"));
    // Files larger than the buffer are read in pieces.
    std::string big(3 << 18, 'b');
    write_file(d / "big", big);
    EXPECT_EQ(file_check_value((d / "big").c_str(), big.size()), crc32_of(big));
}

TEST(FileCheckValue, SizeThatCannotBeTakenGivesZero) {
    Scratch d;
    write_file(d / "f", "content");
    kay_sys.file_size = [](kay_file) { return KAY_NO_SIZE; };
    std::uint32_t crc = file_check_value((d / "f").c_str(), 7);
    kay_sys_restore_all();
    EXPECT_EQ(crc, 0u);
}

TEST_F(Unpack, WalkStopsAtTheHomeFolderAndKnownDirectoriesNeedNoCall) {
    fs::create_directory(g_home);
    ensure_parent_directory((g_home + "/a/b/f.txt").c_str());
    // The inner directory fails first, its parent is made, then it.
    EXPECT_EQ(g_calls, (std::vector<std::string>{"mkdir " + g_home + "/a/b", "mkdir " + g_home + "/a", "mkdir " + g_home + "/a/b"}));
    EXPECT_TRUE(fs::is_directory(g_home + "/a/b"));
    g_calls.clear();
    ensure_parent_directory((g_home + "/a/b/g.txt").c_str());
    ensure_parent_directory((g_home + "/a/h.txt").c_str());
    ensure_parent_directory((g_home + "/i.txt").c_str());
    EXPECT_TRUE(ensure_directory("C:"));
    EXPECT_TRUE(ensure_directory(g_home.c_str()));
    ensure_parent_directory("/top");
    ensure_parent_directory("plain");
    EXPECT_EQ(g_calls, std::vector<std::string>{});
}

TEST_F(Unpack, DirectoryFailureIsFalseAndSuccessIsRemembered) {
    EXPECT_FALSE(ensure_directory((d / "missing/x").c_str()));
    EXPECT_TRUE(ensure_directory((d / "x").c_str()));
    EXPECT_TRUE(ensure_directory((d / "x").c_str()));
    EXPECT_EQ(g_calls, (std::vector<std::string>{"mkdir " + d / "missing/x", "mkdir " + d / "x"}));
}

TEST_F(Unpack, BeyondTheSlotsDirectoriesAreStillCreatedAndFoundAgain) {
    auto dir = [&](int i) {
        char rel[16];
        std::snprintf(rel, sizeof rel, "d%04d", i);
        return d / rel;
    };
    for (int i = 0; i < 1100; i++) ASSERT_TRUE(ensure_directory(dir(i).c_str()));
    EXPECT_EQ(g_calls.size(), 1100u);
    for (int i = 0; i < 1100; i++) ASSERT_TRUE(fs::is_directory(dir(i)));
    // The home folder and the first 1023 directories fill the 1024 slots;
    // the rest are asked for again and exist.
    g_calls.clear();
    for (int i = 0; i < 1100; i++) ASSERT_TRUE(ensure_directory(dir(i).c_str()));
    EXPECT_EQ(g_calls.size(), 1100u - 1023);
    EXPECT_EQ(g_calls.front(), "mkdir " + dir(1023));
}

TEST_F(Unpack, MatchingFileIsSkippedUntouchedAndAMissingOneIsWritten) {
    write_file(d / "m.txt", "abc");
    std::string big(70000, 'q');
    start_reader(entry_fields("abc", crc32_of("abc")) + entry(u"n\\\u00e9\u4e2d\U0001F600.bin", big) +
                 name_units(u""));
    unpack_entry(d.path().c_str(), u"m.txt", g_path);
    // No directory, no open for writing.
    EXPECT_EQ(g_calls, std::vector<std::string>{});
    EXPECT_EQ(g_path, d / "m.txt");
    // The content was consumed exactly: the next name follows.
    char16_t name[KAY_NAME_CAPACITY];
    read_name(name);
    unpack_entry(d.path().c_str(), name, g_path);
    EXPECT_EQ(read_file(d / "n/\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80.bin"), big);
    EXPECT_EQ(g_path, d / "n/\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80.bin");
    read_name(name);
    EXPECT_EQ(name[0], 0);
}

TEST_F(Unpack, ProgramWhoseFirstBytesCrossAWindowGetsItsMode) {
    // The program's content starts two bytes before the first window ends.
    std::string lead(KAY_WINDOW_SIZE - 30, 'x'), program = "\x7f" "ELF" + std::string(9, 'p');
    start_reader(entry_fields(lead, crc32_of(lead)) + entry(u"p", program));
    unpack_entry(d.path().c_str(), u"lead", g_path);
    char16_t name[KAY_NAME_CAPACITY];
    read_name(name);
    unpack_entry(d.path().c_str(), name, g_path);
    EXPECT_EQ(read_file(d / "p"), program);
    EXPECT_EQ(access((d / "p").c_str(), X_OK), 0);
}

TEST_F(Unpack, CrcZeroIsNeverWrittenAndCrcOneWritesAnEmptyFile) {
    start_reader(entry_fields("never", 0) + entry_fields("", 1));
    unpack_entry(d.path().c_str(), u"never.txt", g_path);
    unpack_entry(d.path().c_str(), u"empty.txt", g_path);
    EXPECT_FALSE(fs::exists(d / "never.txt"));
    EXPECT_EQ(read_file(d / "empty.txt"), "");
}

void throw_exit(int code) { throw code; }

// The name check kay-pack and the launcher share: the reason for each name
// (kay-pack's tests check the message it gives for it), and the launcher
// refusing every name with a reason as corrupt data, before any disk access.
TEST_F(Unpack, EntryNamesOutsideTheTargetAreRefusedAsCorrupt) {
    const kay_name_reason DEV = KAY_NAME_DEVICE;
    const struct {
        std::u16string name;
        kay_name_reason reason;
    } names[] = {
        {u"main.exe", KAY_NAME_OK},
        {u"sub\\..x\\x..\\.a b\\f", KAY_NAME_OK},
        {u"a/b", KAY_NAME_OK},
        {u"sub\\.kay-state", KAY_NAME_OK},
        {u".kay-state", KAY_NAME_RESERVED},
        {u".KAY-State.new\\x", KAY_NAME_RESERVED},
        {std::u16string(1023, u'n'), KAY_NAME_OK},
        {u"\U0001F600", KAY_NAME_OK},
        {u"", KAY_NAME_EMPTY},
        {std::u16string(1024, u'n'), KAY_NAME_TOO_LONG},
        {u"\\abs", KAY_NAME_ABSOLUTE},
        {u"/abs", KAY_NAME_ABSOLUTE},
        {std::u16string(u"a\0b", 3), KAY_NAME_NUL},
        {u"C:x", KAY_NAME_COLON},
        {u"a:stream", KAY_NAME_COLON},
        {std::u16string(u"bad") + char16_t(0xD800), KAY_NAME_BAD_UTF16},
        {std::u16string(u"a") + char16_t(0xD800) + u"b", KAY_NAME_BAD_UTF16},
        {std::u16string(1, char16_t(0xDC00)) + u"x", KAY_NAME_BAD_UTF16},
        {u"a\\\\b", KAY_NAME_EMPTY_COMPONENT},
        {u"dir\\", KAY_NAME_EMPTY_COMPONENT},
        {u"dir/", KAY_NAME_EMPTY_COMPONENT},
        {u".", KAY_NAME_DOT_COMPONENT},
        {u"a\\..\\b", KAY_NAME_DOT_COMPONENT},
        {u"a/../b", KAY_NAME_DOT_COMPONENT},
        {u"a\\. .\\b", KAY_NAME_DOT_COMPONENT},
        {u"sub\\...", KAY_NAME_DOT_COMPONENT},
        {u"CONSOLE", KAY_NAME_OK}, {u"COM10", KAY_NAME_OK}, {u"xNUL", KAY_NAME_OK}, {u"NULL.txt", KAY_NAME_OK},
        {u"nul", DEV}, {u"a\\NUL.txt", DEV}, {u"aux.tar.gz", DEV}, {u"COM1 ", DEV}, {u"con.", DEV}, {u"lpt\u00b2", DEV},
        {u"Com\u00b9", DEV}, {u"LPT0", DEV}, {u"prn .x", DEV}, {u"CONIN$", DEV}, {u"conout$", DEV}, {u"lpt\u00b3", DEV},
    };
    kay_exit_hook = throw_exit;
    for (const auto& [name, reason] : names) {
        SCOPED_TRACE(::testing::PrintToString(name));
        EXPECT_EQ(check_entry_name(name.data(), name.size()), reason);
        // What the reader can deliver: no empty, over-long or NUL-holding name.
        if (reason == KAY_NAME_OK || reason == KAY_NAME_EMPTY || reason == KAY_NAME_TOO_LONG || reason == KAY_NAME_NUL)
            continue;
        start_reader(entry_fields("x", crc32_of("x")));
        int code = 0;
        testing::internal::CaptureStdout();
        try {
            unpack_entry(d.path().c_str(), name.c_str(), g_path);
        } catch (int c) {
            code = c;
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), MSG_DECODE "\n");
        EXPECT_EQ(code, 2);
        EXPECT_EQ(g_calls, std::vector<std::string>{});
        teardown();
    }
    kay_exit_hook = nullptr;
}

// Full Windows paths from 248 units on reach the file and folder calls in
// the long form, after what Windows does to a short path; others unchanged.
TEST_F(Unpack, LongWindowsPathsReachTheCallsInTheLongForm) {
    kay_sys.open_read = [](const kchar* p) { return g_calls.push_back(p), kay_file{}; };
    kay_sys.create_directory = [](const kchar* p, std::uint32_t) { return g_calls.push_back(p), KAY_MKDIR_CREATED; };
    const std::string x(250, 'x'), l = "\\\\?\\", c = "C:\\" + x;
    const std::pair<std::string, std::string> rows[] = {
        {c + "\\a..\\b/c. .", l + c + "\\a.\\b\\c"}, {"z:/" + x + "\\fff/gg\\", l + "z:\\" + x + "\\fff\\gg\\"},
        {"\\\\srv\\share\\" + x + "//d./e", l + "UNC\\srv\\share\\" + x + "\\d\\e"}, {l + c, l + c},
        {c.substr(0, 247), c.substr(0, 247)}, {"\\\\.\\" + c, "\\\\.\\" + c}, {"/home/" + x, "/home/" + x},
        {"rel\\" + x, "rel\\" + x}};
    for (const auto& [path, form] : rows) {
        g_calls.clear();
        EXPECT_EQ(file_check_value(path.c_str(), 0), 0u);
        EXPECT_TRUE(ensure_directory(path.c_str()));
        EXPECT_EQ(g_calls, (std::vector<std::string>{form, form}));
    }
}

bool failing_write(kay_file, const void*, std::uint32_t) { return false; }
std::uint32_t disk_full_code() { return 112; }
std::uint32_t disk_full_text(std::uint32_t, char* out, std::uint32_t capacity) {
    const char* text = "There is not enough space on the disk.\r\n";
    std::snprintf(out, capacity, "%s", text);
    return static_cast<std::uint32_t>(std::strlen(out));
}

TEST_F(Unpack, FailedWriteIsReportedWithTheSystemCodeAndText) {
    EXPECT_EXIT(
        {
            kay_sys.write_file = failing_write;
            kay_sys.last_error = disk_full_code;
            kay_sys.error_text = disk_full_text;
            start_reader(entry_fields("content", crc32_of("content")));
            unpack_entry(d.path().c_str(), u"f.txt", g_path);
        },
        ::testing::ExitedWithCode(2),
        "^Error, couldn't unpack file to target path\\. \\(\\[Error 112\\] There is not enough space on the "
        "disk\\.\\)\n$");
}

// Exits 0 when a write past the file size limit stored what the limit
// allowed, went on, and reported the failure behind it.
void write_past_the_limit(const std::string& path) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {10000, 10000};
    setrlimit(RLIMIT_FSIZE, &limit);
    kay_file f = kay_open_write(path.c_str());
    std::string data(32768, 'w');
    bool ok = !f.valid() || kay_sys_default.write_file(f, data.data(), static_cast<std::uint32_t>(data.size()));
    std::uint32_t error = kay_sys_default.last_error();
    if (f.valid()) kay_sys_default.close_file(f);
    std::uintmax_t size = fs::file_size(path);
    std::fprintf(stderr, "ok=%d error=%u size=%ju\n", ok, error, size);
    std::exit(!ok && error == EFBIG && size == 10000 ? 0 : 1);
}

TEST(PosixFiles, ShortWriteIsContinuedAndTheFailureBehindItReported) {
    Scratch d;
    // The limit stays with the process, so the writing runs in a child.
    EXPECT_EXIT(write_past_the_limit(d / "limited"), ::testing::ExitedWithCode(0), "");
}

}  // namespace
