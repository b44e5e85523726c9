// Unpacking of one entry into the target directory, skipping files whose
// CRC-32 already matches.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The path of the entry being unpacked, and that of the first entry (the
// program to start), empty until then.
extern kchar g_entry_path[];
extern kchar g_first_entry_path[];

// Writes the home folder into `out` (a path buffer): the directory walk
// never goes above it. Asked once, when the first directory is needed.
typedef void (*kay_home_folder)(kchar* out);

// Starts an unpacking: no first entry, no directory known.
void unpack_begin(kay_home_folder home);
// Unpacks the entry `name` (as read_name gave it), whose size, crc and
// content come next from the reader, below `target_dir`.
void unpack_entry(const kchar* target_dir, const char16_t* name);
// CRC-32 of the file at `path` as stored_crc gives it; KAY_CRC_MISSING when
// there is no usable (missing, unreadable, empty, unmappable) file.
std::uint32_t file_crc(const kchar* path);
void ensure_parent_directory(const kchar* path);
bool ensure_directory(const kchar* path);
