// Opening a file for writing without ever writing through what another
// user put in its place, through the raw calls open_file, stat_file,
// stat_path, remove_file and truncate_file.
#include "platform/safe_files.h"

static kay_file give_up(kay_file file) {
    std::uint32_t error = kay_sys.last_error();
    kay_sys.close_file(file);
    kay_sys.set_last_error(error);
    return kay_file{};
}

// Whether what is at `path` (that could not be opened) is to be removed: a
// symlink, FIFO, socket or device, or a file the user may not write to (of
// root's, another user's, or read-only), which the user may still remove
// from a folder of the user's own. The open's error is kept.
static bool in_the_way(const kchar* path) {
    std::uint32_t error = kay_sys.last_error();
    kay_file_status st;
    bool other = kay_sys.stat_path(path, &st) &&
                 (st.kind == KAY_NODE_LINK || st.kind == KAY_NODE_OTHER ||
                  (st.kind == KAY_NODE_FILE && error == KAY_ERROR_DENIED));
    kay_sys.set_last_error(error);
    return other;
}

kay_file kay_open_write(const kchar* path) {
    for (int attempt = 0; attempt < 3; attempt++) {
        kay_file file = kay_sys.open_file(path, KAY_OPEN_WRITE | KAY_OPEN_CREATE);
        if (!file.valid()) {
            if (in_the_way(path) && kay_sys.remove_file(path)) continue;
            return kay_file{};
        }
        kay_file_status st;
        if (!kay_sys.stat_file(file, &st)) return give_up(file);
        if (st.kind == KAY_NODE_FILE && kay_trusted_owner(st.owner)) {
            // A file just made is empty already. Truncating it anyway would
            // make ext4 start writing it back at close, as it does for
            // files replaced by truncation, which slows a cold start.
            if (st.size != 0 && !kay_sys.truncate_file(file)) return give_up(file);
            return file;
        }
        kay_sys.close_file(file);
        if (!kay_sys.remove_file(path)) return kay_file{};
    }
    kay_sys.set_last_error(KAY_ERROR_EXISTS);
    return kay_file{};
}
