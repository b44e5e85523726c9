// Writing a launcher without a compiler: prebuilt program + data block
// (+ resources for Windows).
#pragma once

#include <string>

#include "launcher_block.h"

struct AssembleRequest {
    std::string target;     // native, win32 or win64
    std::string launcher;   // the prebuilt program
    std::string payload;    // payload file
    std::string output;
    LauncherConstants constants;
    std::string description;  // Windows: the file description
    std::string icon;         // Windows: .ico file, or ""
};

// Writes the launcher to request.output (which appears only when complete)
// and returns its size.
std::uint64_t assemble_launcher(const AssembleRequest& request);
