#include "prebuilt.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include "fail.h"

std::string self_path() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) fail_errno("cannot find kay-pack's own path");
    return std::string(buf, static_cast<std::size_t>(n));
}

bool known_target(const std::string& target) {
    return target == "native" || windows_target(target);
}

bool windows_target(const std::string& target) { return target == "win32" || target == "win64"; }

std::string find_prebuilt(const std::string& target) {
    std::string self = self_path();
    std::string bin = self.substr(0, self.rfind('/'));
    std::string name = "kay-launcher-" + target + (windows_target(target) ? ".exe" : "");
    std::string beside = bin + "/" + name;
    std::string tree = bin.substr(0, bin.rfind('/')) + "/" + target + "/" + name;
    for (const std::string& candidate : {beside, tree}) {
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return candidate;
    }
    fail("no prebuilt " + target + " launcher: neither " + quoted(beside) + " nor " + quoted(tree) +
         " exists (build the " + target + " preset, or give --launcher)");
}
