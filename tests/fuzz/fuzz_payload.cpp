// The payload reader and the unpacker over arbitrary bytes, into a scratch
// directory on disk. An input that begins with "KAY" is taken as a whole
// attached payload (magic, Zstandard frame, trailer); any other input as a
// decoded entry stream, which is compressed here first so that mutations
// reach the entry parsing and not only the decoder's checks.
//
// Allowed outcomes: the entries are unpacked, or the run ends with exit
// code 2 (a reported failure) or 3 (an abnormal end). Anything else, and
// every file written outside the input's own directory, is a finding.
#include <dirent.h>
#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/bounded.h"
#include "fuzz_common.h"
#include "format/format.h"
#include "payload/reader.h"
#include "payload/unpack.h"

namespace {

// Bytes one input may write before the disk counts as full, so that a small
// frame that decodes to gigabytes stays cheap.
constexpr std::uint64_t WRITE_BUDGET = 8u << 20;

// Directories one input may create before the disk counts as full, so
// that names hundreds of levels deep stay cheap: every level is looked up
// among the known directories, with paths compared in full.
constexpr unsigned DIRECTORY_BUDGET = 16;

std::string g_root;
kchar g_target_dir[KAY_PATH_CAPACITY];
kchar g_first_entry_path[KAY_PATH_CAPACITY];
unsigned long g_counter;
std::uint64_t g_written;
unsigned g_directories;

bool capped_write(kay_file file, const void* data, std::uint32_t size) {
    if (g_written + size > WRITE_BUDGET) {
        errno = ENOSPC;
        return false;
    }
    g_written += size;
    return kay_sys_default.write_file(file, data, size);
}

kay_mkdir_result capped_create_directory(const kchar* path, std::uint32_t mode) {
    kay_mkdir_result result = kay_sys_default.create_directory(path, mode);
    if (result == KAY_MKDIR_CREATED && ++g_directories > DIRECTORY_BUDGET) {
        rmdir(path);
        errno = ENOSPC;
        return KAY_MKDIR_FAILED;
    }
    return result;
}

// One decoder context for all inputs, reset where the reader frees it (the
// link's --wrap of both calls). A new one per input allocated and poisoned
// the window anew, up to 128 MiB, which took most of an input's time.
ZSTD_DCtx* g_decoder;

}  // namespace

extern "C" ZSTD_DCtx* __real_ZSTD_createDCtx();

extern "C" ZSTD_DCtx* __wrap_ZSTD_createDCtx() {
    if (g_decoder == nullptr) g_decoder = __real_ZSTD_createDCtx();
    return g_decoder;
}

extern "C" std::size_t __wrap_ZSTD_freeDCtx(ZSTD_DCtx* context) {
    return ZSTD_DCtx_reset(context, ZSTD_reset_session_and_parameters);
}

namespace {

// What the core holds open; an exit leaves it to the process end, which
// here is the end of the input: the files and views left are released then.
std::set<kay_file> g_files;

kay_file tracked_open_read(const kchar* path) {
    kay_file f = kay_sys_default.open_read(path);
    if (f.valid()) g_files.insert(f);
    return f;
}

kay_file tracked_open_file(const kchar* path, unsigned flags) {
    kay_file f = kay_sys_default.open_file(path, flags);
    if (f.valid()) g_files.insert(f);
    return f;
}

void tracked_close_file(kay_file file) {
    g_files.erase(file);
    kay_sys_default.close_file(file);
}

void release_left_open() {
    for (kay_file f : g_files) kay_sys_default.close_file(f);
    g_files.clear();
}

int remove_one(const char* path, const struct stat*, int, struct FTW*) {
    chmod(path, 0700);
    return remove(path);
}

void remove_tree(const std::string& path) { nftw(path.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS); }

void init() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    std::string templ = std::string(base) + "/kay-fuzz-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    if (mkdtemp(buf.data()) == nullptr) abort();
    g_root = buf.data();
    atexit([] { remove_tree(g_root); });
    kay_sys.write_file = capped_write;
    kay_sys.create_directory = capped_create_directory;
    kay_sys.open_read = tracked_open_read;
    kay_sys.open_file = tracked_open_file;
    kay_sys.close_file = tracked_close_file;
}

// Names directly under the root other than `own`.
bool root_has_strangers(const std::string& own) {
    DIR* d = opendir(g_root.c_str());
    if (d == nullptr) return false;
    bool strangers = false;
    while (struct dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && n != own) strangers = true;
    }
    closedir(d);
    return strangers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (g_root.empty()) init();
    std::string own = std::to_string(g_counter++);
    std::string dir = g_root + "/" + own;
    if (mkdir(dir.c_str(), 0700) != 0) abort();

    std::vector<unsigned char> frame;
    const unsigned char* input = data;
    std::size_t input_size = size;
    if (size >= sizeof KAY_MAGIC && memcmp(data, KAY_MAGIC, sizeof KAY_MAGIC) == 0) {
        input += sizeof KAY_MAGIC;
        input_size -= sizeof KAY_MAGIC;
    } else {
        frame.resize(ZSTD_compressBound(size));
        std::size_t n = ZSTD_compress(frame.data(), frame.size(), data, size, 1);
        if (ZSTD_isError(n)) abort();
        frame.resize(n);
        input = frame.data();
        input_size = n;
    }

    buf_copy(g_target_dir, KAY_PATH_CAPACITY, dir.c_str());
    g_written = 0;
    g_directories = 0;
    bool exited = false;
    kay_fuzz::begin_input();
    try {
        // The directory walk stops at the scratch root.
        kay_unpack::unpack_all(input, input_size, g_target_dir, g_root.c_str(), nullptr, g_first_entry_path);
    } catch (const kay_fuzz::exit_request& e) {
        if (e.code != 2 && e.code != 3) kay_fuzz::finding();
        exited = true;
        // An exit leaves the reader as it was.
        kay_reader::teardown();
    }
    // The next input starts as a fresh launcher would: no directory known.
    kay_unpack::unpack_begin(g_root.c_str());
    kay_fuzz::end_input(exited);
    // Nothing stays open after an input that ran to its end.
    if (!g_files.empty()) {
        if (!exited) kay_fuzz::finding();
        release_left_open();
    }
    // Every entry lands inside the target directory.
    if (root_has_strangers(own)) kay_fuzz::finding();
    remove_tree(dir);
    return 0;
}
