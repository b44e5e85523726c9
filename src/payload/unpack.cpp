#include "payload/unpack.h"

#include <libdeflate.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bounded.h"
#include "common/native_text.h"
#include "common/report.h"
#include "format/data_block.h"
#include "format/format.h"
#include "payload/progress.h"
#include "payload/reader.h"
#include "platform/paths.h"
#include "platform/safe_files.h"

using namespace kay_reader;

constexpr std::uint32_t COPY_BUFFER_SIZE = 32768;
constexpr std::uint32_t KNOWN_DIRECTORY_SLOTS = 1024;

static unsigned char g_copy_buffer[COPY_BUFFER_SIZE];
static kchar* g_known_directories[KNOWN_DIRECTORY_SLOTS];
static std::uint32_t g_known_count;
static const kchar* g_home_folder;
static const kchar* g_target_dir;
static const kchar* g_unlocked_target;

namespace kay_unpack {

void unpack_begin(const kchar* home_folder, const kchar* target_dir) {
    for (std::uint32_t i = 0; i < g_known_count; i++) std::free(g_known_directories[i]);
    g_known_count = 0;
    g_home_folder = home_folder;
    g_target_dir = target_dir;
}

// Whether `path` lies below the target directory.
static bool below_target(const kchar* path) {
    if (g_target_dir == nullptr) return false;
    std::uint32_t n = kay_strlen(g_target_dir);
    return std::memcmp(path, g_target_dir, n * sizeof(kchar)) == 0 && kay_is_sep(path[n]) && path[n + 1] != 0;
}

// Makes the folder `path`. Below the target, something else already
// there (a file, or a link that the system calls do not follow) is removed
// and a folder made in its place.
static bool make_folder(const kchar* path) {
    static kchar long_form[KAY_SYSTEM_PATH_CAPACITY];
    const kchar* at = kay_system_path(path, long_form);
    kay_mkdir_result made = kay_sys.create_directory(at, KAY_MODE_FOLDER);
    if (made != KAY_MKDIR_EXISTS || !below_target(path)) return made != KAY_MKDIR_FAILED;
    kay_file_status st;
    if (!kay_sys.stat_path(at, &st)) return false;
    if (st.kind == KAY_NODE_FOLDER) return true;
    return kay_sys.remove_file(at) && kay_sys.create_directory(at, KAY_MODE_FOLDER) != KAY_MKDIR_FAILED;
}

static bool starts_like_program(const unsigned char* data, std::uint32_t n) {
    return (n >= sizeof KAY_ELF_MAGIC && std::memcmp(data, KAY_ELF_MAGIC, sizeof KAY_ELF_MAGIC) == 0) ||
           (n >= 2 && data[0] == '#' && data[1] == '!');
}

std::uint32_t file_check_value(const kchar* path, std::uint64_t size, unsigned char* buffer, std::uint32_t capacity) {
    kchar long_form[KAY_SYSTEM_PATH_CAPACITY];
    kay_file file = kay_sys.open_read(kay_system_path(path, long_form));
    if (!file.valid()) return KAY_CRC_MISSING;
    // A file of another size cannot hold the entry; an empty one holds an
    // empty entry's content.
    bool usable = kay_sys.file_size(file) == size;
    bool program = false;
    std::uint32_t crc = 0;
    for (std::uint64_t left = usable ? size : 0; left > 0;) {
        std::uint32_t want = left < capacity ? static_cast<std::uint32_t>(left) : capacity;
        std::uint32_t n = kay_sys.read_file(file, buffer, want);
        // Cut short while being read, or unreadable: not what was stored.
        if (n == KAY_READ_FAILED || n == 0) {
            usable = false;
            break;
        }
        if (left == size) program = starts_like_program(buffer, n);
        crc = static_cast<std::uint32_t>(libdeflate_crc32(crc, buffer, n));
        left -= n;
    }
    // A program that lost its executable mode is not up to date: it is
    // written again, with the mode.
    if (usable && program && !kay_sys.file_executable(file)) usable = false;
    kay_sys.close_file(file);
    return usable ? stored_crc(crc) : KAY_CRC_MISSING;
}

std::uint32_t file_check_value(const kchar* path, std::uint64_t size) {
    return file_check_value(path, size, g_copy_buffer, COPY_BUFFER_SIZE);
}

bool ensure_directory(const kchar* path) {
    if (g_known_count == 0) {
        // Without memory the home folder simply stays unrecorded.
        g_known_directories[0] = kay_strdup(g_home_folder);
        if (g_known_directories[0] != nullptr) g_known_count = 1;
    }
    for (std::uint32_t i = 0; i < g_known_count; i++) {
        if (kay_strcmp(g_known_directories[i], path) == 0) return true;
    }
    if (kay_strlen(path) == 2 && path[1] == ':') return true;
    if (!make_folder(path)) return false;
    if (g_known_count < KNOWN_DIRECTORY_SLOTS) {
        kchar* copy = kay_strdup(path);
        if (copy != nullptr) g_known_directories[g_known_count++] = copy;
    }
    return true;
}

// Makes the parent folder of `path` exist. The immediate parent is tried
// first; only when it cannot be made is the folder above it tried, and so
// on up; then each folder that failed is made again on the way down, the
// highest one once more when nothing above it could be made. One work
// buffer, cut at the separators on the way up and mended from `path` on
// the way down, serves every depth.
void ensure_parent_directory(const kchar* path) {
    static kchar work[KAY_PATH_CAPACITY];
    buf_copy(work, KAY_PATH_CAPACITY, path);
    std::uint32_t len = kay_strlen(work);
    std::uint32_t parent = 0;  // the immediate parent's length
    bool made = false;
    for (;;) {
        std::uint32_t i = len;
        // The first unit is never a separator to cut at.
        while (i > 1 && !kay_is_sep(work[i - 1])) i--;
        if (i <= 1) break;
        len = i - 1;
        work[len] = 0;
        if (parent == 0) parent = len;
        made = ensure_directory(work);
        if (made) break;
    }
    if (parent == 0 || (made && len == parent)) return;
    if (made) {
        work[len] = path[len];
        len += kay_strlen(work + len);
    }
    for (;;) {
        ensure_directory(work);
        if (len == parent) return;
        work[len] = path[len];
        len += kay_strlen(work + len);
    }
}

// Units of `name` in native form. Valid UTF-16 only (check_entry_name),
// so on Windows the name's own units.
static std::uint32_t native_length(const char16_t* name, std::size_t length) {
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < length;) {
        std::uint32_t c;
        utf16_next(name, length, &i, &c);
        n += kay_native_units(c);
    }
    return n;
}

