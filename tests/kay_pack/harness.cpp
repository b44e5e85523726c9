#include "harness.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

RunResult run(const std::vector<std::string>& argv) {
    char out_name[] = "/tmp/kay_pack_test_out_XXXXXX";
    char err_name[] = "/tmp/kay_pack_test_err_XXXXXX";
    int out_fd = mkstemp(out_name);
    int err_fd = mkstemp(err_name);
    pid_t pid = fork();
    if (pid == 0) {
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(out_fd);
    close(err_fd);
    RunResult result;
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = read_file(out_name);
    result.err = read_file(err_name);
    unlink(out_name);
    unlink(err_name);
    return result;
}

RunResult kay_pack(const std::vector<std::string>& args) {
    std::vector<std::string> argv{KAY_PACK_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = read_file(e.path().string());
    return files;
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir)) names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
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
    char frame_name[] = "/tmp/kay_pack_test_frame_XXXXXX";
    close(mkstemp(frame_name));
    write_file(frame_name, frame_of(payload));
    std::string decoded_name = std::string(frame_name) + ".out";
    RunResult r = run({ZSTD_CLI_PATH, "-q", "-d", "--long=27", "-f", frame_name, "-o", decoded_name});
    EXPECT_EQ(r.code, 0) << r.err;
    std::string s = read_file(decoded_name);
    unlink(frame_name);
    unlink(decoded_name.c_str());

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
    char name[] = "/tmp/kay_pack_test_stream_XXXXXX";
    close(mkstemp(name));
    write_file(name, stream);
    std::string zst = std::string(name) + ".zst";
    std::vector<std::string> argv{ZSTD_CLI_PATH, "-q", "-f", "--no-check"};
    argv.insert(argv.end(), zstd_args.begin(), zstd_args.end());
    argv.insert(argv.end(), {name, "-o", zst});
    RunResult r = run(argv);
    EXPECT_EQ(r.code, 0) << r.err;
    std::string payload = "KAY" + read_file(zst) + std::string(2, '\0');
    put_le(payload, payload.size(), 8);
    unlink(name);
    unlink(zst.c_str());
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

std::u16string utf16(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        std::uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra; k++) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += extra + 1;
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

void KayPackTest::SetUp() {
    char name[] = "/tmp/kay_pack_test_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
}

void KayPackTest::TearDown() {
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
}
