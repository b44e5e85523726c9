// The running program's own file: the data block is appended to it, and the
// own path must name it. /proc/self/exe is that file where /proc is mounted.
// Without /proc (a container or chroot that does not mount it) the path the
// launcher was executed by is opened instead, and taken only when the file
// there holds the program this process runs (not one put there since).
#include <fcntl.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix/posix_internal.h"

namespace kay_posix {

struct loaded_program {
    std::uintptr_t base = 0;
    const ElfW(Phdr)* headers = nullptr;
    std::size_t count = 0;
};

// The main program is the first object visited.
static int first_object(struct dl_phdr_info* info, size_t, void* data) {
    *static_cast<loaded_program*>(data) = {info->dlpi_addr, info->dlpi_phdr, info->dlpi_phnum};
    return 1;
}

// Compared by hand, unseen by the address sanitizer: the padding it puts
// around constants lies in the read-only segments, and reading it counts
// as an overflow there although the file holds the same bytes.
__attribute__((no_sanitize("address"))) static bool same_bytes(const unsigned char* a, const unsigned char* b,
                                                              std::size_t n) {
    for (std::size_t i = 0; i < n; i++) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// Whether the file bytes `view` hold the running program: each of its
// loaded read-only segments (headers, code, constants) is in memory exactly
// as the file has it at its offset. The writable ones were relocated since
// and say nothing. Two launchers made from one prebuilt program pass alike;
// their data blocks are checked as any block is.
static bool holds_running_program(const unsigned char* view, std::size_t size) {
    loaded_program program;
    dl_iterate_phdr(first_object, &program);
    std::size_t compared = 0;
    for (std::size_t i = 0; i < program.count; i++) {
        const ElfW(Phdr)& segment = program.headers[i];
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W) != 0 || segment.p_filesz == 0) continue;
        if (segment.p_offset > size || segment.p_filesz > size - segment.p_offset) return false;
        const unsigned char* loaded = reinterpret_cast<const unsigned char*>(program.base + segment.p_vaddr);
        if (!same_bytes(view + segment.p_offset, loaded, segment.p_filesz)) return false;
        compared++;
    }
    return compared > 0;
}

const char* executed_name() { return reinterpret_cast<const char*>(getauxval(AT_EXECFN)); }

// The whole regular file of `fd`, mapped read-only, and its status.
static void* map_whole(int fd, std::size_t* size, struct stat* status) {
    void* view = MAP_FAILED;
    if (fstat(fd, status) == 0) {
        *size = static_cast<std::size_t>(status->st_size);
        if (S_ISREG(status->st_mode) && status->st_size > 0) view = mmap(nullptr, *size, PROT_READ, MAP_PRIVATE, fd, 0);
        else errno = ENOEXEC;
    }
    int saved = errno;
    close(fd);
    errno = saved;
    return view;
}

void* map_running_image(std::size_t* size, struct stat* status) {
    int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return map_whole(fd, size, status);
    // The executed path as the system resolved it at the start: relative
    // to the current directory, which is still the start directory, and
    // through links as they are (a folded "link/.." would be another file);
    // a FIFO put there is not waited on.
    const char* executed = executed_name();
    fd = executed != nullptr && executed[0] != 0 ? open(executed, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0) return MAP_FAILED;
    void* view = map_whole(fd, size, status);
    if (view == MAP_FAILED || holds_running_program(static_cast<const unsigned char*>(view), *size)) return view;
    munmap(view, *size);
    // The running program's file is no longer at the path it was started by.
    errno = ENOENT;
    return MAP_FAILED;
}

bool is_running_image(const char* path) {
    struct stat named, running;
    if (stat(path, &named) != 0) return false;
    if (stat("/proc/self/exe", &running) != 0) {
        std::size_t size = 0;
        void* view = map_running_image(&size, &running);
        if (view == MAP_FAILED) return false;
        munmap(view, size);
    }
    return named.st_dev == running.st_dev && named.st_ino == running.st_ino;
}

}  // namespace kay_posix
