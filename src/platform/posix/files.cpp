// Files and directories on POSIX. Handles are descriptors + 1, so
// that 0 stays "none".
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/posix_internal.h"

namespace kay_posix {

static int fd_of(kay_file file) { return static_cast<int>(file.value - 1); }

kay_file open_read(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kay_file{};
    struct stat st;
    // Only regular files are read, as only they open for reading on Windows.
    bool stat_ok = fstat(fd, &st) == 0;
    if (!stat_ok || !S_ISREG(st.st_mode)) {
        int saved = !stat_ok ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        errno = saved;
        return kay_file{};
    }
    return kay_file{fd + 1};
}

std::uint32_t file_size(kay_file file) {
    struct stat st;
    if (fstat(fd_of(file), &st) != 0) return 0xFFFFFFFFu;
    // A 32-bit count, like GetFileSize without its high part; larger files
    // are not checked and will be rewritten.
    if (st.st_size < 0 || st.st_size >= 0xFFFFFFFFll) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(st.st_size);
}

std::uint32_t read_file(kay_file file, void* buffer, std::uint32_t capacity) {
    char* p = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < capacity) {
        ssize_t n = read(fd_of(file), p + done, capacity - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0xFFFFFFFFu;
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

kay_file open_write(const char* path) {
    current_umask();
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return kay_file{};
    return kay_file{fd + 1};
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
