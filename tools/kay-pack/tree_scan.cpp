#include "tree_scan.h"

#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <utility>

#include "fail.h"
#include "names.h"

namespace {

struct Scan {
    bool follow;
    std::vector<SourceFile> files;
    std::set<std::pair<dev_t, ino_t>> open_dirs;  // the directories being walked, for link loops
};

}  // namespace

static const char* kind_of(mode_t mode) {
    if (S_ISCHR(mode)) return "character device";
    if (S_ISBLK(mode)) return "block device";
    if (S_ISFIFO(mode)) return "named pipe";
    if (S_ISSOCK(mode)) return "socket";
    return "special file";
}

std::u16string entry_name_for(const std::string& rel, const std::string& what) {
    std::u16string name;
    if (!utf8_to_utf16(rel, name)) fail(quoted(what) + ": file name is not valid UTF-8");
    for (char16_t& c : name) {
        if (c == u'\\') fail(quoted(what) + ": file name contains a backslash");
        if (c == u'/') c = u'\\';
    }
    if (const char* problem = name_problem(name)) fail(quoted(what) + ": unusable entry name: " + problem);
    return name;
}

static void scan_dir(Scan& scan, const std::string& dir, const std::string& rel_dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) fail_errno("cannot read directory " + quoted(dir));
    std::vector<std::string> children;
    while (dirent* e = readdir(d)) {
        std::string child = e->d_name;
        if (child != "." && child != "..") children.push_back(child);
    }
    closedir(d);
    for (const std::string& child : children) {
        std::string path = dir + "/" + child;
        std::string rel = rel_dir.empty() ? child : rel_dir + "/" + child;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) fail_errno("cannot examine " + quoted(path));
        if (S_ISLNK(st.st_mode)) {
            if (!scan.follow)
                fail(quoted(path) + ": symbolic link (pass --follow-symlinks to pack what it points to)");
            if (stat(path.c_str(), &st) != 0) fail_errno("cannot follow symbolic link " + quoted(path));
        }
        if (S_ISDIR(st.st_mode)) {
            auto key = std::make_pair(st.st_dev, st.st_ino);
            if (scan.open_dirs.count(key) != 0) fail(quoted(path) + ": symbolic link loop");
            scan.open_dirs.insert(key);
            scan_dir(scan, path, rel);
            scan.open_dirs.erase(key);
        } else if (S_ISREG(st.st_mode)) {
            SourceFile file;
            file.name = entry_name_for(rel, path);
            file.path = path;
            file.rel = rel;
            file.size = static_cast<std::uint64_t>(st.st_size);
            scan.files.push_back(std::move(file));
        } else {
            fail(quoted(path) + ": " + kind_of(st.st_mode) + " (only regular files can be packed)");
        }
    }
}

std::vector<SourceFile> scan_tree(const std::string& root, bool follow_symlinks) {
    Scan scan;
    scan.follow = follow_symlinks;
    struct stat st;
    if (stat(root.c_str(), &st) != 0) fail_errno("application directory " + quoted(root));
    if (!S_ISDIR(st.st_mode)) fail("application directory " + quoted(root) + ": not a directory");
    scan.open_dirs.insert({st.st_dev, st.st_ino});
    scan_dir(scan, root, "");
    return scan.files;
}
