// The lock on a target directory, through the raw calls fold_case,
// lock_folder, create_directory, open_file, stat_file, remove_file,
// open_lock, stat_lock, wait_lock and sleep_ms.
#include <cstring>

#include "common/bounded.h"
#include "platform/paths.h"
#include "platform/safe_files.h"

// Whether `folder` is the user's own, mode 0700, and no symlink.
static bool private_folder(const kchar* folder) {
    if (kay_sys.create_directory(folder, KAY_MODE_PRIVATE_FOLDER) == KAY_MKDIR_FAILED) return false;
    kay_file file = kay_sys.open_file(folder, KAY_OPEN_FOLDER);
    if (!file.valid()) return false;
    kay_file_status st;
    bool own = kay_sys.stat_file(file, &st) && st.kind == KAY_NODE_FOLDER && st.owner == kay_sys.user_id() &&
               (st.mode & KAY_MODE_GROUP_OTHERS) == 0;
    kay_sys.close_file(file);
    return own;
}

// Looked at again after 1, 2, 4 ... up to 32 ms, until `timeout_ms` passed.
static kay_wait_result wait_for(kay_lock lock, std::uint32_t timeout_ms) {
    if (timeout_ms == KAY_WAIT_INFINITE) return kay_sys.wait_lock(lock, true);
    kay_wait_result rc;
    std::uint32_t waited = 0, step = 1;
    while ((rc = kay_sys.wait_lock(lock, false)) == KAY_WAIT_TIMEOUT && waited < timeout_ms) {
        kay_sys.sleep_ms(step);
        waited += step;
        if (step < 32) step *= 2;
    }
    return rc;
}

// The lock `name` when it is a file of the user's only (mode 0600, so no
// other user can open it to hold it for ever). One of another owner in a
// folder the user may change (left by a start as root) is replaced.
static kay_lock own_lock(const kchar* name, bool replace) {
    for (int attempt = 0; attempt < 2; attempt++) {
        kay_lock held = kay_sys.open_lock(name);
        kay_file_status st;
        if (held.valid() && kay_sys.stat_lock(held, &st) && st.kind == KAY_NODE_FILE &&
            st.owner == kay_sys.user_id())
            return held;
        if (held.valid()) kay_sys.close_lock(held);
        if (!replace || !kay_sys.stat_path(name, &st) || st.kind == KAY_NODE_FOLDER || !kay_sys.remove_file(name))
            break;
    }
    return kay_lock{};
}

// POSIX: the file KAY_LOCK_FILE inside the target folder, which the target
// walk proved to be the user's or root's, so no other user can make it
// first; when the user may not write there (an install of root's), a file
// named after the folded path in lock_folder, if that is the user's
// private folder. Windows: the named mutex.
static kay_lock open_target_lock(const kchar* dir) {
    // A path buffer's, and room for the lock's name after it: below the
    // target, the system is given the name alone.
    constexpr std::uint32_t CAPACITY = 4096 + 32;
    static kchar folded[CAPACITY], path[CAPACITY];
    if (KAY_LOCKS_ARE_FILES && buf_join(path, CAPACITY, dir, KAY_LOCK_FILE)) {
        kay_lock held = own_lock(path, true);
        if (held.valid()) return held;
    }
    std::uint32_t n = kay_sys.fold_case(dir, folded, CAPACITY);
    if (n == 0 || n >= CAPACITY) return kay_lock{};
    kchar name[KAY_LOCK_NAME_CAPACITY];
    kay_lock_name(folded, name);
    if (!KAY_LOCKS_ARE_FILES) return own_lock(name, false);
    // The file takes the name without its "Local\" namespace.
    std::uint32_t folder = kay_sys.lock_folder(path, CAPACITY - KAY_LOCK_NAME_CAPACITY);
    if (folder == 0 || folder >= CAPACITY - KAY_LOCK_NAME_CAPACITY) return kay_lock{};
    path[folder] = 0;
    if (!private_folder(path)) return kay_lock{};
    buf_put(path, CAPACITY, &folder, KAY_SEP);
    buf_append(path, CAPACITY, name + 6);
    return own_lock(path, false);
}

kay_wait_result kay_lock_target(const kchar* dir, std::uint32_t timeout_ms, kay_lock* lock) {
    kay_lock held = open_target_lock(dir);
    if (!held.valid()) return KAY_WAIT_FAILED;
    kay_wait_result rc = wait_for(held, timeout_ms);
    if (rc != KAY_WAIT_DONE) {
        kay_sys.close_lock(held);
        return rc;
    }
    *lock = held;
    return KAY_WAIT_DONE;
}