bool entry_at(const unsigned char** at, const unsigned char* end, kay_index_entry* entry, char16_t* name) {
    kay_block index{};
    index.index_end = end;
    if (!next_index_entry(index, at, entry) || entry->name_units >= KAY_NAME_CAPACITY) return false;
    for (std::uint32_t i = 0; i < entry->name_units; i++) name[i] = unit_at(entry->name, i);
    name[entry->name_units] = 0;
    return true;
}

bool entry_path(kchar* out, const kchar* target_dir, const char16_t* name, std::size_t length) {
    std::uint32_t len = kay_strlen(target_dir);
    if (len + 1 + native_length(name, length) >= KAY_PATH_CAPACITY) return false;
    buf_copy(out, KAY_PATH_CAPACITY, target_dir);
    buf_put(out, KAY_PATH_CAPACITY, &len, KAY_SEP);
    // Each backslash turned into the system's separator; the room was
    // checked above.
    kchar* end = out + len;
    for (std::size_t i = 0; i < length;) {
        std::uint32_t c;
        utf16_next(name, length, &i, &c);
        kay_put_native(end, c == '\\' ? KAY_SEP : c);
    }
    *end = 0;
    return true;
}

void warn_before_writing(const kchar* target_dir) { g_unlocked_target = target_dir; }

// An entry's file that cannot be written, naming its folder when that is
// another user's: a file there can be neither removed nor made.
[[noreturn]] static void report_open_failure(const kchar* path) {
    static kchar folder[KAY_PATH_CAPACITY], long_form[KAY_SYSTEM_PATH_CAPACITY];
    buf_copy(folder, KAY_PATH_CAPACITY, path);
    std::uint32_t n = kay_strlen(folder);
    while (n > 0 && !kay_is_sep(folder[n - 1])) n--;
    folder[n > 0 ? n - 1 : 0] = 0;
    kay_file_status st;
    if (n > 1 && kay_sys.stat_path(kay_system_path(folder, long_form), &st) && st.kind == KAY_NODE_FOLDER &&
        st.owner != kay_sys.user_id())
        report_line(KAY_TO_STDERR, true, MSG_OPEN_WRITE KAY_PRI_S MSG_OPEN_WRITE_FOLDER KAY_PRI_S MSG_OPEN_WRITE_FOLDER_END,
                    path, folder);
    else report_line(KAY_TO_STDERR, true, MSG_OPEN_WRITE KAY_PRI_S MSG_OPEN_WRITE_END, path);
    kay_exit(2);
}

