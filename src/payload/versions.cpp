#include "payload/versions.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "common/bounded.h"
#include "format/format.h"
#include "payload/state.h"
#include "payload/unpack.h"
#include "platform/paths.h"
#include "platform/safe_files.h"

using namespace kay_unpack;

namespace kay_versions {

namespace {

// `path` in the form the file calls take, one call at a time.
const kchar* sys(const kchar* path) {
    static kchar long_form[KAY_SYSTEM_PATH_CAPACITY];
    return kay_system_path(path, long_form);
}

struct version {
    kchar* name;  // in the parent folder
    std::int64_t used_ns;
};

struct versions {
    version* all = nullptr;
    std::uint32_t count = 0;
    std::uint32_t capacity = 0;
};

// A name of the parent folder, kept for a look once the listing is done.
void add_name(void* arg, const kchar* name) {
    versions& v = *static_cast<versions*>(arg);
    if (v.count == v.capacity) {
        std::uint32_t capacity = v.capacity == 0 ? 16 : v.capacity * 2;
        version* grown = static_cast<version*>(std::realloc(v.all, capacity * sizeof(version)));
        if (grown == nullptr) return;
        v.all = grown;
        v.capacity = capacity;
    }
    kchar* copy = kay_strdup(name);
    if (copy != nullptr) v.all[v.count++] = {copy, 0};
}

// Whether `dir` is a folder of the user's that holds a version of the
// product other than this one (whose in-use file is `own`), and since when
// it is unused: its in-use file's time, 0 without one.
bool other_version(const kchar* dir, const kay_launch_data& data, const kay_file_status& own, std::int64_t* used_ns) {
    kay_file_status st;
    if (!kay_sys.stat_path(sys(dir), &st) || st.kind != KAY_NODE_FOLDER || st.owner != kay_sys.user_id() ||
        !kay_state::holds_record_of(dir, data))
        return false;
    kchar path[KAY_PATH_CAPACITY];
    *used_ns = 0;
    // Opened, not looked up in the folder's listing (Windows), which would
    // then be kept until the version is locked.
    kay_file use = kay_state::path_of(path, dir, KAY_IN_USE_NAME) ? kay_sys.open_file(sys(path), 0) : kay_file{};
    bool stated = use.valid() && kay_sys.stat_file(use, &st);
    if (use.valid()) kay_sys.close_file(use);
    if (!stated) return true;
    // This version's own folder under another name (the target reached
    // through a link beside it).
    if (st.device == own.device && st.inode == own.inode) return false;
    *used_ns = st.mtime_ns;
    return true;
}

// Removes the folders that hold `path`, from the innermost up to `dir`
// (the first `dir_length` units of `path`, not removed), while they are
// empty.
void remove_empty_folders(kchar* path, std::uint32_t dir_length) {
    for (std::uint32_t n = kay_strlen(path);;) {
        while (n > dir_length && !kay_is_sep(path[n - 1])) n--;
        if (n <= dir_length + 1) return;
        path[--n] = 0;
        if (!kay_sys.remove_folder(sys(path))) return;
    }
}

// Removes every file the record of `dir` lists whose status is the one
// recorded (one whose times are too close to the record's writing to
// prove it unchanged is read: its content must be the entry's), then the
// folders left empty. False when a file that was to go could not be
// removed, or a name could not be one.
bool remove_listed(const kchar* dir, const kay_record_parts& record, std::int64_t written_ns) {
    static kchar path[KAY_PATH_CAPACITY];
    char16_t name[KAY_NAME_CAPACITY];
    kay_index_entry entry;
    const unsigned char* end = record.index + record.index_size;
    bool all = true;
    std::uint32_t i = 0;
    for (const unsigned char* at = record.index; at < end; i++) {
        if (!entry_at(&at, end, &entry, name) || check_entry_name(name, entry.name_units) != KAY_NAME_OK ||
            !entry_path(path, dir, name, entry.name_units))
            return false;
        kay_stamp now;
        if (!kay_state::stamp_of(path, &now) || !(now == record_stamp(record, i)) ||
            (kay_state::racy(now, written_ns) && file_check_value(path, entry.size) != entry.crc))
            continue;
        if (!kay_sys.remove_file(sys(path))) all = false;
    }
    std::uint32_t dir_length = kay_strlen(dir);
    for (const unsigned char* at = record.index; entry_at(&at, end, &entry, name);) {
        if (entry_path(path, dir, name, entry.name_units)) remove_empty_folders(path, dir_length);
    }
    return all;
}

// Removes the version in `dir` as remove_old says, if no launcher holds it.
void remove_version(const kchar* dir, const kay_launch_data& data) {
    kay_lock lock{};
    if (kay_lock_target(dir, 0, &lock) != KAY_WAIT_DONE) return;
    static kchar path[KAY_PATH_CAPACITY];
    kay_file use = kay_state::path_of(path, dir, KAY_IN_USE_NAME) ? kay_sys.open_file(sys(path), KAY_OPEN_CREATE)
                                                                  : kay_file{};
    kay_record_parts record;
    std::int64_t written_ns;
    unsigned char* bytes = nullptr;
    // The record is read again under the locks: a start of that version
    // may have written it anew.
    if (use.valid() && kay_sys.lock_file(use, true) == KAY_WAIT_DONE)
        bytes = kay_state::load(dir, 0, &record, &written_ns);
    if (bytes != nullptr && record_of(bytes, data.identity, data.identity_size) &&
        remove_listed(dir, record, written_ns)) {
        // The in-use file goes while the lock is held (a start after this
        // one makes a new one); the record last, so that a cleanup cut
        // short before it is taken up again.
        if (kay_state::path_of(path, dir, KAY_IN_USE_NAME)) kay_sys.remove_file(sys(path));
        if (KAY_LOCKS_ARE_FILES && buf_join(path, KAY_PATH_CAPACITY, dir, KAY_LOCK_FILE))
            kay_sys.remove_file(sys(path));
        for (const char* own : {KAY_STATE_TEMP, KAY_STATE_NAME}) {
            if (kay_state::path_of(path, dir, own)) kay_sys.remove_file(sys(path));
        }
        // Windows removes an open file only once it is closed.
        kay_sys.close_file(use);
        use = kay_file{};
        kay_sys.remove_folder(sys(dir));
    }
    std::free(bytes);
    if (use.valid()) kay_sys.close_file(use);
    kay_sys.close_lock(lock);
}

}  // namespace

kay_file hold(const kchar* target_dir) {
    static kchar path[KAY_PATH_CAPACITY];
    if (!kay_state::path_of(path, target_dir, KAY_IN_USE_NAME)) return kay_file{};
    kay_file use = kay_sys.open_file(sys(path), KAY_OPEN_CREATE);
    if (use.valid() && kay_sys.lock_file(use, false) != KAY_WAIT_DONE) {
        kay_sys.close_file(use);
        return kay_file{};
    }
    // Another user's file (root's, of an install) keeps its time.
    if (use.valid()) kay_sys.touch_file(use);
    return use;
}

void remove_old(const kchar* target_dir, const kay_launch_data& data, kay_file in_use) {
    kay_file_status own;
    if (data.keep_versions == 0 || !in_use.valid() || !kay_sys.stat_file(in_use, &own)) return;
    // The parent folder, which no version is put into directly: a root
    // ("/", "C:\") is never looked at.
    static kchar parent[KAY_PATH_CAPACITY], dir[KAY_PATH_CAPACITY];
    buf_copy(parent, KAY_PATH_CAPACITY, target_dir);
    std::uint32_t n = kay_strlen(parent);
    while (n > 0 && kay_is_sep(parent[n - 1])) n--;
    std::uint32_t name_at = n;
    while (name_at > 0 && !kay_is_sep(parent[name_at - 1])) name_at--;
    if (name_at < 2 || (name_at == 3 && parent[1] == ':')) return;
    parent[n] = 0;
    const kchar* own_name = parent + name_at;
    parent[name_at - 1] = 0;
    // Every path call from here on reaches below the parent only, without
    // following a link: a version's folder that is a link is no version.
    versions found;
    if (!kay_sys.confine_below(parent) || !kay_sys.list_folder(sys(parent), add_name, &found)) {
        std::free(found.all);
        return;
    }
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < found.count; i++) {
        version v = found.all[i];
        if (kay_strcmp(v.name, own_name) != 0 && buf_join(dir, KAY_PATH_CAPACITY, parent, v.name) &&
            other_version(dir, data, own, &v.used_ns)) {
            // Most recently used first.
            std::uint32_t at = count++;
            for (; at > 0 && found.all[at - 1].used_ns < v.used_ns; at--) found.all[at] = found.all[at - 1];
            found.all[at] = v;
        } else {
            std::free(v.name);
        }
    }
    for (std::uint32_t i = 0; i < count; i++) {
        if (i + 1 >= data.keep_versions && buf_join(dir, KAY_PATH_CAPACITY, parent, found.all[i].name))
            remove_version(dir, data);
        std::free(found.all[i].name);
    }
    std::free(found.all);
}

}  // namespace kay_versions
