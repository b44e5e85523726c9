// The prebuilt launcher programs that kay-pack assembles launchers from.
#pragma once

#include <string>

// kay-pack's own path.
std::string self_path();

// "native", "linux-arm64", "win32" or "win64".
bool known_target(const std::string& target);
// The name of the native target by its system and machine (--target takes
// it for native); empty where kay-pack knows none. kay-pack.exe is built
// beside an x86-64 Linux build, whose launcher program is its native one.
#if (defined(__linux__) && defined(__x86_64__)) || defined(_WIN32)
inline constexpr const char NATIVE_NAME[] = "linux-x86_64";
#else
inline constexpr const char NATIVE_NAME[] = "";
#endif
bool windows_target(const std::string& target);

// The prebuilt program for `target` (the GUI kind when `gui`):
// kay-launcher-TARGET (-gui for the GUI kind, .exe for Windows)
// beside kay-pack (its build tree), in the installed launcher folder
// (KAY_PREBUILT_FROM_BIN from kay-pack's folder), else in the build tree of
// that target beside kay-pack's (build/native/../win32, ../linux-arm64). Fails naming the
// places when none has it.
std::string find_prebuilt(const std::string& target, bool gui);
