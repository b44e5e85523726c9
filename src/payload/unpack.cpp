#include "payload/unpack.h"

#include <libdeflate.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bounded.h"
#include "common/report.h"
#include "format/format.h"
#include "payload/reader.h"

kchar g_entry_path[KAY_PATH_CAPACITY];
kchar g_first_entry_path[KAY_PATH_CAPACITY];

constexpr std::uint32_t COPY_BUFFER_SIZE = 32768;
constexpr std::uint32_t KNOWN_DIRECTORY_SLOTS = 1024;

static unsigned char g_copy_buffer[COPY_BUFFER_SIZE];
static kchar* g_known_directories[KNOWN_DIRECTORY_SLOTS];
static std::uint32_t g_known_count;
static kay_home_folder g_home_folder;

void unpack_begin(kay_home_folder home) {
    for (std::uint32_t i = 0; i < g_known_count; i++) std::free(g_known_directories[i]);
    g_known_count = 0;
    g_home_folder = home;
    g_first_entry_path[0] = 0;
}

static kchar* duplicate(const kchar* s) {
    std::uint32_t n = kay_strlen(s) + 1;
    kchar* copy = static_cast<kchar*>(std::malloc(n * sizeof(kchar)));
    if (copy != nullptr) std::memcpy(copy, s, n * sizeof(kchar));
    return copy;
}

static bool starts_like_program(const unsigned char* data, std::uint32_t n) {
    return (n >= 4 && std::memcmp(data, "\x7f" "ELF", 4) == 0) ||
           (n >= 2 && data[0] == '#' && data[1] == '!');
}

// The CRC-32 of the first `size` bytes of `file` in pieces, its first bytes
// into `head` (4); false when a read fails or the file ends early.
static bool crc_by_reading(kay_file file, std::uint64_t size, std::uint32_t* crc, unsigned char* head) {
    constexpr std::uint32_t PIECE = 1u << 18;
    auto* buffer = static_cast<unsigned char*>(std::malloc(PIECE));
    if (buffer == nullptr) return false;
    std::uint32_t value = 0;
    bool first = true;
    while (size > 0) {
        std::uint32_t want = size < PIECE ? static_cast<std::uint32_t>(size) : PIECE;
        std::uint32_t got = kay_sys.read_file(file, buffer, want);
        if (got == KAY_READ_FAILED || got == 0) break;
        if (first) std::memcpy(head, buffer, got < 4 ? got : 4);
        first = false;
        value = libdeflate_crc32(value, buffer, got);
        size -= got;
    }
    std::free(buffer);
    *crc = value;
    return size == 0;
}

// The whole file mapped; false when it cannot be mapped.
static bool crc_by_mapping(kay_file file, std::uint32_t size, std::uint32_t* crc, unsigned char* head) {
    kay_mapping mapping = kay_sys.map_file(file, size);
    if (!mapping.valid()) return false;
    const void* view = kay_sys.map_view(mapping);
    if (view == nullptr) {
        kay_sys.close_mapping(mapping);
        return false;
    }
    std::memcpy(head, view, size < 4 ? size : 4);
    *crc = libdeflate_crc32(0, view, size);
    kay_sys.unmap_view(view, size);
    kay_sys.close_mapping(mapping);
    return true;
}

static std::uint32_t open_file_value(kay_file file, std::uint64_t size) {
    if (kay_sys.file_size(file) != size) return KAY_CRC_MISSING;
    // An empty file holds an empty entry's content.
    if (size == 0) return stored_crc(0);
    unsigned char head[4] = {0, 0, 0, 0};
    std::uint32_t crc = 0;
    // Files of 4 GiB or more, and those that cannot be mapped whole (a
    // 32-bit address space), are read in pieces.
    bool mapped = size <= 0xFFFFFFFEu && crc_by_mapping(file, static_cast<std::uint32_t>(size), &crc, head);
    if (!mapped && !crc_by_reading(file, size, &crc, head)) return KAY_CRC_MISSING;
    // A program that lost its executable mode is not up to date: it is
    // written again, with the mode.
    std::uint32_t n = size < 4 ? static_cast<std::uint32_t>(size) : 4;
    if (starts_like_program(head, n) && !kay_sys.file_executable(file)) return KAY_CRC_MISSING;
    return stored_crc(crc);
}

std::uint32_t entry_disk_value(const kchar* path, std::uint64_t size) {
    kay_file file = kay_sys.open_read(path);
    if (!file.valid()) return KAY_CRC_MISSING;
    std::uint32_t value = open_file_value(file, size);
    kay_sys.close_file(file);
    return value;
}

