// Files and directories on POSIX. Handles are descriptors + 1, so
// that 0 stays "none".
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "platform/posix/posix_internal.h"

namespace kay_posix {

static int fd_of(kay_file file) { return static_cast<int>(file.value - 1); }

// The owners whose files and folders the launcher trusts: the user and root.
static bool trusted_owner(uid_t uid) { return uid == 0 || uid == geteuid(); }

// No symlink is followed at `path`, and a FIFO does not block the open.
kay_file open_read(const char* path) {
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kay_file{};
    struct stat st;
    bool stat_ok = fstat(fd, &st) == 0;
    if (!stat_ok || !S_ISREG(st.st_mode) || !trusted_owner(st.st_uid)) {
        int saved = !stat_ok ? errno : S_ISDIR(st.st_mode) ? EISDIR : S_ISREG(st.st_mode) ? EACCES : EINVAL;
        close(fd);
        errno = saved;
        return kay_file{};
    }
    return kay_file{fd + 1};
}

std::uint64_t file_size(kay_file file) {
    struct stat st;
    if (fstat(fd_of(file), &st) != 0 || st.st_size < 0) return KAY_NO_SIZE;
    return static_cast<std::uint64_t>(st.st_size);
}

bool file_executable(kay_file file) {
    struct stat st;
    return fstat(fd_of(file), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
}

std::uint32_t read_file(kay_file file, void* buffer, std::uint32_t capacity) {
    char* p = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < capacity) {
        ssize_t n = read(fd_of(file), p + done, capacity - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return KAY_READ_FAILED;
        }
        if (n == 0) break;
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

static mode_t current_umask() {
    static mode_t mask = static_cast<mode_t>(-1);
    if (mask == static_cast<mode_t>(-1)) {
        mask = umask(022);
        umask(mask);
    }
    return mask;
}

// Whatever is at `path` and is not a regular file of a trusted owner is
// removed and a new file made in its place: a symlink is never written
// through, a FIFO never blocks the open, a device is never written to.
kay_file open_write(const char* path) {
    current_umask();
    for (int attempt = 0; attempt < 3; attempt++) {
        int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) {
            // ELOOP: a symlink; ENXIO: a FIFO without reader or a socket.
            if ((errno == ELOOP || errno == ENXIO) && unlink(path) == 0) continue;
            return kay_file{};
        }
        struct stat st;
        if (fstat(fd, &st) != 0) {
            int saved = errno;
            close(fd);
            errno = saved;
            return kay_file{};
        }
        if (S_ISREG(st.st_mode) && trusted_owner(st.st_uid)) {
            // A file just made is empty already. Truncating it anyway would
            // make ext4 start writing it back at close, as it does for
            // files replaced by truncation, which slows a cold start.
            if (st.st_size != 0 && ftruncate(fd, 0) != 0) {
                int saved = errno;
                close(fd);
                errno = saved;
                return kay_file{};
            }
            return kay_file{fd + 1};
        }
        close(fd);
        if (unlink(path) != 0) return kay_file{};
    }
    errno = EEXIST;
    return kay_file{};
}

void mark_executable(kay_file file, bool executable) {
    fchmod(fd_of(file), (executable ? 0755 : 0644) & ~current_umask());
}

bool write_file(kay_file file, const void* data, std::uint32_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd_of(file), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<std::uint32_t>(n);
    }
    return true;
}

void close_file(kay_file file) { close(fd_of(file)); }

kay_mkdir_result create_directory(const char* path) {
    if (mkdir(path, 0777) == 0) return KAY_MKDIR_CREATED;
    return errno == EEXIST ? KAY_MKDIR_EXISTS : KAY_MKDIR_FAILED;
}

// The verdict on one existing folder met by the walk (`last`: the target
// folder itself).
static kay_target_verdict folder_verdict(const struct stat& st, bool last) {
    if (!trusted_owner(st.st_uid)) return KAY_TARGET_FOREIGN;
    if ((st.st_mode & S_IWOTH) == 0) return KAY_TARGET_SAFE;
    if (last) return KAY_TARGET_SHARED;
    if ((st.st_mode & S_ISVTX) == 0) return KAY_TARGET_NOT_STICKY;
    return st.st_uid == 0 ? KAY_TARGET_SAFE : KAY_TARGET_NOT_ROOTS;
}

static void copy_out(char* at, std::uint32_t capacity, const char* path) {
    size_t n = strlen(path);
    if (n >= capacity) n = capacity - 1;
    memcpy(at, path, n);
    at[n] = 0;
}

// The walk keeps the folder reached so far in `done` (empty: the root) and
// the components still to walk in `rest`; a symlink's text replaces it in
// `rest`, restarting from the root when absolute.
kay_target_verdict check_target(const char* dir, char* at, std::uint32_t capacity) {
    constexpr size_t CAP = 8192;
    char done[CAP], rest[CAP], link[CAP], next[CAP];
    if (strlen(dir) >= CAP) return KAY_TARGET_SAFE;
    strcpy(rest, dir);
    done[0] = 0;
    struct stat st;
    if (lstat("/", &st) != 0) return KAY_TARGET_SAFE;
    kay_target_verdict v = folder_verdict(st, false);
    if (v != KAY_TARGET_SAFE) {
        copy_out(at, capacity, "/");
        return v;
    }
    int links = 0;
    const char* p = rest;
    for (;;) {
        while (*p == '/') p++;
        if (*p == 0) return KAY_TARGET_SAFE;
        const char* end = strchrnul(p, '/');
        size_t len = static_cast<size_t>(end - p);
        if (len == 1 && p[0] == '.') {
            p = end;
            continue;
        }
        if (len == 2 && p[0] == '.' && p[1] == '.') {
            char* slash = strrchr(done, '/');
            if (slash != nullptr) *slash = 0;
            p = end;
            continue;
        }
        size_t d = strlen(done);
        if (d + 1 + len >= CAP) return KAY_TARGET_SAFE;
        char path[CAP];
        memcpy(path, done, d);
        path[d] = '/';
        memcpy(path + d + 1, p, len);
        path[d + 1 + len] = 0;
        const char* after = end;
        while (*after == '/') after++;
        bool last = *after == 0;

        if (lstat(path, &st) != 0) {
            if (errno != ENOENT) return KAY_TARGET_SAFE;
            // Missing: made here, so it is the launcher's own; one that
            // another process made first is looked at again.
            if (mkdir(path, 0777) != 0 && errno != EEXIST) return KAY_TARGET_SAFE;
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            if (!trusted_owner(st.st_uid)) {
                copy_out(at, capacity, path);
                return KAY_TARGET_FOREIGN;
            }
            ssize_t n = readlink(path, link, CAP - 1);
            if (n <= 0 || ++links > 40) return KAY_TARGET_SAFE;
            link[n] = 0;
            if (static_cast<size_t>(n) + 1 + strlen(end) >= CAP) return KAY_TARGET_SAFE;
            strcpy(next, link);
            strcat(next, "/");
            strcat(next, end);
            strcpy(rest, next);
            p = rest;
            if (link[0] == '/') done[0] = 0;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) return KAY_TARGET_SAFE;
        v = folder_verdict(st, last);
        if (v != KAY_TARGET_SAFE) {
            copy_out(at, capacity, path);
            return v;
        }
        strcpy(done, path);
        p = end;
    }
}

std::uint32_t last_error() { return static_cast<std::uint32_t>(errno); }

void set_last_error(std::uint32_t code) { errno = static_cast<int>(code); }

std::uint32_t error_text(std::uint32_t code, char* out, std::uint32_t capacity) {
    const char* text = strerror(static_cast<int>(code));
    size_t n = strlen(text);
    if (n >= capacity) n = capacity - 1;
    memcpy(out, text, n);
    out[n] = 0;
    return static_cast<std::uint32_t>(n);
}

}  // namespace kay_posix
