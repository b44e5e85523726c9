#include "payload/state.h"

#include <cstdlib>

#include "common/bounded.h"
#include "format/data_block.h"
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

bool path_of(kchar* out, const kchar* dir, const char* name) {
    kchar native[32];
    widen(native, 32, name);
    return buf_join(out, KAY_PATH_CAPACITY, dir, native);
}

kay_record_parts parts_of(const kay_launch_data& data) {
    std::size_t index_size = static_cast<std::size_t>(data.index_end - data.index);
    return {index_digest(data.index, index_size), data.index_count, data.identity, data.identity_size,
            data.index, index_size};
}

// The record file in `dir`, open for reading; invalid when there is none.
static kay_file open_record(const kchar* dir) {
    static kchar path[KAY_PATH_CAPACITY], long_form[KAY_SYSTEM_PATH_CAPACITY];
    if (!path_of(path, dir, KAY_STATE_NAME)) return kay_file{};
    return kay_sys.open_read(kay_system_path(path, long_form));
}

// A record larger than this is not read: taken for damaged.
constexpr std::uint64_t MOST_RECORD_SIZE = std::uint64_t{1} << 30;

unsigned char* load(const kchar* dir, std::size_t size, kay_record_parts* parts, std::int64_t* written_ns) {
    kay_file file = open_record(dir);
    if (!file.valid()) return nullptr;
    kay_file_status st;
    unsigned char* data = nullptr;
    if (kay_sys.stat_file(file, &st) && (size == 0 ? st.size <= MOST_RECORD_SIZE : st.size == size))
        data = static_cast<unsigned char*>(std::malloc(st.size + 1));
    bool read = data != nullptr && kay_sys.read_file(file, data, static_cast<std::uint32_t>(st.size)) == st.size;
    kay_sys.close_file(file);
    if (!read || !read_state_record(data, static_cast<std::size_t>(st.size), parts)) {
        std::free(data);
        return nullptr;
    }
    *written_ns = st.mtime_ns;
    return data;
}

bool holds_record_of(const kchar* dir, const kay_launch_data& data) {
    std::size_t size = record_head_size(data.identity_size);
    unsigned char* head = static_cast<unsigned char*>(std::malloc(size));
    kay_file file = head != nullptr ? open_record(dir) : kay_file{};
    bool ours = file.valid() && kay_sys.read_file(file, head, static_cast<std::uint32_t>(size)) == size &&
                record_of(head, data.identity, data.identity_size);
    if (file.valid()) kay_sys.close_file(file);
    std::free(head);
    return ours;
}

bool racy(const kay_stamp& stamp, std::int64_t written_ns) {
    return stamp.mtime_ns >= written_ns - RACY_NS || stamp.ctime_ns >= written_ns - RACY_NS;
}

void save(const kchar* target_dir, const kay_record_parts& parts, const kay_stamp* stamps) {
    static kchar temp[KAY_PATH_CAPACITY], path[KAY_PATH_CAPACITY];
    static kchar temp_long[KAY_SYSTEM_PATH_CAPACITY], path_long[KAY_SYSTEM_PATH_CAPACITY];
    if (!path_of(temp, target_dir, KAY_STATE_TEMP) || !path_of(path, target_dir, KAY_STATE_NAME)) return;
    std::size_t size = state_record_size(parts);
    unsigned char* data = static_cast<unsigned char*>(std::malloc(size));
    if (data == nullptr) return;
    write_state_record(data, parts, stamps);
    const kchar* at = kay_system_path(temp, temp_long);
    kay_file file = kay_open_write(at);
    bool written = file.valid() && kay_sys.write_file(file, data, static_cast<std::uint32_t>(size));
    if (file.valid()) kay_sys.close_file(file);
    std::free(data);
    if (!written || !kay_sys.rename_file(at, kay_system_path(path, path_long))) kay_sys.remove_file(at);
}

}  // namespace kay_state
