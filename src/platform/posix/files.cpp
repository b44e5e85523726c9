// Files and directories on POSIX. Handles are descriptors + 1, so
// that 0 stays "none".
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "platform/posix/posix_internal.h"

namespace kay_posix {

static int fd_of(kay_file file) { return static_cast<int>(file.value - 1); }

// The owners whose files open_read opens: the user and root.
static bool trusted_owner(uid_t uid) { return uid == 0 || uid == geteuid(); }

// No symlink is followed at `path`, and a FIFO does not block the open.
kay_file open_read(const char* path) {
    int at;
    const char* name;
    if (!at_below(path, &at, &name)) return kay_file{};
    int fd = openat(at, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
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

kay_file open_file(const char* path, unsigned flags) {
    int how = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    if (flags & KAY_OPEN_FOLDER) how |= O_RDONLY | O_DIRECTORY;
    else if (flags & KAY_OPEN_WRITE) how |= O_WRONLY;
    else how |= O_RDONLY;
    if (flags & KAY_OPEN_CREATE) {
        how |= O_CREAT;
        current_umask();
    }
    int at;
    const char* name;
    if (!at_below(path, &at, &name)) return kay_file{};
    int fd = openat(at, name, how, 0644);
    return fd < 0 ? kay_file{} : kay_file{fd + 1};
}

static void status_of(const struct stat& st, kay_file_status* status) {
    status->kind = S_ISREG(st.st_mode)   ? KAY_NODE_FILE
                   : S_ISDIR(st.st_mode) ? KAY_NODE_FOLDER
                   : S_ISLNK(st.st_mode) ? KAY_NODE_LINK
                                         : KAY_NODE_OTHER;
    status->owner = static_cast<std::uint32_t>(st.st_uid);
    status->mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    status->size = st.st_size < 0 ? 0 : static_cast<std::uint64_t>(st.st_size);
    status->mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    status->ctime_ns = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    status->device = static_cast<std::uint64_t>(st.st_dev);
    status->inode = static_cast<std::uint64_t>(st.st_ino);
    status->links = static_cast<std::uint32_t>(st.st_nlink);
}

bool stat_file(kay_file file, kay_file_status* status) {
    struct stat st;
    if (fstat(fd_of(file), &st) != 0) return false;
    status_of(st, status);
    return true;
}

bool stat_path(const char* path, kay_file_status* status) {
    int at;
    const char* name;
    struct stat st;
    if (!at_below(path, &at, &name) || fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    status_of(st, status);
    return true;
}

bool stat_entry(const char* path, kay_file_status* status) { return stat_path(path, status); }

bool rename_file(const char* from, const char* to) {
    int from_at, to_at;
    const char* from_name;
    const char* to_name;
    if (!at_below(from, &from_at, &from_name)) return false;
    // The folder at_below keeps may change with the next path.
    int kept = from_at == AT_FDCWD ? AT_FDCWD : dup(from_at);
    bool renamed = kept != -1 && at_below(to, &to_at, &to_name) && renameat(kept, from_name, to_at, to_name) == 0;
    int error = errno;
    if (kept >= 0) close(kept);
    forget_folder();
    errno = error;
    return renamed;
}

std::uint32_t read_link(const char* path, char* out, std::uint32_t capacity) {
    int at;
    const char* name;
    if (!at_below(path, &at, &name)) return 0;
    ssize_t n = readlinkat(at, name, out, capacity);
    return n <= 0 || static_cast<std::uint32_t>(n) >= capacity ? 0 : static_cast<std::uint32_t>(n);
}

bool remove_file(const char* path) {
    int at;
    const char* name;
    if (!at_below(path, &at, &name)) return false;
    bool removed = unlinkat(at, name, 0) == 0;
    forget_folder();
    return removed;
}

kay_wait_result lock_file(kay_file file, bool exclusive) {
    int rc;
    do rc = flock(fd_of(file), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) return KAY_WAIT_DONE;
    return errno == EWOULDBLOCK ? KAY_WAIT_TIMEOUT : KAY_WAIT_FAILED;
}

bool touch_file(kay_file file) { return futimens(fd_of(file), nullptr) == 0; }

bool list_folder(const char* path, kay_name_visitor visit, void* arg) {
    int at;
    const char* name;
    if (!at_below(path, &at, &name)) return false;
    // The confined folder itself, or one outside it, is reached as it is.
    int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (at == AT_FDCWD ? 0 : O_NOFOLLOW));
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0) close(fd);
        return false;
    }
    while (const struct dirent* e = readdir(dir))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) visit(arg, e->d_name);
    closedir(dir);
    return true;
}

bool remove_folder(const char* path) {
    int at;
    const char* name;
    if (!at_below(path, &at, &name)) return false;
    bool removed = unlinkat(at, name, AT_REMOVEDIR) == 0;
    forget_folder();
    return removed;
}

bool truncate_file(kay_file file) { return ftruncate(fd_of(file), 0) == 0; }

std::uint32_t user_id() { return static_cast<std::uint32_t>(geteuid()); }

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

kay_mkdir_result create_directory(const char* path, std::uint32_t mode) {
    int at;
    const char* name;
    if (!at_below(path, &at, &name)) return KAY_MKDIR_FAILED;
    if (mkdirat(at, name, static_cast<mode_t>(mode)) == 0) return KAY_MKDIR_CREATED;
    return errno == EEXIST ? KAY_MKDIR_EXISTS : KAY_MKDIR_FAILED;
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
