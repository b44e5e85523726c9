// The lock on a target directory, through the raw calls fold_case,
// lock_folder, create_directory, open_file, stat_file, open_lock, stat_lock,
// wait_lock and sleep_ms.
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

kay_wait_result kay_lock_target(const kchar* dir, std::uint32_t timeout_ms, kay_lock* lock) {
    constexpr std::uint32_t CAPACITY = 4096;  // a path buffer's
    static kchar folded[CAPACITY];
    std::uint32_t n = kay_sys.fold_case(dir, folded, CAPACITY);
    if (n == 0 || n >= CAPACITY) return KAY_WAIT_FAILED;
    kchar name[KAY_LOCK_NAME_CAPACITY];
    kay_lock_name(folded, name);
    // Where locks are files, the file takes the name without its "Local\"
    // namespace, in the user's private folder.
    kchar path[256];
    const kchar* lock_name = name;
    std::uint32_t folder = kay_sys.lock_folder(path, 128);
    if (folder > 0 && folder < 128) {
        path[folder] = 0;
        if (!private_folder(path)) return KAY_WAIT_FAILED;
        path[folder] = KAY_SEP;
        path[folder + 1] = 0;
        buf_append(path, 256, name + 6);
        lock_name = path;
    }
    kay_lock held = kay_sys.open_lock(lock_name);
    if (!held.valid()) return KAY_WAIT_FAILED;
    kay_file_status st;
    if (!kay_sys.stat_lock(held, &st) || st.kind != KAY_NODE_FILE || st.owner != kay_sys.user_id()) {
        kay_sys.close_lock(held);
        return KAY_WAIT_FAILED;
    }
    kay_wait_result rc = wait_for(held, timeout_ms);
    if (rc != KAY_WAIT_DONE) {
        kay_sys.close_lock(held);
        return rc;
    }
    *lock = held;
    return KAY_WAIT_DONE;
}
