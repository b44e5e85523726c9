#include "prebuilt.h"

#include <filesystem>

#include "fail.h"
#include "host.h"
#include "output_file.h"

#ifndef KAY_PREBUILT_FROM_BIN
#define KAY_PREBUILT_FROM_BIN "../lib/kay"
#endif

std::string self_path() {
    std::string self = host_self_path();
    if (self.empty()) fail("cannot find kay-pack's own path");
    return self;
}

bool known_target(const std::string& target) {
    return target == "native" || target == "linux-arm64" || windows_target(target);
}

bool windows_target(const std::string& target) { return target == "win32" || target == "win64"; }

std::string find_prebuilt(const std::string& target, bool gui) {
    std::string self = self_path();
    std::string bin = self.substr(0, last_separator(self));
    std::string name = "kay-launcher-" + target + (gui ? "-gui" : "") + (windows_target(target) ? ".exe" : "");
    std::string up = bin.substr(0, last_separator(bin));
    const std::string candidates[] = {bin + "/" + name, bin + "/" KAY_PREBUILT_FROM_BIN "/" + name,
                                      up + "/" + target + "/" + name};
    for (const std::string& candidate : candidates) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(fs_path(candidate), ec))
            return utf8_path(fs_path(candidate).lexically_normal());
    }
    fail("no prebuilt " + target + (gui ? " GUI" : "") + " launcher: none of " + ::quoted(candidates[0]) + ", " +
         ::quoted(utf8_path(fs_path(candidates[1]).lexically_normal())) + " or " + ::quoted(candidates[2]) +
         " exists (build the " + target + " preset, or give --launcher)");
}
