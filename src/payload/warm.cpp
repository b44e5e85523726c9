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
// Statuses are taken by a thread more for every this many entries (so a
// small application starts no thread), each taking this many at a time.
constexpr std::uint32_t STAMPS_PER_WORKER = 256;
constexpr std::uint32_t STAMPS_AT_ONCE = 32;

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

// Status workers: each takes a run of entries in turn and says of each
// whether its file's status is the recorded one.
struct stamp_job {
    const kchar* target_dir;
    const unsigned char** places;  // every entry's place in the index
    const unsigned char* index_end;
    const unsigned char* record;   // nullptr: none to trust
    kay_record_parts found;        // what the record holds
    std::int64_t written_ns = 0;
    kay_stamp* stamps;
    bool* current;
    std::uint32_t count;
    std::atomic<std::uint32_t> next{0};
    std::atomic<bool> refused{false};  // a name the full pass would refuse
};

void stamp_entries(void* arg) {
    stamp_job& job = *static_cast<stamp_job*>(arg);
    kchar path[KAY_PATH_CAPACITY];
    char16_t name[KAY_NAME_CAPACITY];
    kay_index_entry entry;
    for (std::uint32_t from; !job.refused && (from = job.next.fetch_add(STAMPS_AT_ONCE)) < job.count;) {
        for (std::uint32_t i = from; i < job.count && i < from + STAMPS_AT_ONCE; i++) {
            const unsigned char* at = job.places[i];
            entry_at(&at, job.index_end, &entry, name);
            if (check_entry_name(name, entry.name_units) != KAY_NAME_OK ||
                !entry_path(path, job.target_dir, name, entry.name_units)) {
                job.refused = true;
                return;
            }
            // No file is recorded as an empty stamp: an entry never written
            // (stored crc 0) that is still absent stays current.
            bool stamped = kay_state::stamp_of(path, &job.stamps[i]);
            if (!stamped) job.stamps[i] = kay_stamp{};
            job.current[i] = job.record != nullptr && job.stamps[i] == record_stamp(job.found, i) &&
                             (stamped ? !kay_state::racy(job.stamps[i], job.written_ns) : entry.crc == KAY_CRC_MISSING);
        }
    }
}

}  // namespace

// Runs `work(arg)` on this thread and up to `workers - 1` more; a thread
// that cannot be started leaves fewer.
static void on_threads(kay_thread_main work, void* arg, std::uint32_t workers) {
    kay_thread threads[MOST_WORKERS];
    std::uint32_t started = 0;
    while (started + 1 < workers && started + 1 < MOST_WORKERS) {
        threads[started] = kay_sys.start_thread(work, arg);
        if (!threads[started].valid()) break;
        started++;
    }
    work(arg);
    for (std::uint32_t i = 0; i < started; i++) kay_sys.join_thread(threads[i]);
}

bool all_entries_current(const kchar* target_dir, const kay_launch_data& data, kchar* first_entry_path) {
    if (data.index_count == KAY_NO_INDEX) return false;
    const std::uint32_t count = data.index_count;
    stamp_job stamping;
    stamping.target_dir = target_dir;
    stamping.index_end = data.index_end;
    stamping.count = count;
    check_job job;
    job.target_dir = target_dir;
    job.index_end = data.index_end;
    job.count = 0;
    job.entries = static_cast<const unsigned char**>(std::malloc((count + 1) * sizeof *job.entries));
    stamping.places = static_cast<const unsigned char**>(std::malloc((count + 1) * sizeof *stamping.places));
    stamping.stamps = static_cast<kay_stamp*>(std::malloc((count + 1) * sizeof(kay_stamp)));
    stamping.current = static_cast<bool*>(std::malloc(count + 1));
    auto release = [&] {
        std::free(job.entries);
        std::free(stamping.places);
        std::free(stamping.stamps);
        std::free(stamping.current);
    };
    if (job.entries == nullptr || stamping.places == nullptr || stamping.stamps == nullptr ||
        stamping.current == nullptr) {
        release();
        return false;
    }

    // Where each entry starts, in order; an index that cannot be walked is
    // left to the full pass.
    static kchar first[KAY_PATH_CAPACITY];
    char16_t name[KAY_NAME_CAPACITY];
    kay_index_entry entry;
    const unsigned char* at = data.index;
    for (std::uint32_t i = 0; i < count; i++) {
        stamping.places[i] = at;
        if (!entry_at(&at, data.index_end, &entry, name) ||
            (i == 0 && !entry_path(first, target_dir, name, entry.name_units))) {
            release();
            return false;
        }
    }

    // A record of this index and product only (so of this size).
    const kay_record_parts parts = kay_state::parts_of(data);
    unsigned char* record = data.check_content ? nullptr
                                               : kay_state::load(target_dir, state_record_size(parts),
                                                                 &stamping.found, &stamping.written_ns);
    if (record != nullptr && (stamping.found.digest != parts.digest || stamping.found.count != count ||
                              !record_of(record, data.identity, data.identity_size))) {
        std::free(record);
        record = nullptr;
    }
    stamping.record = record;
    const bool had_record = record != nullptr;
    // Then every file's status, on a few threads where there are many
    // (after a reboot each may wait for the disk). A file whose status is
    // the one recorded is current without being read; the others go to the
    // checksum, their status taken before they are read. A name the full
    // pass would refuse, or whose path does not fit, is left to it.
    on_threads(stamp_entries, &stamping, count / STAMPS_PER_WORKER + 1);
    std::free(record);
    if (stamping.refused) {
        release();
        return false;
    }
    for (std::uint32_t i = 0; i < count; i++)
        if (!stamping.current[i]) job.entries[job.count++] = stamping.places[i];

    // The checksums on up to MOST_WORKERS threads, this one included.
    std::uint32_t workers = kay_sys.cpu_count();
    if (workers > job.count) workers = job.count;
    if (job.count > 0) on_threads(check_entries, &job, workers);
    // What the checksums proved is recorded, so the next start need not.
    if (!job.differs && !data.check_content && (job.count > 0 || !had_record))
        kay_state::save(target_dir, parts, stamping.stamps);
    bool current = !job.differs;
    release();
    if (!current) return false;
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
