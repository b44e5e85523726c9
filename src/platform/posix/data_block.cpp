// The prebuilt launcher's data block on POSIX: appended to the program file,
// which is mapped read-only for the whole run.
#include "platform/data_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

bool kay_locate_data_block(const unsigned char** data, std::size_t* size) {
    int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    void* view = MAP_FAILED;
    if (fstat(fd, &st) == 0 && st.st_size > 0)
        view = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (view == MAP_FAILED) return false;
    *data = static_cast<const unsigned char*>(view);
    *size = static_cast<std::size_t>(st.st_size);
    return true;
}
