// The warm start: whether every file of the payload is already on disk, told
// from the entry index without decoding anything.
#pragma once

#include "format/launch_data.h"
#include "platform/platform.h"

// True when every entry of `data`'s index has a file below `target_dir`
// whose status equals the state record's (payload/state.h) or, when it does
// not, whose checksum (file_check_value) is the stored one, and every name
// passes the checks of the full pass; the first entry's path (empty for an
// empty index) is then written into `first_entry_path` (a path buffer), and
// the record rewritten when a checksum proved anything. False, with nothing
// written, when any entry differs or a name would be refused, and when
// there is no index: the full pass then decides file by file. Reads files
// on up to four threads.
bool all_entries_current(const kchar* target_dir, const kay_launch_data& data, kchar* first_entry_path);
// Records the status of every entry's file after the full pass wrote or
// proved them all.
void record_entries(const kchar* target_dir, const kay_launch_data& data);