bool ensure_directory(const kchar* path) {
    if (g_known_count == 0) {
        static kchar home[KAY_PATH_CAPACITY];
        g_home_folder(home);
        // Without memory the home folder simply stays unrecorded.
        g_known_directories[0] = duplicate(home);
        if (g_known_directories[0] != nullptr) g_known_count = 1;
    }
    for (std::uint32_t i = 0; i < g_known_count; i++) {
        if (kay_strcmp(g_known_directories[i], path) == 0) return true;
    }
    if (kay_strlen(path) == 2 && path[1] == ':') return true;
    if (kay_sys.create_directory(path) == KAY_MKDIR_FAILED) return false;
    if (g_known_count < KNOWN_DIRECTORY_SLOTS) {
        kchar* copy = duplicate(path);
        if (copy != nullptr) g_known_directories[g_known_count++] = copy;
    }
    return true;
}

void ensure_parent_directory(const kchar* path) {
    kchar parent[KAY_PATH_CAPACITY];
    buf_copy(parent, KAY_PATH_CAPACITY, path);
    std::uint32_t i = kay_strlen(parent);
    // The first unit is never a separator to cut at.
    while (i > 1 && parent[i - 1] != KAY_SEP) i--;
    if (i <= 1) return;
    parent[i - 1] = 0;
    if (ensure_directory(parent)) return;
    ensure_parent_directory(parent);
    ensure_directory(parent);
}

// Appends `name` to the path buffer `dst` in native form: unit for unit on
// Windows; elsewhere as UTF-8 with each backslash turned into '/'.
static void append_entry_name(kchar* dst, const char16_t* name, std::size_t length) {
    std::uint32_t len = kay_strlen(dst);
#if KAY_WINDOWS
    for (std::size_t i = 0; i < length; i++) buf_put(dst, KAY_PATH_CAPACITY, &len, static_cast<kchar>(name[i]));
#else
    for (std::size_t i = 0; i < length;) {
        std::uint32_t c;
        if (!utf16_next(name, length, &i, &c)) fatal_error(MSG_DECODE);
        char bytes[4];
        unsigned n = utf8_encode(c == '\\' ? '/' : c, bytes);
        for (unsigned k = 0; k < n; k++) buf_put(dst, KAY_PATH_CAPACITY, &len, bytes[k]);
    }
#endif
}

void unpack_entry(const kchar* target_dir, const char16_t* name) {
    // A name that would land outside the target directory is corrupt data;
    // it is refused before anything on disk is touched.
    std::size_t length = 0;
    while (name[length] != 0) length++;
    if (check_entry_name(name, length) != KAY_NAME_OK) fatal_error(MSG_DECODE);

    buf_copy(g_entry_path, KAY_PATH_CAPACITY, target_dir);
    buf_append_char(g_entry_path, KAY_PATH_CAPACITY, KAY_SEP);
    append_entry_name(g_entry_path, name, length);
    if (g_first_entry_path[0] == 0) buf_copy(g_first_entry_path, KAY_PATH_CAPACITY, g_entry_path);

    unsigned char field[8];
    read_exact(field, 8);
    std::uint64_t size = get_le(field, 8);
    read_exact(field, 4);
    std::uint32_t crc = static_cast<std::uint32_t>(get_le(field, 4));

    if (entry_disk_value(g_entry_path, size) == crc) {
        while (size > 0) {
            std::uint32_t n = size < COPY_BUFFER_SIZE ? static_cast<std::uint32_t>(size) : COPY_BUFFER_SIZE;
            read_exact(g_copy_buffer, n);
            size -= n;
        }
        return;
    }

    ensure_parent_directory(g_entry_path);
    kay_file file = kay_sys.open_write(g_entry_path);
    if (!file.valid()) {
        std::fprintf(stderr, "Error, failed to open '" KAY_PRI_S "' for writing.\n", g_entry_path);
        kay_exit(2);
    }
    bool first = true;
    while (size > 0) {
        std::uint32_t n = size < COPY_BUFFER_SIZE ? static_cast<std::uint32_t>(size) : COPY_BUFFER_SIZE;
        read_exact(g_copy_buffer, n);
        if (first) {
            // POSIX: programs get the executable mode, everything else not.
            kay_sys.mark_executable(file, starts_like_program(g_copy_buffer, n));
            first = false;
        }
        if (!kay_sys.write_file(file, g_copy_buffer, n)) {
            system_error(MSG_UNPACK, kay_sys.last_error(), kay_sys.error_text);
            kay_exit(2);
        }
        size -= n;
    }
    kay_sys.close_file(file);
}
