// A prebuilt Windows program (PE32 or PE32+) in memory, given new sections
// at its end without a linker.
#pragma once

#include <cstdint>
#include <string>

struct PeImage {
    std::string bytes;
    std::string what;  // names the program in messages
    std::size_t pe = 0, optional = 0, directories = 0, section_table = 0;
    std::uint32_t directory_count = 0;
    std::uint32_t file_alignment = 0, section_alignment = 0;
    bool plus = false;  // PE32+ (64-bit)
};

// Checks that `bytes` is a PE image that sections can be added to: no
// signature, no resources, nothing after its last section. Fails naming
// `what` otherwise.
PeImage pe_open(std::string bytes, const std::string& what);

// The address the next added section gets.
std::uint32_t pe_next_rva(const PeImage& image);

// Adds an initialized, read-only data section holding `data` at
// pe_next_rva(), its raw data at the end of the file; updates the section
// count, SizeOfImage and SizeOfInitializedData. Fails when the headers have
// no room for another section header. Returns the section's address.
std::uint32_t pe_add_section(PeImage& image, const char* name, const std::string& data);

// Sets data directory `index` (2: resources) to `rva` and `size`.
void pe_set_directory(PeImage& image, int index, std::uint32_t rva, std::uint32_t size);

// Zeroes the time stamp and writes the image's checksum.
void pe_finish(PeImage& image);

// The PE checksum of `bytes`, whose checksum field holds zero.
std::uint32_t pe_checksum(const std::string& bytes);
