#include "main_path.h"

#include <algorithm>
#include <filesystem>

#include "fail.h"
#include "host.h"

namespace fs = std::filesystem;

std::string resolve_main(const std::string& root, const std::string& main_arg, bool follow) {
    std::string what = "--main " + ::quoted(main_arg);
    // Either separator: the same command line works on Linux and Windows.
    std::string arg = main_arg;
    std::replace(arg.begin(), arg.end(), '\\', '/');
    bool drive = arg.size() >= 2 && arg[1] == ':';
    if (arg.empty() || arg[0] == '/' || drive) fail(what + ": must be a path relative to the application directory");
    std::string rel;
    std::size_t start = 0;
    while (start <= arg.size()) {
        std::size_t end = std::min(arg.find('/', start), arg.size());
        std::string part = arg.substr(start, end - start);
        if (part == "..") fail(what + ": must not leave the application directory");
        if (!part.empty() && part != ".") rel += (rel.empty() ? "" : "/") + part;
        start = end + 1;
    }
    if (rel.empty()) fail(what + ": not a file");
    std::string path = root + "/" + rel;
    std::error_code ec;
    fs::file_status st = fs::symlink_status(fs_path(path), ec);
    if (ec || !fs::exists(st)) {
        if (!ec || ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory)
            fail(what + ": no such file in " + ::quoted(root));
        fail(what + ": " + error_text(ec));
    }
    if (fs::is_symlink(st) && follow) {
        st = fs::status(fs_path(path), ec);
        if (ec) fail(what + ": " + error_text(ec));
    }
    if (!fs::is_regular_file(st)) fail(what + ": not a regular file");
    return rel;
}
