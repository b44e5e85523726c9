#include "fake_system.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace kay_test {

FakeSystem* g_fake;

namespace {

std::uint32_t put(const std::string& text, kchar* out, std::uint32_t capacity) {
    std::uint32_t n = static_cast<std::uint32_t>(text.size());
    if (n >= capacity) return n + 1;
    std::memcpy(out, text.c_str(), n + 1);
    return n;
}

std::uint32_t get_env(const kchar* name, kchar* out, std::uint32_t capacity) {
    auto it = g_fake->env.find(name);
    return it == g_fake->env.end() ? 0 : put(it->second, out, capacity);
}

int set_env(const kchar* name, const kchar* value) {
    if (value == nullptr) g_fake->env.erase(name);
    else g_fake->env[name] = value;
    return 1;
}

std::uint32_t module_path(kchar* out, std::uint32_t capacity) {
    if (!g_fake->module_path) return 0;
    const std::string& p = *g_fake->module_path;
    if (p.size() < capacity) return put(p, out, capacity);
    std::memcpy(out, p.data(), capacity);
    return capacity;
}

std::uint32_t temp_path(kchar* out, std::uint32_t capacity) { return g_fake->temp ? put(*g_fake->temp, out, capacity) : 0; }

bool user_folder(kay_folder which, kchar* out, std::uint32_t capacity) {
    const auto& folder = which == KAY_FOLDER_HOME ? g_fake->home : g_fake->cache;
    return folder && !folder->empty() && put(*folder, out, capacity) < capacity;
}

// Open files: handle value -> path.
std::vector<std::string> g_open{""};

FakeNode* node(const std::string& path) {
    auto it = g_fake->files.find(path);
    return it == g_fake->files.end() ? nullptr : &it->second;
}

template <typename R>
R fail(int error, R result) {
    g_fake->error = static_cast<std::uint32_t>(error);
    return result;
}

bool stat_node(const FakeNode* n, kay_file_status* st) {
    if (n == nullptr) return fail(ENOENT, false);
    *st = {n->kind, n->owner, n->mode, n->content.size()};
    return true;
}

bool stat_path(const kchar* path, kay_file_status* st) { return stat_node(node(path), st); }
bool stat_file(kay_file file, kay_file_status* st) { return stat_node(node(g_open[file.value]), st); }

kay_mkdir_result create_directory(const kchar* path, std::uint32_t mode) {
    if (node(path) != nullptr) return fail(EEXIST, KAY_MKDIR_EXISTS);
    g_fake->files[path] = {KAY_NODE_FOLDER, g_fake->user, mode & ~022u, "", ""};  // umask 022
    return KAY_MKDIR_CREATED;
}

std::uint32_t read_link(const kchar* path, kchar* out, std::uint32_t capacity) {
    FakeNode* n = node(path);
    if (n == nullptr || n->kind != KAY_NODE_LINK || n->link.size() >= capacity) return fail(EINVAL, 0u);
    std::memcpy(out, n->link.data(), n->link.size());
    return static_cast<std::uint32_t>(n->link.size());
}

bool remove_file(const kchar* path) { return g_fake->files.erase(path) == 1 ? true : fail(ENOENT, false); }

// Never through a link; a file is written to as its mode allows (the
// owner's bits for the user's, the others' for anyone else's).
kay_file open_file(const kchar* path, unsigned flags) {
    FakeNode* n = node(path);
    if (n != nullptr && n->kind == KAY_NODE_LINK) return fail(ELOOP, kay_file{});
    if (n == nullptr && (flags & KAY_OPEN_CREATE) == 0) return fail(ENOENT, kay_file{});
    if (n != nullptr && (flags & KAY_OPEN_WRITE) && (n->mode & (n->owner == g_fake->user ? 0200 : 02)) == 0)
        return fail(EACCES, kay_file{});
    if (n == nullptr) g_fake->files[path] = {KAY_NODE_FILE, g_fake->user, 0644, "", ""};
    g_open.push_back(path);
    return kay_file{static_cast<std::intptr_t>(g_open.size() - 1)};
}

bool truncate_file(kay_file file) { return node(g_open[file.value])->content.clear(), true; }

bool write_file(kay_file file, const void* data, std::uint32_t size) {
    node(g_open[file.value])->content.append(static_cast<const char*>(data), size);
    return true;
}

void close_file(kay_file file) { g_open[file.value].clear(); }

}  // namespace

void FakeSystem::install(bool with_files) {
    g_fake = this;
    kay_sys.get_env = get_env;
    kay_sys.set_env = set_env;
    kay_sys.current_pid = [] { return g_fake->pid; };
    kay_sys.module_path = kay_test::module_path;
    kay_sys.temp_path = temp_path;
    kay_sys.user_folder = user_folder;
    kay_sys.system_time = [] { return g_fake->time; };
    kay_sys.perf_counter = [] { return g_fake->counter; };
    if (!with_files) return;
    kay_sys.user_id = [] { return g_fake->user; };
    kay_sys.last_error = [] { return g_fake->error; };
    kay_sys.set_last_error = [](std::uint32_t code) { g_fake->error = code; };
    kay_sys.stat_path = stat_path;
    kay_sys.confine_below = [](const kchar*) { return true; };
    kay_sys.stat_file = stat_file;
    kay_sys.create_directory = create_directory;
    kay_sys.read_link = read_link;
    kay_sys.remove_file = remove_file;
    kay_sys.open_file = open_file;
    kay_sys.truncate_file = truncate_file;
    kay_sys.write_file = write_file;
    kay_sys.close_file = close_file;
}

}  // namespace kay_test
