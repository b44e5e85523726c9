// Unpacking of one entry into the target directory, skipping files whose
// CRC-32 already matches.
#pragma once

#include <cstddef>
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
// The value of the file at `path` to compare with the stored crc of an
// entry of `size` bytes, read through `buffer`: the file's CRC-32 as
// stored_crc gives it, so an empty file gives that of empty content.
// KAY_CRC_MISSING when there is no usable file: missing, unreadable, not a
// regular file of the user or root (see open_read), of another size, cut
// short while read, or a program (starting "\x7fELF" or "#!") that the
// user may not execute. Safe on several threads at once, each with its own
// buffer; the two-argument form reads through a buffer of the unpacking's
// own (one thread only).
std::uint32_t file_crc(const kchar* path, std::uint64_t size, unsigned char* buffer, std::uint32_t capacity);
std::uint32_t file_crc(const kchar* path, std::uint64_t size);
// Writes target_dir, a separator and `name` (valid, as check_entry_name
// takes it) in native form into `out` (a path buffer): unit for unit on
// Windows; elsewhere as UTF-8 with each backslash turned into '/'. False,
// with nothing written, when it does not fit.
bool entry_path(kchar* out, const kchar* target_dir, const char16_t* name, std::size_t length);
void ensure_parent_directory(const kchar* path);
bool ensure_directory(const kchar* path);
