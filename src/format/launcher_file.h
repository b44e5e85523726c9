// A launcher file as kay-pack verify reads it, untrusted: its kind by the
// first bytes, and the bytes that end with its data block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum kay_launcher_kind { KAY_NOT_A_LAUNCHER, KAY_LINUX_LAUNCHER, KAY_WINDOWS_LAUNCHER };

// An ELF program is a Linux launcher, one starting "MZ" a Windows one.
kay_launcher_kind launcher_kind(const unsigned char* data, std::size_t size);

// The bytes of the launcher [data, data + size) that end with its data
// block (the whole file on Linux, the data block's section on Windows).
// False when a Windows launcher has no such section.
bool launcher_block_bytes(kay_launcher_kind kind, const unsigned char** data, std::size_t* size);

// The subsystem a PE image at [data, data + size) asks for (its optional
// header's field); 0 when it is not one or the header lies past `size`.
constexpr std::uint32_t PE_SUBSYSTEM_GUI = 2;
constexpr std::uint32_t PE_SUBSYSTEM_CONSOLE = 3;
std::uint32_t pe_subsystem(const unsigned char* data, std::size_t size);

// The text before the kay version in every launcher program, so that
// kay-pack can name the version that made a launcher.
#define KAY_PROGRAM_MARK "kay launcher program, version "
// The version after KAY_PROGRAM_MARK in a launcher's bytes, empty when
// there is none.
std::string launcher_version(const unsigned char* data, std::size_t size);

// Whether the ELF program at [data, data + size) is for 64-bit ARM (its
// little-endian e_machine is 183).
bool elf_aarch64(const unsigned char* data, std::size_t size);

// What verify and list call a launcher: "Linux launcher" (x86-64 and any
// other machine), "Linux arm64 launcher" (aarch64), "Windows launcher"
// (console) or "Windows GUI launcher"; nullptr for no launcher.
const char* launcher_kind_name(const unsigned char* data, std::size_t size);

// The size of one PE section header.
constexpr std::size_t PE_SECTION_HEADER_SIZE = 40;

// The content of the section named `name` (at most 8 characters) of the PE
// image at [data, data + size): its raw bytes cut to its virtual size.
// False when there is no such section or it lies outside the file.
bool pe_find_section(const unsigned char* data, std::size_t size, const char* name, std::size_t* offset,
                     std::size_t* length);
