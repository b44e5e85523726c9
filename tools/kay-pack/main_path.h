// The main program named by --main, shared by create and build.
#pragma once

#include <string>

// The main program's relative path in normal form ("a/b"), checked to be a
// regular file inside the application directory `root` (through a symbolic
// link only when `follow`); fails with a message naming --main otherwise.
std::string resolve_main(const std::string& root, const std::string& main_arg, bool follow);
