// The state record of a target folder (format/state_record.h): read at a
// warm start, written under the lock after every file was written or
// proved. A record that cannot be read counts as absent; one that cannot
// be written is skipped, and the start goes on as without it.
#pragma once

#include <cstdint>

#include "format/state_record.h"
#include "platform/platform.h"

namespace kay_state {

// What the file system says of the file at `path`, as the record keeps it;
// false when there is no status to take.
bool stamp_of(const kchar* path, kay_stamp* stamp);
// The record in `target_dir` for the index of `digest` with `count`
// entries: its bytes (to release with std::free), and in *written_ns the
// record file's modification time; nullptr when it is absent, damaged, of
// another index, or not a regular file of the user or root.
unsigned char* load(const kchar* target_dir, std::uint64_t digest, std::uint32_t count, std::int64_t* written_ns);
// Whether a stamp is too close to the record's writing to prove anything:
// a file changed within the file system's time granularity of it may keep
// its times.
bool racy(const kay_stamp& stamp, std::int64_t written_ns);
// Writes the record of `count` stamps to a temporary name and renames it
// into place.
void save(const kchar* target_dir, std::uint64_t digest, const kay_stamp* stamps, std::uint32_t count);

}  // namespace kay_state
