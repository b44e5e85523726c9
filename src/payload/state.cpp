#include "payload/state.h"

#include <cstdlib>

#include "common/bounded.h"
#include "format/format.h"
#include "platform/paths.h"
#include "platform/safe_files.h"

namespace kay_state {

// Two seconds: the coarsest time stamps in use (FAT) and more than the
// others' granularity.
constexpr std::int64_t RACY_NS = 2000000000;

bool stamp_of(const kchar* path, kay_stamp* stamp) {
    kchar long_form[KAY_SYSTEM_PATH_CAPACITY];
    kay_file_status st;
    if (!kay_sys.stat_entry(kay_system_path(path, long_form), &st) || st.kind != KAY_NODE_FILE) return false;
    *stamp = {st.size, st.mtime_ns, st.ctime_ns, st.device, st.inode, st.mode, st.owner};
    return true;
}

// The path of `name` in `target_dir`; false when it does not fit.
static bool own_file(kchar* out, const kchar* target_dir, const char* name) {
    kchar native[32];
    widen(native, 32, name);
    return buf_join(out, KAY_PATH_CAPACITY, target_dir, native);
}

unsigned char* load(const kchar* target_dir, std::uint64_t digest, std::uint32_t count, std::int64_t* written_ns) {
    static kchar path[KAY_PATH_CAPACITY], long_form[KAY_SYSTEM_PATH_CAPACITY];
    if (!own_file(path, target_dir, KAY_STATE_NAME)) return nullptr;
    kay_file file = kay_sys.open_read(kay_system_path(path, long_form));
    if (!file.valid()) return nullptr;
    std::size_t size = state_record_size(count);
    kay_file_status st;
    unsigned char* data = nullptr;
    if (kay_sys.stat_file(file, &st) && st.size == size) data = static_cast<unsigned char*>(std::malloc(size));
    bool read = data != nullptr && kay_sys.read_file(file, data, static_cast<std::uint32_t>(size)) == size;
    kay_sys.close_file(file);
    if (!read || !state_record_valid(data, size, digest, count)) {
        std::free(data);
        return nullptr;
    }
    *written_ns = st.mtime_ns;
    return data;
}

bool racy(const kay_stamp& stamp, std::int64_t written_ns) {
    return stamp.mtime_ns >= written_ns - RACY_NS || stamp.ctime_ns >= written_ns - RACY_NS;
}

void save(const kchar* target_dir, std::uint64_t digest, const kay_stamp* stamps, std::uint32_t count) {
    static kchar temp[KAY_PATH_CAPACITY], path[KAY_PATH_CAPACITY];
    static kchar temp_long[KAY_SYSTEM_PATH_CAPACITY], path_long[KAY_SYSTEM_PATH_CAPACITY];
    if (!own_file(temp, target_dir, KAY_STATE_TEMP) || !own_file(path, target_dir, KAY_STATE_NAME)) return;
    std::size_t size = state_record_size(count);
    unsigned char* data = static_cast<unsigned char*>(std::malloc(size));
    if (data == nullptr) return;
    write_state_record(data, digest, stamps, count);
    const kchar* at = kay_system_path(temp, temp_long);
    kay_file file = kay_open_write(at);
    bool written = file.valid() && kay_sys.write_file(file, data, static_cast<std::uint32_t>(size));
    if (file.valid()) kay_sys.close_file(file);
    std::free(data);
    if (!written || !kay_sys.rename_file(at, kay_system_path(path, path_long))) kay_sys.remove_file(at);
}

}  // namespace kay_state
