// Unpacking through the platform seam: the checksum of files on disk, the
// directory walk with its known directories, skipped and written entries,
// and write failures. known_directories and the first entry path live for
// the whole process, so every case that touches them runs in a child of its
// own (a death test that must exit with 0).
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
#include <functional>
#include <string>
#include <vector>

#include "common/bounded.h"
#include "payload/reader.h"
#include "payload/unpack.h"
#include "platform/platform.h"

namespace {

namespace fs = std::filesystem;

// Fails the child: the message shows in the death test's report.
#define CHILD_CHECK(cond)                                                              \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::_Exit(1);                                                             \
        }                                                                              \
    } while (0)

void in_child(const std::function<void()>& body) {
    EXPECT_EXIT(
        {
            body();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

std::uint32_t crc32_of(const std::string& s) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : s) {
        c ^= b;
        for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

class Dir {
public:
    Dir() {
        char tmpl[] = "/tmp/kay-unpack-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~Dir() { fs::remove_all(path_); }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void put(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

std::string get(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return "<missing>";
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

// An entry stream after its first name: size, crc, content; then more.
std::string entry_rest(const std::string& content, std::uint32_t crc) {
    std::string out;
    std::uint64_t size = content.size();
    for (int i = 0; i < 8; i++) out += static_cast<char>((size >> (8 * i)) & 0xFF);
    for (int i = 0; i < 4; i++) out += static_cast<char>((crc >> (8 * i)) & 0xFF);
    return out + content;
}

std::string name_units(const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += std::string{c, '\0'};
    return out + std::string(2, '\0');
}

// A frame of one raw block (window 2^17), followed by filler and length.
std::string payload(const std::string& stream) {
    std::string f = std::string("\x28\xB5\x2F\xFD\x00\x38", 6);
    std::uint32_t header = 1u | static_cast<std::uint32_t>(stream.size() << 3);
    f += std::string{static_cast<char>(header & 0xFF), static_cast<char>((header >> 8) & 0xFF),
                     static_cast<char>(header >> 16)};
    return f + stream + std::string(10, '\0');
}

std::string g_input;
void start_reader(const std::string& stream) {
    g_input = payload(stream);
    setup(reinterpret_cast<const unsigned char*>(g_input.data()), g_input.size());
}

void set_name(const std::string& ascii) {
    std::size_t i = 0;
    for (; i < ascii.size(); i++) g_entry_name[i] = static_cast<unsigned char>(ascii[i]);
    g_entry_name[i] = 0;
}

// Records the calls that change the disk or look up the home folder, and
// passes them on to the real system.
std::vector<std::string> g_calls;
std::string g_home;
kay_file record_open_write(const kchar* path) {
    g_calls.push_back(std::string("open ") + path);
    return kay_sys_default.open_write(path);
}
kay_mkdir_result record_create_directory(const kchar* path) {
    g_calls.push_back(std::string("mkdir ") + path);
    return kay_sys_default.create_directory(path);
}
bool fake_home(kay_folder which, kchar* out, std::uint32_t capacity) {
    g_calls.push_back("home");
    if (which != KAY_FOLDER_HOME || g_home.size() >= capacity) return false;
    std::memcpy(out, g_home.c_str(), g_home.size() + 1);
    return true;
}
void record_calls(const std::string& home) {
    g_home = home;
    kay_sys.open_write = record_open_write;
    kay_sys.create_directory = record_create_directory;
    kay_sys.user_folder = fake_home;
}

TEST(FileCrc, ZeroOnlyForNoUsableFileAndOneForACrcOfZero) {
    Dir d;
    put(d / "digits", "123456789");
    put(d / "empty", "");
    // These bytes have the CRC-32 0.
    put(d / "zero", std::string("\x6b\x61\x79\x20\x7a\x65\x72\x6f\x20\x63\x72\x63\x60\x32\xbc\xcc", 16));
    ASSERT_EQ(crc32_of(get(d / "zero")), 0u);
    fs::create_directory(d / "dir");
    EXPECT_EQ(file_crc((d / "digits").c_str()), 0xCBF43926u);
    EXPECT_EQ(file_crc((d / "zero").c_str()), 1u);
    EXPECT_EQ(file_crc((d / "empty").c_str()), 0u);
    EXPECT_EQ(file_crc((d / "dir").c_str()), 0u);
    EXPECT_EQ(file_crc((d / "missing").c_str()), 0u);
    EXPECT_EQ(file_crc((d / "missing/below").c_str()), 0u);
}

TEST(FileCrc, SizeThatCannotBeTakenGivesZero) {
    Dir d;
    put(d / "f", "content");
    kay_sys.file_size = [](kay_file) -> std::uint32_t { return 0xFFFFFFFFu; };
    std::uint32_t crc = file_crc((d / "f").c_str());
    kay_sys = kay_sys_default;
    EXPECT_EQ(crc, 0u);
}

TEST(Directories, WalkStopsAtTheHomeFolderAndKnownDirectoriesNeedNoCall) {
    Dir d;
    std::string home = d / "home";
    fs::create_directory(home);
    in_child([&] {
        record_calls(home);
        ensure_parent_directory((home + "/a/b/f.txt").c_str());
        // The inner directory fails first, its parent is made, then it.
        std::vector<std::string> want = {"home", "mkdir " + home + "/a/b", "mkdir " + home + "/a",
                                         "mkdir " + home + "/a/b"};
        CHILD_CHECK(g_calls == want);
        CHILD_CHECK(fs::is_directory(home + "/a/b"));
        g_calls.clear();
        ensure_parent_directory((home + "/a/b/g.txt").c_str());
        ensure_parent_directory((home + "/a/h.txt").c_str());
        ensure_parent_directory((home + "/i.txt").c_str());
        CHILD_CHECK(ensure_directory("C:"));
        CHILD_CHECK(ensure_directory(home.c_str()));
        ensure_parent_directory("/top");
        ensure_parent_directory("plain");
        CHILD_CHECK(g_calls.empty());
    });
}

TEST(Directories, FailureIsFalseAndSuccessIsRemembered) {
    Dir d;
    in_child([&] {
        record_calls(d / "home");
        CHILD_CHECK(!ensure_directory((d / "missing/x").c_str()));
        CHILD_CHECK(ensure_directory((d / "x").c_str()));
        CHILD_CHECK(ensure_directory((d / "x").c_str()));
        std::vector<std::string> want = {"home", "mkdir " + d / "missing/x", "mkdir " + d / "x"};
        CHILD_CHECK(g_calls == want);
    });
}

TEST(Directories, BeyondTheSlotsDirectoriesAreStillCreatedAndFoundAgain) {
    Dir d;
    in_child([&] {
        record_calls(d / "home");
        auto dir = [&](int i) {
            char rel[16];
            std::snprintf(rel, sizeof rel, "d%04d", i);
            return d / rel;
        };
        for (int i = 0; i < 1100; i++) CHILD_CHECK(ensure_directory(dir(i).c_str()));
        CHILD_CHECK(g_calls.size() == 1 + 1100);
        for (int i = 0; i < 1100; i++) CHILD_CHECK(fs::is_directory(dir(i)));
        // The home folder and the first 1023 directories fill the 1024 slots;
        // the rest are asked for again and exist.
        g_calls.clear();
        for (int i = 0; i < 1100; i++) CHILD_CHECK(ensure_directory(dir(i).c_str()));
        CHILD_CHECK(g_calls.size() == 1100 - 1023);
        CHILD_CHECK(g_calls.front() == "mkdir " + dir(1023));
    });
}

TEST(UnpackEntry, MatchingFileIsSkippedUntouchedAndAMissingOneIsWritten) {
    Dir d;
    put(d / "m.txt", "abc");
    in_child([&] {
        record_calls(d / "home");
        buf_copy(g_target_dir, KAY_PATH_CAPACITY, d.path().c_str());
        start_reader(entry_rest("abc", crc32_of("abc")) + name_units("n\\x.bin") +
                     entry_rest(std::string(70000, 'q'), crc32_of(std::string(70000, 'q'))) +
                     name_units(""));
        set_name("m.txt");
        unpack_entry();
        // No home lookup, no directory, no open for writing.
        CHILD_CHECK(g_calls.empty());
        CHILD_CHECK(g_first_entry_path == d / "m.txt");
        // The content was consumed exactly: the next name follows.
        read_name(g_entry_name);
        unpack_entry();
        CHILD_CHECK(get(d / "n/x.bin") == std::string(70000, 'q'));
        CHILD_CHECK(g_first_entry_path == d / "m.txt");
        read_name(g_entry_name);
        CHILD_CHECK(g_entry_name[0] == 0);
    });
}

TEST(UnpackEntry, CrcZeroIsNeverWrittenAndCrcOneWritesAnEmptyFile) {
    Dir d;
    in_child([&] {
        buf_copy(g_target_dir, KAY_PATH_CAPACITY, d.path().c_str());
        start_reader(entry_rest("never", 0) + entry_rest("", 1));
        set_name("never.txt");
        unpack_entry();
        set_name("empty.txt");
        unpack_entry();
        CHILD_CHECK(!fs::exists(d / "never.txt"));
        CHILD_CHECK(get(d / "empty.txt").empty());
    });
}

bool failing_write(kay_file, const void*, std::uint32_t) { return false; }
std::uint32_t disk_full_code() { return 112; }
std::uint32_t disk_full_text(std::uint32_t, char* out, std::uint32_t capacity) {
    const char* text = "There is not enough space on the disk.\r\n";
    std::snprintf(out, capacity, "%s", text);
    return static_cast<std::uint32_t>(std::strlen(out));
}

TEST(UnpackEntry, FailedWriteIsReportedWithTheSystemCodeAndText) {
    Dir d;
    EXPECT_EXIT(
        {
            kay_sys.write_file = failing_write;
            kay_sys.last_error = disk_full_code;
            kay_sys.error_text = disk_full_text;
            buf_copy(g_target_dir, KAY_PATH_CAPACITY, d.path().c_str());
            start_reader(entry_rest("content", crc32_of("content")));
            set_name("f.txt");
            unpack_entry();
        },
        ::testing::ExitedWithCode(2),
        "^Error, couldn't unpack file to target path\\. \\(\\[Error 112\\] There is not enough space on the "
        "disk\\.\\)\n$");
}

TEST(PosixFiles, ShortWriteIsContinuedAndTheFailureBehindItReported) {
    Dir d;
    std::string path = d / "limited";
    in_child([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {10000, 10000};
        setrlimit(RLIMIT_FSIZE, &limit);
        kay_file f = kay_sys_default.open_write(path.c_str());
        CHILD_CHECK(f.valid());
        std::string data(32768, 'w');
        bool ok = kay_sys_default.write_file(f, data.data(), static_cast<std::uint32_t>(data.size()));
        CHILD_CHECK(!ok);
        CHILD_CHECK(kay_sys_default.last_error() == EFBIG);
        kay_sys_default.close_file(f);
        // The first write stored what the limit allowed; the loop went on.
        CHILD_CHECK(fs::file_size(path) == 10000);
    });
}

}  // namespace
