// Paths below the target folder, resolved from a handle on it without
// following any symlink: a link put where a folder was makes the call fail
// (ELOOP) instead of leading it elsewhere, whatever is swapped in between.
#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "platform/posix/posix_internal.h"

namespace kay_posix {

constexpr size_t PATH_ROOM = 4096;

static int g_root_fd = -1;
static char g_root[PATH_ROOM];
static size_t g_root_len;
// The last folder resolved, relative to the root, for each thread (the
// warm check runs on several): files come folder by folder, so most calls
// find their folder here.
struct folder_slot {
    char rel[PATH_ROOM] = "";
    int fd = -1;
    ~folder_slot() {
        if (fd >= 0) close(fd);
    }
};
static thread_local folder_slot g_folder;
static std::atomic<bool> g_openat2_missing{false};

bool confine_below(const char* dir) {
    size_t n = strlen(dir);
    if (n == 0 || n >= PATH_ROOM) return false;
    // The target folder itself is reached as the target walk checked it.
    int fd = open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    if (g_root_fd >= 0) close(g_root_fd);
    forget_folder();
    g_root_fd = fd;
    memcpy(g_root, dir, n + 1);
    while (n > 1 && g_root[n - 1] == '/') g_root[--n] = 0;
    g_root_len = n;
    return true;
}

void forget_folder() {
    if (g_folder.fd >= 0) close(g_folder.fd);
    g_folder.fd = -1;
    g_folder.rel[0] = 0;
}

// One component after another, for kernels without openat2.
static int open_by_steps(const char* rel) {
    int fd = dup(g_root_fd);
    char step[PATH_ROOM];
    for (const char* p = rel; fd >= 0 && *p != 0;) {
        const char* end = strchr(p, '/');
        size_t len = end != nullptr ? static_cast<size_t>(end - p) : strlen(p);
        memcpy(step, p, len);
        step[len] = 0;
        int next = len == 0 ? dup(fd) : openat(fd, step, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        close(fd);
        fd = next;
        struct stat st;
        if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))) {
            int error = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
            close(fd);
            fd = -1;
            errno = error;
        }
        p += len;
        if (*p == '/') p++;
    }
    return fd;
}

static int open_folder(const char* rel) {
    if (!g_openat2_missing.load(std::memory_order_relaxed)) {
        struct open_how how{};
        how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_BENEATH;
        long fd = syscall(SYS_openat2, g_root_fd, rel, &how, sizeof how);
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM && errno != E2BIG && errno != EINVAL))
            return static_cast<int>(fd);
        g_openat2_missing.store(true, std::memory_order_relaxed);
    }
    return open_by_steps(rel);
}

bool at_below(const char* path, int* fd, const char** name) {
    *fd = AT_FDCWD;
    *name = path;
    if (g_root_fd < 0 || strncmp(path, g_root, g_root_len) != 0 || path[g_root_len] != '/' ||
        path[g_root_len + 1] == 0)
        return true;
    const char* rel = path + g_root_len + 1;
    const char* last = strrchr(rel, '/');
    *name = last != nullptr ? last + 1 : rel;
    if (last == nullptr) {
        *fd = g_root_fd;
        return true;
    }
    size_t len = static_cast<size_t>(last - rel);
    if (g_folder.fd < 0 || strlen(g_folder.rel) != len || memcmp(g_folder.rel, rel, len) != 0) {
        char folder[PATH_ROOM];
        memcpy(folder, rel, len);
        folder[len] = 0;
        int opened = open_folder(folder);
        if (opened < 0) return false;
        forget_folder();
        g_folder.fd = opened;
        memcpy(g_folder.rel, folder, len + 1);
    }
    *fd = g_folder.fd;
    return true;
}

}  // namespace kay_posix
