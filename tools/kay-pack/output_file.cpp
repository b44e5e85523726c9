#include "output_file.h"

#include <cerrno>
#include <filesystem>

#include "fail.h"
#include "host.h"

std::size_t last_separator(const std::string& path) {
#ifdef _WIN32
    return path.find_last_of("/\\");
#else
    return path.rfind('/');
#endif
}

void output_open(OutputFile& file, const std::string& path) {
    file.path = path;
    std::size_t slash = last_separator(path);
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") fail(::quoted(path) + ": not a file name");
    std::error_code ec;
    if (std::filesystem::is_directory(fs_path(path), ec)) fail(::quoted(path) + ": is a directory");
    std::string temp = dir + "." + base + ".kay-pack-XXXXXX";
    file.file = host_create_unique(temp);
    if (file.file == nullptr) fail_errno("cannot create " + ::quoted(path));
    file.temp_path = temp;
    file.written = 0;
    file.guard = guard_temp(temp);
}

void output_write(OutputFile& file, const void* data, std::size_t size) {
    if (size == 0) return;
    if (std::fwrite(data, 1, size, file.file) != size) fail_errno("cannot write " + ::quoted(file.path));
    file.written += size;
}

void output_commit(OutputFile& file, unsigned mode) {
    if (!host_set_mode(file.file, mode)) fail_errno("cannot set mode of " + ::quoted(file.path));
    int closed = std::fclose(file.file);
    file.file = nullptr;
    if (closed != 0) fail_errno("cannot write " + ::quoted(file.path));
    if (!host_rename(file.temp_path, file.path)) fail_errno("cannot rename to " + ::quoted(file.path));
    release_temp(file.guard);
    file.guard = -1;
}

void output_abandon(OutputFile& file) {
    if (file.file != nullptr) std::fclose(file.file);
    file.file = nullptr;
    if (!file.temp_path.empty()) host_remove(file.temp_path);
    release_temp(file.guard);
    file.guard = -1;
}
