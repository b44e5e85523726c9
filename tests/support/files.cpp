// The tests run on Linux; Windows programs are run from there under Wine.
#ifndef _WIN32
#include "files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace kay_test {

Scratch::Scratch() {
    std::string base = (fs::temp_directory_path() / "kay-test-XXXXXX").string();
    if (mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = base;
}

Scratch::~Scratch() { remove_tree(path_); }

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& data) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void make_dirs(const std::string& path) { fs::create_directories(path); }

void remove_tree(const std::string& path) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path, ec);
}

std::map<std::string, std::string> files_of(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& [rel, state] : snapshot(dir)) {
        if (!state.directory) out[rel] = state.content;
    }
    return out;
}

// The launcher's own files in a target folder (its lock and state record),
// which no entry can be named like.
static bool launchers_own(const fs::path& p) {
    std::string name = p.filename().string();
    return name.rfind(".kay:", 0) == 0 || name.rfind(".kay-state", 0) == 0;
}

std::vector<std::string> list_dir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (!launchers_own(e.path())) names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, FileState> snapshot(const std::string& dir) {
    std::map<std::string, FileState> out;
    if (!fs::exists(dir)) return out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        struct stat st;
        if (launchers_own(e.path()) || lstat(e.path().c_str(), &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)))
            continue;
        FileState s;
        s.directory = S_ISDIR(st.st_mode);
        s.inode = st.st_ino;
        s.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        if (!s.directory) s.content = read_file(e.path());
        out[fs::relative(e.path(), dir).string()] = s;
    }
    return out;
}

}  // namespace kay_test
#endif
