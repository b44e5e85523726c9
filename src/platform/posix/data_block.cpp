// The prebuilt launcher's data block on POSIX: appended to the program file,
// which is mapped read-only for the whole run (running_image.cpp finds it).
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/posix/posix_internal.h"

// The mapping made below; release_data_block touches nothing else.
static const unsigned char* g_view;
static std::size_t g_view_size;

namespace kay_posix {

bool locate_data_block(const unsigned char** data, std::size_t* size) {
    struct stat status;
    void* view = map_running_image(size, &status);
    if (view == MAP_FAILED) return false;
    *data = g_view = static_cast<const unsigned char*>(view);
    g_view_size = *size;
    return true;
}

void release_data_block(const unsigned char* from, std::size_t size) {
    if (g_view == nullptr || from < g_view || size > g_view_size - static_cast<std::size_t>(from - g_view)) return;
    std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(from) + page - 1) & ~(page - 1);
    std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(from) + size) & ~(page - 1);
    if (start >= end) return;
    // A private read-only mapping of the file: dropped pages read back from it.
    int saved = errno;
    madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
    errno = saved;
}

}  // namespace kay_posix
