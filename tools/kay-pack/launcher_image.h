// A launcher written from a prebuilt launcher program and a data block.
#pragma once

#include <string>

#include "pe_resources.h"

// Linux: the ELF program (for 64-bit ARM when `arm64`) with the block
// appended. `what` names the program.
std::string elf_launcher(std::string program, const std::string& block, const std::string& what, bool arm64);

// Windows: the PE program with a .rsrc section (version resource, manifest,
// optional icon from `icon_path`) and a .kay section holding the block; no
// time stamp, checksum computed.
std::string pe_launcher(std::string program, const std::string& block, const std::string& what,
                        const VersionTexts& version, const std::string& icon_path);
