#include "payload/warm.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "common/bounded.h"
#include "format/format.h"
#include "format/data_block.h"
#include "payload/unpack.h"

using namespace kay_unpack;

constexpr std::uint32_t MOST_WORKERS = 4;
// Files are read into a buffer of this size per worker: faster here than
// mapping each file (page faults cost more than the CRC).
constexpr std::uint32_t CHECK_BUFFER_SIZE = 262144;

namespace {

struct check_job {
    const kchar* target_dir;
    const unsigned char** entries;  // each entry's place in the index
    const unsigned char* index_end;
    std::uint32_t count;
    std::atomic<std::uint32_t> next{0};
    std::atomic<bool> differs{false};
};

// The index entry at *at (moved past it) with its name as UTF-16 units in
// `name`; false for a name that cannot be one (too long).
bool entry_at(const unsigned char** at, const unsigned char* end, kay_index_entry* entry, char16_t* name) {
    kay_block index{};
    index.index_end = end;
    if (!next_index_entry(index, at, entry) || entry->name_units >= KAY_NAME_CAPACITY) return false;
    for (std::uint32_t i = 0; i < entry->name_units; i++)
        name[i] = static_cast<char16_t>(entry->name[2 * i] | (entry->name[2 * i + 1] << 8));
    name[entry->name_units] = 0;
    return true;
}

// A worker: takes entries in turn until all are seen or one differs.
void check_entries(void* arg) {
    check_job& job = *static_cast<check_job*>(arg);
    unsigned char* buffer = static_cast<unsigned char*>(std::malloc(CHECK_BUFFER_SIZE));
    if (buffer == nullptr) {
        job.differs = true;
        return;
    }
    kchar path[KAY_PATH_CAPACITY];
    char16_t name[KAY_NAME_CAPACITY];
    kay_index_entry entry;
    for (std::uint32_t i; !job.differs && (i = job.next++) < job.count;) {
        const unsigned char* at = job.entries[i];
        entry_at(&at, job.index_end, &entry, name);
        entry_path(path, job.target_dir, name, entry.name_units);
        if (file_check_value(path, entry.size, buffer, CHECK_BUFFER_SIZE) != entry.crc) job.differs = true;
    }
    std::free(buffer);
}

}  // namespace

bool all_entries_current(const kchar* target_dir, const kay_launch_data& data, kchar* first_entry_path) {
    if (data.index_count == KAY_NO_INDEX) return false;
    check_job job;
    job.target_dir = target_dir;
    job.index_end = data.index_end;
    job.count = data.index_count;
    job.entries = static_cast<const unsigned char**>(std::malloc((job.count + 1) * sizeof *job.entries));
    if (job.entries == nullptr) return false;

    // Every name first, in order, as the full pass checks them: one that it
    // would refuse, or whose path does not fit, is left to it.
    static kchar path[KAY_PATH_CAPACITY];
    static kchar first[KAY_PATH_CAPACITY];
    char16_t name[KAY_NAME_CAPACITY];
    kay_index_entry entry;
    const unsigned char* at = data.index;
    for (std::uint32_t i = 0; i < job.count; i++) {
        job.entries[i] = at;
        if (!entry_at(&at, data.index_end, &entry, name) || check_entry_name(name, entry.name_units) != KAY_NAME_OK ||
            !entry_path(path, target_dir, name, entry.name_units)) {
            std::free(job.entries);
            return false;
        }
        if (i == 0) buf_copy(first, KAY_PATH_CAPACITY, path);
    }

    // The checksums on up to MOST_WORKERS threads, this one included; a
    // thread that cannot be started leaves fewer.
    std::uint32_t workers = kay_sys.cpu_count();
    if (workers > MOST_WORKERS) workers = MOST_WORKERS;
    if (workers > job.count) workers = job.count;
    kay_thread threads[MOST_WORKERS];
    std::uint32_t started = 0;
    while (started + 1 < workers) {
        threads[started] = kay_sys.start_thread(check_entries, &job);
        if (!threads[started].valid()) break;
        started++;
    }
    if (job.count > 0) check_entries(&job);
    for (std::uint32_t i = 0; i < started; i++) kay_sys.join_thread(threads[i]);
    std::free(job.entries);
    if (job.differs) return false;
    // The first entry's path, as the full pass would give it.
    buf_copy(first_entry_path, KAY_PATH_CAPACITY, job.count > 0 ? first : KT(""));
    return true;
}
