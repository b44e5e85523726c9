// Collects the regular files of an application directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SourceFile {
    std::string path;     // on disk: root + '/' + relative path
    std::string rel;      // relative path with '/' (for messages)
    std::u16string name;  // entry name: UTF-16, '\' separators
    std::uint64_t size = 0;
};

// Every regular file under `root`, in no particular order. Symbolic links
// are refused unless `follow_symlinks`; devices, pipes and sockets always
// are. Names that the launcher would not accept are refused too. The
// folders below `root` with no file in them (relative, sorted) go to
// `empty_dirs`: a payload holds files only.
std::vector<SourceFile> scan_tree(const std::string& root, bool follow_symlinks, std::vector<std::string>& empty_dirs);

// The entry name for a relative path with '/' separators; fails with a
// message naming `what` when it cannot be one.
std::u16string entry_name_for(const std::string& rel, const std::string& what);
