// An in-memory system behind the seam, for unit and fuzz tests in one
// process: environment, process id, the launcher's own path, the user's
// folders, clocks, and a file tree with owners, modes and links, so that a
// hostile file system (a symlink where a folder should be, a folder of
// another user, a world-writable folder) needs no root. install() puts its
// calls into kay_sys; kay_sys_restore_all() takes them out again.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace kay_test {

struct FakeNode {
    kay_node_kind kind = KAY_NODE_FOLDER;
    std::uint32_t owner = 1000;
    std::uint32_t mode = 0755;
    std::string link;  // a link's text
    std::string content;
};

struct FakeSystem {
    std::map<std::string, std::string> env;
    std::uint32_t pid = 777;
    // As GetModuleFileName: cut short to the room, unterminated, and the
    // room's size returned when it does not fit.
    std::optional<std::string> module_path;
    std::optional<std::string> temp, home, cache;
    std::uint64_t time = 0, counter = 0;
    std::uint32_t user = 1000;
    // Full path -> what is there; "/" is a folder of root.
    std::map<std::string, FakeNode> files{{"/", FakeNode{KAY_NODE_FOLDER, 0, 0755, "", ""}}};
    std::uint32_t error = 0;  // what last_error returns

    // Puts the calls of this system into kay_sys (the file calls only when
    // `with_files`: the other tests use the real disk).
    void install(bool with_files = false);
};

// The system that install() puts in place.
extern FakeSystem* g_fake;

}  // namespace kay_test
