#include "payload/warm.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "common/bounded.h"
#include "format/format.h"
#include "format/data_block.h"
#include "payload/state.h"
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
    job.count = 0;
    const std::uint32_t count = data.index_count;
    job.entries = static_cast<const unsigned char**>(std::malloc((count + 1) * sizeof *job.entries));
    kay_stamp* stamps = static_cast<kay_stamp*>(std::malloc((count + 1) * sizeof(kay_stamp)));
    if (job.entries == nullptr || stamps == nullptr) {
        std::free(job.entries);
        std::free(stamps);
        return false;
    }
    // A record of this index and product only (so of this size).
    const kay_record_parts parts = kay_state::parts_of(data);
    kay_record_parts found;
    std::int64_t written_ns = 0;
    unsigned char* record =
        data.check_content ? nullptr : kay_state::load(target_dir, state_record_size(parts), &found, &written_ns);
    if (record != nullptr && (found.digest != parts.digest || found.count != count ||
                              !record_of(record, data.identity, data.identity_size))) {
        std::free(record);
        record = nullptr;
    }
    const bool had_record = record != nullptr;

    // Every name first, in order, as the full pass checks them: one that it
    // would refuse, or whose path does not fit, is left to it. A file whose
    // status is the one recorded is current without being read; the others
    // go to the checksum, their status taken before they are read.
    static kchar path[KAY_PATH_CAPACITY];
    static kchar first[KAY_PATH_CAPACITY];
    char16_t name[KAY_NAME_CAPACITY];
    kay_index_entry entry;
    const unsigned char* at = data.index;
    bool names_ok = true;
    for (std::uint32_t i = 0; i < count; i++) {
        const unsigned char* here = at;
        names_ok = entry_at(&at, data.index_end, &entry, name) && check_entry_name(name, entry.name_units) == KAY_NAME_OK &&
                   entry_path(path, target_dir, name, entry.name_units);
        if (!names_ok) break;
        if (i == 0) buf_copy(first, KAY_PATH_CAPACITY, path);
        // No file is recorded as an empty stamp: an entry never written
        // (stored crc 0) that is still absent stays current.
        bool stamped = kay_state::stamp_of(path, &stamps[i]);
        if (!stamped) stamps[i] = kay_stamp{};
        if (record != nullptr && stamps[i] == record_stamp(found, i) &&
            (stamped ? !kay_state::racy(stamps[i], written_ns) : entry.crc == KAY_CRC_MISSING))
            continue;
        job.entries[job.count++] = here;
    }
    std::free(record);
    if (!names_ok) {
        std::free(job.entries);
        std::free(stamps);
        return false;
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
    // What the checksums proved is recorded, so the next start need not.
    if (!job.differs && !data.check_content && (job.count > 0 || !had_record))
        kay_state::save(target_dir, parts, stamps);
    std::free(stamps);
    if (job.differs) return false;
    // The first entry's path, as the full pass would give it.
    buf_copy(first_entry_path, KAY_PATH_CAPACITY, count > 0 ? first : KT(""));
    return true;
}

void record_entries(const kchar* target_dir, const kay_launch_data& data) {
    if (data.index_count == KAY_NO_INDEX || data.check_content) return;
    const std::uint32_t count = data.index_count;
    kay_stamp* stamps = static_cast<kay_stamp*>(std::malloc((count + 1) * sizeof(kay_stamp)));
    if (stamps == nullptr) return;
    static kchar path[KAY_PATH_CAPACITY];
    char16_t name[KAY_NAME_CAPACITY];
    kay_index_entry entry;
    const unsigned char* at = data.index;
    for (std::uint32_t i = 0; i < count; i++) {
        // Every file was just written or proved. One without a status is
        // recorded as the empty stamp, which a later start trusts only for
        // an entry never written (stored crc 0).
        if (!entry_at(&at, data.index_end, &entry, name) || !entry_path(path, target_dir, name, entry.name_units) ||
            !kay_state::stamp_of(path, &stamps[i]))
            stamps[i] = kay_stamp{};
    }
    kay_state::save(target_dir, kay_state::parts_of(data), stamps);
    std::free(stamps);
}
