#include "tree_scan.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

#include "fail.h"
#include "host.h"
#include "names.h"

namespace fs = std::filesystem;

namespace {

struct Scan {
    bool follow;
    std::vector<SourceFile> files;
    std::set<fs::path> open_dirs;  // the directories being walked (canonical), for link loops
    std::vector<std::string> empty_dirs;
};

}  // namespace

static const char* kind_of(fs::file_type type) {
    if (type == fs::file_type::character) return "character device";
    if (type == fs::file_type::block) return "block device";
    if (type == fs::file_type::fifo) return "named pipe";
    if (type == fs::file_type::socket) return "socket";
    return "special file";
}

std::u16string entry_name_for(const std::string& rel, const std::string& what) {
    std::u16string name;
    if (!utf8_to_utf16(rel, name)) fail(::quoted(what) + ": file name is not valid UTF-8");
    for (char16_t& c : name) {
        if (c == u'\\') fail(::quoted(what) + ": file name contains a backslash");
        if (c == u'/') c = u'\\';
    }
    if (const char* problem = name_problem(name)) fail(::quoted(what) + ": unusable entry name: " + problem);
    return name;
}

static fs::path canonical_dir(const std::string& path) {
    std::error_code ec;
    fs::path canonical = fs::canonical(fs_path(path), ec);
    if (ec) fail("cannot examine " + ::quoted(path) + ": " + error_text(ec));
    return canonical;
}

// Scans `dir`; a folder with no file below it is listed in empty_dirs.
static void scan_dir(Scan& scan, const std::string& dir, const std::string& rel_dir) {
    std::size_t files_before = scan.files.size();
    std::vector<std::string> children;
    std::error_code ec;
    for (fs::directory_iterator it(fs_path(dir), ec), end; !ec && it != end; it.increment(ec))
        children.push_back(utf8_path(it->path().filename()));
    if (ec) fail("cannot read directory " + ::quoted(dir) + ": " + error_text(ec));
    for (const std::string& child : children) {
        std::string path = dir + "/" + child;
        std::string rel = rel_dir.empty() ? child : rel_dir + "/" + child;
        fs::file_status st = fs::symlink_status(fs_path(path), ec);
        if (ec) fail("cannot examine " + ::quoted(path) + ": " + error_text(ec));
        if (fs::is_symlink(st)) {
            if (!scan.follow)
                fail(::quoted(path) + ": symbolic link (pass --follow-symlinks to pack what it points to)");
            st = fs::status(fs_path(path), ec);
            if (ec || !fs::exists(st)) {
                if (!ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
                fail("cannot follow symbolic link " + ::quoted(path) + ": " + error_text(ec));
            }
        }
        if (fs::is_directory(st)) {
            fs::path key = canonical_dir(path);
            if (scan.open_dirs.count(key) != 0) fail(::quoted(path) + ": symbolic link loop");
            scan.open_dirs.insert(key);
            scan_dir(scan, path, rel);
            scan.open_dirs.erase(key);
        } else if (fs::is_regular_file(st)) {
            SourceFile file;
            file.name = entry_name_for(rel, path);
            file.path = path;
            file.rel = rel;
            std::uintmax_t size = fs::file_size(fs_path(path), ec);
            if (ec) fail("cannot examine " + ::quoted(path) + ": " + error_text(ec));
            file.size = static_cast<std::uint64_t>(size);
            scan.files.push_back(std::move(file));
        } else {
            fail(::quoted(path) + ": " + kind_of(st.type()) + " (only regular files can be packed)");
        }
    }
    if (scan.files.size() == files_before && !rel_dir.empty()) scan.empty_dirs.push_back(rel_dir);
}

std::vector<SourceFile> scan_tree(const std::string& root, bool follow_symlinks, std::vector<std::string>& empty_dirs) {
    Scan scan;
    scan.follow = follow_symlinks;
    std::error_code ec;
    fs::file_status st = fs::status(fs_path(root), ec);
    if (ec) fail("application directory " + ::quoted(root) + ": " + error_text(ec));
    if (!fs::is_directory(st)) fail("application directory " + ::quoted(root) + ": not a directory");
    scan.open_dirs.insert(canonical_dir(root));
    scan_dir(scan, root, "");
    empty_dirs = std::move(scan.empty_dirs);
    std::sort(empty_dirs.begin(), empty_dirs.end());
    return scan.files;
}
