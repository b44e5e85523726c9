#include "main_path.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

#include "fail.h"

std::string resolve_main(const std::string& root, const std::string& main_arg, bool follow) {
    std::string what = "--main " + quoted(main_arg);
    if (main_arg.empty() || main_arg[0] == '/') fail(what + ": must be a path relative to the application directory");
    std::string rel;
    std::size_t start = 0;
    while (start <= main_arg.size()) {
        std::size_t end = std::min(main_arg.find('/', start), main_arg.size());
        std::string part = main_arg.substr(start, end - start);
        if (part == "..") fail(what + ": must not leave the application directory");
        if (!part.empty() && part != ".") rel += (rel.empty() ? "" : "/") + part;
        start = end + 1;
    }
    if (rel.empty()) fail(what + ": not a file");
    std::string path = root + "/" + rel;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) fail(what + ": no such file in " + quoted(root));
        fail_errno(what);
    }
    if (S_ISLNK(st.st_mode) && follow && stat(path.c_str(), &st) != 0) fail_errno(what);
    if (!S_ISREG(st.st_mode)) fail(what + ": not a regular file");
    return rel;
}