void unpack_entry(const kchar* target_dir, const char16_t* name, kchar* path) {
    // A name that would land outside the target directory is corrupt data;
    // it is refused before anything on disk is touched.
    std::size_t length = 0;
    while (name[length] != 0) length++;
    if (check_entry_name(name, length) != KAY_NAME_OK) fatal_error(MSG_DECODE);

    // A path that does not fit is an abnormal end.
    if (!entry_path(path, target_dir, name, length)) kay_abort();

    unsigned char field[8];
    read_exact(field, 8);
    std::uint64_t size = get_le(field, 8);
    read_exact(field, 4);
    std::uint32_t crc = static_cast<std::uint32_t>(get_le(field, 4));

    // The next piece of the content, in place.
    const unsigned char* data;
    auto next = [&] {
        std::size_t n = read_some(&data, size < KAY_WINDOW_SIZE ? static_cast<std::size_t>(size) : KAY_WINDOW_SIZE);
        kay_progress::advance(n);
        return n;
    };
    if (file_check_value(path, size) == crc) {
        while (size > 0) size -= next();
        return;
    }

    if (g_unlocked_target != nullptr) {
        report_line(KAY_TO_STDERR, false, MSG_NO_LOCK KAY_PRI_S MSG_NO_LOCK_END, g_unlocked_target);
        g_unlocked_target = nullptr;
    }
    ensure_parent_directory(path);
    static kchar long_form[KAY_SYSTEM_PATH_CAPACITY];
    kay_file file = kay_open_write(kay_system_path(path, long_form));
    if (!file.valid()) report_open_failure(path);
    // The CRC-32 of what reached the file, to compare with the stored one.
    std::uint32_t written = 0;
    auto write = [&](const void* bytes, std::size_t n) {
        if (!kay_sys.write_file(file, bytes, static_cast<std::uint32_t>(n))) {
            system_error(MSG_UNPACK, kay_sys.last_error(), kay_sys.error_text);
            kay_exit(2);
        }
        written = static_cast<std::uint32_t>(libdeflate_crc32(written, bytes, n));
        size -= n;
    };
    if (size > 0) {
        // POSIX: programs get the executable mode, everything else not, as
        // the first bytes say. They are looked at in place, unless the
        // first four cross into the next window.
        std::size_t n = next();
        unsigned char head[4];
        if (n < sizeof head && size > n) {
            std::size_t want = size < sizeof head ? static_cast<std::size_t>(size) : sizeof head;
            std::memcpy(head, data, n);
            read_exact(head + n, want - n);
            data = head;
            n = want;
        }
        kay_sys.mark_executable(file, starts_like_program(data, static_cast<std::uint32_t>(n)));
        write(data, n);
    }
    // The rest straight from the decoded windows.
    while (size > 0) {
        std::size_t n = next();
        write(data, n);
    }
    kay_sys.close_file(file);
    // Content that is not what was packed means a damaged payload. The file
    // goes, so that no later start takes it for current, and nothing is
    // started. A stored crc of 0 has nothing to compare with.
    if (crc != KAY_CRC_MISSING && stored_crc(written) != crc) {
        kay_sys.remove_file(kay_system_path(path, long_form));
        fatal_error(MSG_DECODE);
    }
}

void unpack_all(const unsigned char* stream, std::size_t size, const kchar* target_dir, const kchar* home_folder,
                kay_before_first_entry before_first, kchar* first_entry_path) {
    static char16_t name[KAY_NAME_CAPACITY];
    static kchar path[KAY_PATH_CAPACITY];
    unpack_begin(home_folder, target_dir);
    first_entry_path[0] = 0;
    setup(stream, size);
    for (;;) {
        read_name(name);
        if (name[0] == 0) break;
        if (first_entry_path[0] == 0 && before_first != nullptr) before_first();
        unpack_entry(target_dir, name, path);
        if (first_entry_path[0] == 0) buf_copy(first_entry_path, KAY_PATH_CAPACITY, path);
    }
    teardown();
}

}  // namespace kay_unpack
