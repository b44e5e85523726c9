// The CMake project that `kay-pack build` generates and builds: it finds the
// kay package and calls kay_add_launcher() once.
#pragma once

#include <map>
#include <string>

struct KayPackage {
    std::string config_dir;  // holds kayConfig.cmake (installed), or "" for the source tree
    std::string source_dir;  // kay's source tree, when config_dir is ""
    std::string toolchain;   // toolchain file for the win32 target
};

// The installed package beside kay-pack (<bin>/../lib/cmake/kay), else the
// source tree kay-pack was built from; fails when neither is there.
KayPackage find_kay_package(const std::string& self_path);

struct LauncherProject {
    std::string app_dir;      // absolute
    std::string main_rel;     // relative to app_dir, '/' separators
    std::string output_name;  // the built file's name, without ".exe"
    // kay_add_launcher() keywords (TARGET_SPEC, COMPANY, ...) -> values;
    // absent keywords take the function's defaults.
    std::map<std::string, std::string> values;
};

// Writes CMakeLists.txt into `dir` (and, for the source tree, a package
// config in `dir`/kay-package); returns the directory to pass as kay_DIR.
// The configured project writes the launcher's path to launcher-path.txt in
// its build directory.
std::string write_launcher_project(const std::string& dir, const KayPackage& package,
                                   const LauncherProject& project);
