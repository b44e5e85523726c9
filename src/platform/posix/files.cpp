// Files, mappings and directories on POSIX. Handles are descriptors + 1, so
// that 0 stays "none".
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
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

// The mapped range being checked. A file cut short by another process while
// it is mapped makes reads beyond its new end raise SIGBUS; the handler puts
// a page of zeros there instead, so the check merely sees other content (and
// the file is rewritten) rather than the launcher dying.
static volatile std::uintptr_t g_map_begin;
static volatile std::uintptr_t g_map_end;

static void on_bus_error(int sig, siginfo_t* info, void*) {
    std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (addr >= g_map_begin && addr < g_map_end) {
        std::uintptr_t page = addr & ~static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE) - 1);
        void* p = mmap(reinterpret_cast<void*>(page), static_cast<size_t>(sysconf(_SC_PAGESIZE)), PROT_READ,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (p != MAP_FAILED) return;
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

static void guard_bus_errors() {
    static bool installed = false;
    if (installed) return;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = on_bus_error;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    installed = sigaction(SIGBUS, &sa, nullptr) == 0;
}

// The mapping is the mapped address itself; the view returns it.
kay_mapping map_file(kay_file file, std::uint32_t size) {
    if (size == 0) {
        errno = EINVAL;
        return kay_mapping{};
    }
    guard_bus_errors();
    void* p = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd_of(file), 0);
    if (p == MAP_FAILED) return kay_mapping{};
    g_map_begin = reinterpret_cast<std::uintptr_t>(p);
    g_map_end = g_map_begin + size;
    return kay_mapping{reinterpret_cast<std::intptr_t>(p)};
}

const void* map_view(kay_mapping mapping) { return reinterpret_cast<const void*>(mapping.value); }

void unmap_view(const void* view, std::uint32_t size) {
    g_map_begin = 0;
    g_map_end = 0;
    munmap(const_cast<void*>(view), size);
}

void close_mapping(kay_mapping mapping) { (void)mapping; }

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
