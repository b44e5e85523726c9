// Unpacking of one entry into the target directory, skipping files whose
// CRC-32 already matches.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Process-wide buffers shared with the bootstrap sequence and the launch.
extern kchar g_target_dir[];
extern std::uint16_t g_entry_name[];
extern kchar g_entry_path[];
extern kchar g_first_entry_path[];

// Starts an unpacking afresh: no first entry, no directory known.
void unpack_begin(void);
void unpack_entry(void);
// CRC-32 of the file at `path`, 1 in place of 0; 0 when there is no usable
// (missing, unreadable, empty, unmappable) file.
std::uint32_t file_crc(const kchar* path);
void ensure_parent_directory(const kchar* path);
bool ensure_directory(const kchar* path);
