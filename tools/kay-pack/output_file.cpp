#include "output_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fail.h"

static unsigned current_umask() {
    mode_t mask = umask(022);
    umask(mask);
    return mask;
}

void output_open(OutputFile& file, const std::string& path) {
    file.path = path;
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") fail(quoted(path) + ": not a file name");
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) fail(quoted(path) + ": is a directory");
    std::string temp = dir + "." + base + ".kay-pack-XXXXXX";
    file.fd = mkstemp(temp.data());
    if (file.fd < 0) fail_errno("cannot create " + quoted(path));
    file.temp_path = temp;
    file.written = 0;
    set_pending_temp(temp);
}

void output_write(OutputFile& file, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(file.fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail_errno("cannot write " + quoted(file.path));
        p += n;
        size -= static_cast<std::size_t>(n);
        file.written += static_cast<std::uint64_t>(n);
    }
}

void output_commit(OutputFile& file, unsigned mode) {
    if (fchmod(file.fd, mode & ~current_umask() & 07777) != 0) fail_errno("cannot set mode of " + quoted(file.path));
    if (close(file.fd) != 0) {
        file.fd = -1;
        fail_errno("cannot write " + quoted(file.path));
    }
    file.fd = -1;
    if (rename(file.temp_path.c_str(), file.path.c_str()) != 0) fail_errno("cannot rename to " + quoted(file.path));
    clear_pending_temp();
}

void output_abandon(OutputFile& file) {
    if (file.fd >= 0) close(file.fd);
    file.fd = -1;
    if (!file.temp_path.empty()) unlink(file.temp_path.c_str());
    clear_pending_temp();
}
