// The state record of a target folder (format/state_record.h): read at a
// warm start, written under the lock after every file was written or
// proved. A record that cannot be read counts as absent; one that cannot
// be written is skipped, and the start goes on as without it.
#pragma once

#include <cstdint>

#include "format/launch_data.h"
#include "format/state_record.h"
#include "platform/platform.h"

namespace kay_state {

// What the file system says of the file at `path`, as the record keeps it;
// false when there is no status to take.
bool stamp_of(const kchar* path, kay_stamp* stamp);
// The path of the launcher's own file `name` in `dir`; false when it does
// not fit.
bool path_of(kchar* out, const kchar* dir, const char* name);
// What the record of a launcher holds beside the stamps: its index's
// digest, its index, its company and product.
kay_record_parts parts_of(const kay_launch_data& data);
// The record in `dir`: its bytes (to release with std::free), what they
// hold in *parts, and in *written_ns the record file's modification time;
// nullptr when it is absent, damaged, of another size than `size` (0: any
// size), or not a regular file of the user or root.
unsigned char* load(const kchar* dir, std::size_t size, kay_record_parts* parts, std::int64_t* written_ns);
// Whether `dir` holds a record of `data`'s company and product, told from
// its first bytes alone.
bool holds_record_of(const kchar* dir, const kay_launch_data& data);
// Whether a stamp is too close to the record's writing to prove anything:
// a file changed within the file system's time granularity of it may keep
// its times.
bool racy(const kay_stamp& stamp, std::int64_t written_ns);
// Writes the record of `parts` and its stamps to a temporary name and
// renames it into place.
void save(const kchar* target_dir, const kay_record_parts& parts, const kay_stamp* stamps);

}  // namespace kay_state
