// The target walk: which folders on the way to a target directory another
// user could change, through the raw calls stat_path, create_directory and
// read_link.
#include <cstring>

#include "common/bounded.h"
#include "platform/safe_files.h"

bool kay_trusted_owner(std::uint32_t owner) { return owner == 0 || owner == kay_sys.user_id(); }

// The verdict on one existing folder met by the walk (`last`: the target
// folder itself).
static kay_target_verdict folder_verdict(const kay_file_status& st, bool last) {
    if (!kay_trusted_owner(st.owner)) return KAY_TARGET_FOREIGN;
    if ((st.mode & KAY_MODE_OTHERS_WRITE) == 0) return KAY_TARGET_SAFE;
    if (last) return KAY_TARGET_SHARED;
    if ((st.mode & KAY_MODE_STICKY) == 0) return KAY_TARGET_NOT_STICKY;
    return st.owner == 0 ? KAY_TARGET_SAFE : KAY_TARGET_NOT_ROOTS;
}

static kay_target_verdict refuse(kay_target_verdict v, kchar* at, std::uint32_t capacity, const kchar* path) {
    std::uint32_t n = kay_strlen(path);
    if (n >= capacity) n = capacity - 1;
    std::memcpy(at, path, n * sizeof(kchar));
    at[n] = 0;
    return v;
}

// The walk keeps the folder reached so far in `done` (empty: the root) and
// the components still to walk in `rest`; a symlink's text replaces it in
// `rest`, restarting from the root when absolute.
kay_target_verdict kay_check_target(const kchar* dir, kchar* at, std::uint32_t capacity) {
    constexpr std::uint32_t CAP = 8192;
    static kchar done[CAP], rest[CAP], link[CAP], next[CAP], path[CAP];
    std::uint32_t dir_len = kay_strlen(dir);
    if (dir[0] != '/' || dir_len >= CAP) return KAY_TARGET_SAFE;
    std::memcpy(rest, dir, (dir_len + 1) * sizeof(kchar));
    done[0] = 0;
    kay_file_status st;
    if (!kay_sys.stat_path(KT("/"), &st)) return KAY_TARGET_SAFE;
    kay_target_verdict v = folder_verdict(st, false);
    if (v != KAY_TARGET_SAFE) return refuse(v, at, capacity, KT("/"));
    int links = 0;
    const kchar* p = rest;
    for (;;) {
        while (*p == '/') p++;
        if (*p == 0) return KAY_TARGET_SAFE;
        const kchar* end = p;
        while (*end != 0 && *end != '/') end++;
        std::uint32_t len = static_cast<std::uint32_t>(end - p);
        if (len == 1 && p[0] == '.') {
            p = end;
            continue;
        }
        if (len == 2 && p[0] == '.' && p[1] == '.') {
            std::uint32_t d = kay_strlen(done);
            while (d > 0 && done[d - 1] != '/') d--;
            if (d > 0) done[d - 1] = 0;
            p = end;
            continue;
        }
        std::uint32_t d = kay_strlen(done);
        if (d + 1 + len >= CAP) return KAY_TARGET_SAFE;
        std::memcpy(path, done, d * sizeof(kchar));
        path[d] = '/';
        std::memcpy(path + d + 1, p, len * sizeof(kchar));
        path[d + 1 + len] = 0;
        const kchar* after = end;
        while (*after == '/') after++;
        bool last = *after == 0;

        if (!kay_sys.stat_path(path, &st)) {
            // Missing (or not to be looked at): made here, so it is the
            // launcher's own; one that another process made first is
            // looked at again. One that cannot be made ends the walk.
            if (kay_sys.create_directory(path, KAY_MODE_FOLDER) == KAY_MKDIR_FAILED) return KAY_TARGET_SAFE;
            if (!kay_sys.stat_path(path, &st)) return KAY_TARGET_SAFE;
        }
        if (st.kind == KAY_NODE_LINK) {
            if (!kay_trusted_owner(st.owner)) return refuse(KAY_TARGET_FOREIGN, at, capacity, path);
            std::uint32_t n = kay_sys.read_link(path, link, CAP - 1);
            if (n == 0 || ++links > 40) return KAY_TARGET_SAFE;
            link[n] = 0;
            std::uint32_t tail = kay_strlen(end);
            if (n + 1 + tail >= CAP) return KAY_TARGET_SAFE;
            std::memcpy(next, link, n * sizeof(kchar));
            next[n] = '/';
            std::memcpy(next + n + 1, end, (tail + 1) * sizeof(kchar));
            std::memcpy(rest, next, (n + 2 + tail) * sizeof(kchar));
            p = rest;
            if (link[0] == '/') done[0] = 0;
            continue;
        }
        if (st.kind != KAY_NODE_FOLDER) return KAY_TARGET_SAFE;
        v = folder_verdict(st, last);
        if (v != KAY_TARGET_SAFE) return refuse(v, at, capacity, path);
        std::memcpy(done, path, (d + 2 + len) * sizeof(kchar));
        p = end;
    }
}
