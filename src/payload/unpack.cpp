#include "payload/unpack.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bootstrap/report.h"
#include "common/bounded.h"
#include "pathspec/expand.h"
#include "payload/entry_name.h"
#include "payload/format.h"
#include "payload/reader.h"

kchar g_entry_path[KAY_PATH_CAPACITY];
kchar g_first_entry_path[KAY_PATH_CAPACITY];

constexpr std::uint32_t COPY_BUFFER_SIZE = 32768;
constexpr std::uint32_t KNOWN_DIRECTORY_SLOTS = 1024;
constexpr std::uint32_t INVALID_FILE_SIZE = 0xFFFFFFFFu;

static unsigned char g_copy_buffer[COPY_BUFFER_SIZE];
static kchar* g_known_directories[KNOWN_DIRECTORY_SLOTS];
static std::uint32_t g_known_count;

static std::uint64_t le64(const unsigned char* b) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; i--) v = (v << 8) | b[i];
    return v;
}

void unpack_begin(void) {
    for (std::uint32_t i = 0; i < g_known_count; i++) std::free(g_known_directories[i]);
    g_known_count = 0;
    g_first_entry_path[0] = 0;
}

static kchar* duplicate(const kchar* s) {
    std::uint32_t n = kay_strlen(s) + 1;
    kchar* copy = static_cast<kchar*>(std::malloc(n * sizeof(kchar)));
    if (copy != nullptr) std::memcpy(copy, s, n * sizeof(kchar));
    return copy;
}

std::uint32_t file_crc(const kchar* path) {
    kay_file file = kay_sys.open_read(path);
    if (file == 0) return 0;
    std::uint32_t size = kay_sys.file_size(file);
    if (size == INVALID_FILE_SIZE) {
        kay_sys.close_file(file);
        return 0;
    }
    kay_mapping mapping = kay_sys.map_file(file, size);
    if (mapping == 0) {
        kay_sys.close_file(file);
        return 0;
    }
    const void* view = kay_sys.map_view(mapping);
    if (view == nullptr) {
        kay_sys.close_mapping(mapping);
        kay_sys.close_file(file);
        return 0;
    }
    std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0L, static_cast<const Bytef*>(view), static_cast<uInt>(size)));
    kay_sys.unmap_view(view, size);
    kay_sys.close_mapping(mapping);
    kay_sys.close_file(file);
    return crc == 0 ? 1 : crc;
}

bool ensure_directory(const kchar* path) {
    if (g_known_count == 0) {
        static kchar home[KAY_PATH_CAPACITY];
        if (!expand_path_spec(home, KT("{HOME}"), KAY_PATH_CAPACITY))
            fail_spec_expansion(KT("{HOME}"));
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

static bool starts_like_program(const unsigned char* data, std::uint32_t n) {
    return (n >= 4 && std::memcmp(data, "\x7f" "ELF", 4) == 0) ||
           (n >= 2 && data[0] == '#' && data[1] == '!');
}

void unpack_entry(void) {
    // A name that would land outside the target directory is corrupt data;
    // it is refused before anything on disk is touched.
    if (!entry_name_is_safe(g_entry_name)) fatal_error(MSG_DECODE);

    buf_copy(g_entry_path, KAY_PATH_CAPACITY, g_target_dir);
    buf_append_char(g_entry_path, KAY_PATH_CAPACITY, KAY_SEP);
    append_entry_name(g_entry_path, KAY_PATH_CAPACITY, g_entry_name);
    if (g_first_entry_path[0] == 0) buf_copy(g_first_entry_path, KAY_PATH_CAPACITY, g_entry_path);

    unsigned char field[8];
    read_exact(field, 8);
    std::uint64_t size = le64(field);
    read_exact(field, 4);
    std::uint32_t stored_crc = static_cast<std::uint32_t>(
        field[0] | (field[1] << 8) | (field[2] << 16) | (static_cast<std::uint32_t>(field[3]) << 24));

    if (file_crc(g_entry_path) == stored_crc) {
        while (size > 0) {
            std::uint32_t n = size < COPY_BUFFER_SIZE ? static_cast<std::uint32_t>(size) : COPY_BUFFER_SIZE;
            read_exact(g_copy_buffer, n);
            size -= n;
        }
        return;
    }

    ensure_parent_directory(g_entry_path);
    kay_file file = kay_sys.open_write(g_entry_path);
    if (file == 0) {
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
            system_error(MSG_UNPACK, kay_sys.last_error());
            kay_exit(2);
        }
        size -= n;
    }
    kay_sys.close_file(file);
}
