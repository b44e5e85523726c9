// Unpacking of the payload's entries into the target directory, skipping
// files whose CRC-32 already matches.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/data_block.h"
#include "platform/platform.h"

namespace kay_unpack {

// Called once before the first entry touches anything on disk.
typedef void (*kay_before_first_entry)(void);

// Unpacks every entry of the entry stream `stream` (the payload after its
// magic, `size` bytes to the payload's end) below `target_dir`, from
// kay_reader::setup to kay_reader::teardown; the directory walk stops at
// `home_folder`. Writes the first entry's path (the program to start) into
// `first_entry_path` (a path buffer), empty when there is no entry.
// `before_first` may be null.
void unpack_all(const unsigned char* stream, std::size_t size, const kchar* target_dir, const kchar* home_folder,
                kay_before_first_entry before_first, kchar* first_entry_path);

// Starts an unpacking: no directory known; the directory walk never goes
// above `home_folder` (kept, not copied, until the next unpack_begin, as
// `target_dir`). Below `target_dir` (when given), whatever stands where a
// folder should be (a file, a symlink, a junction) is replaced by one.
void unpack_begin(const kchar* home_folder, const kchar* target_dir = nullptr);
// Says once on stderr, before the next file is written, that the launcher
// writes into `target_dir` without the lock.
void warn_before_writing(const kchar* target_dir);
// Unpacks the entry `name` (as read_name gave it), whose size, crc and
// content come next from the reader, below `target_dir`; its path goes to
// `path` (a path buffer).
void unpack_entry(const kchar* target_dir, const char16_t* name, kchar* path);
// The value of the file at `path` to compare with the stored crc of an
// entry of `size` bytes, read through `buffer`: the file's CRC-32 as
// stored_crc gives it, so an empty file gives that of empty content.
// KAY_CRC_MISSING when there is no usable file: missing, unreadable, not a
// regular file of the user or root (see open_read), of another size, cut
// short while read, or a program (starting "\x7fELF" or "#!") that the
// user may not execute. Safe on several threads at once, each with its own
// buffer; the two-argument form reads through a buffer of the unpacking's
// own (one thread only).
std::uint32_t file_check_value(const kchar* path, std::uint64_t size, unsigned char* buffer, std::uint32_t capacity);
std::uint32_t file_check_value(const kchar* path, std::uint64_t size);
// The index entry at *at, before `end` (moved past it), with its name as
// UTF-16 units, terminated, in `name` (KAY_NAME_CAPACITY units); false at
// the end, for an entry that does not parse, or a name too long to be one.
bool entry_at(const unsigned char** at, const unsigned char* end, kay_index_entry* entry, char16_t* name);
// Writes target_dir, a separator and `name` (valid, as check_entry_name
// takes it) in native form into `out` (a path buffer): unit for unit on
// Windows; elsewhere as UTF-8 with each backslash turned into '/'. False,
// with nothing written, when it does not fit.
bool entry_path(kchar* out, const kchar* target_dir, const char16_t* name, std::size_t length);
void ensure_parent_directory(const kchar* path);
bool ensure_directory(const kchar* path);

}  // namespace kay_unpack
