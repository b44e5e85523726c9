// The prebuilt launcher programs that kay-pack assembles launchers from.
#pragma once

#include <string>

// kay-pack's own path.
std::string self_path();

// "native", "win32" or "win64".
bool known_target(const std::string& target);
bool windows_target(const std::string& target);

// The prebuilt program for `target`: kay-launcher-TARGET (.exe for Windows)
// beside kay-pack (installed, or the build tree of its own target), else in
// the build tree of that target beside kay-pack's (build/native/../win32).
// Fails naming both places when neither has it.
std::string find_prebuilt(const std::string& target);
