// The environment hand-over: storing and removing variables, the reset at
// the start of a run and the variables published before the child starts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "child/handover.h"
#include "platform/platform.h"

namespace {

std::optional<std::string> env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
}

TEST(Handover, SetEnvValueStoresReplacesAndRemoves) {
    set_env_value("KAY_TEST_VARIABLE", "one");
    EXPECT_EQ(env("KAY_TEST_VARIABLE"), "one");
    set_env_value("KAY_TEST_VARIABLE", "two");
    EXPECT_EQ(env("KAY_TEST_VARIABLE"), "two");
    set_env_value("KAY_TEST_VARIABLE", nullptr);
    EXPECT_EQ(env("KAY_TEST_VARIABLE"), std::nullopt);
    // A name of 40 units with its terminator does not fit the name buffer.
    EXPECT_EXIT(set_env_value(std::string(40, 'N').c_str(), "x"), ::testing::ExitedWithCode(3), "");
    set_env_value(std::string(39, 'N').c_str(), "x");
    EXPECT_EQ(env(std::string(39, 'N').c_str()), "x");
    set_env_value(std::string(39, 'N').c_str(), nullptr);
}

std::uint32_t fake_pid() { return 4242; }

TEST(Handover, ResetRemovesInheritedValuesAndPublishesTheProcessId) {
    setenv("KOLVEX_ONEFILE_START", "1", 1);
    setenv("KOLVEX_ONEFILE_TIME_US", "2", 1);
    setenv("KOLVEX_ONEFILE_RANDOM", "3", 1);
    setenv("KOLVEX_ONEFILE_PARENT", "inherited", 1);
    setenv("KOLVEX_ONEFILE_DIRECTORY", "/kept", 1);
    reset_handover_variables();
    EXPECT_EQ(env("KOLVEX_ONEFILE_START"), std::nullopt);
    EXPECT_EQ(env("KOLVEX_ONEFILE_TIME_US"), std::nullopt);
    EXPECT_EQ(env("KOLVEX_ONEFILE_RANDOM"), std::nullopt);
    EXPECT_EQ(env("KOLVEX_ONEFILE_PARENT"), std::to_string(getpid()));
    EXPECT_EQ(env("KOLVEX_ONEFILE_DIRECTORY"), "/kept");

    kay_sys.current_pid = fake_pid;
    reset_handover_variables();
    kay_sys = kay_sys_default;
    EXPECT_EQ(env("KOLVEX_ONEFILE_PARENT"), "4242");
    unsetenv("KOLVEX_ONEFILE_PARENT");
    unsetenv("KOLVEX_ONEFILE_DIRECTORY");
}

// The module path is taken once per process, so each case runs in a
// process of its own (a death test that reports by its exit code).
const char* g_module;

std::uint32_t fake_module_path(char* out, std::uint32_t capacity) {
    if (g_module == nullptr) return 0;
    std::uint32_t n = static_cast<std::uint32_t>(std::strlen(g_module));
    if (n >= capacity) {
        std::memcpy(out, g_module, capacity);
        return capacity;
    }
    std::memcpy(out, g_module, n + 1);
    return n;
}

// Exits 0 when the published variables are `directory` and `argv0`.
void publish_and_check(const char* module, const char* argv0, const char* directory) {
    g_module = module;
    kay_sys.module_path = fake_module_path;
    publish_launch_variables(argv0);
    bool ok = env("KOLVEX_ONEFILE_DIRECTORY") == std::string(directory) &&
              env("KOLVEX_ORIGINAL_ARGV0") == std::string(argv0);
    if (!ok) {
        std::fprintf(stderr, "DIRECTORY=%s ARGV0=%s\n", std::getenv("KOLVEX_ONEFILE_DIRECTORY"),
                     std::getenv("KOLVEX_ORIGINAL_ARGV0"));
    }
    std::exit(ok ? 0 : 1);
}

TEST(Handover, PublishSetsTheLauncherFolderAndArgv0) {
    using ::testing::ExitedWithCode;
    EXPECT_EXIT(publish_and_check("/opt/tools/app", "./app", "/opt/tools"), ExitedWithCode(0), "");
    EXPECT_EXIT(publish_and_check("/opt/tools/app", "", "/opt/tools"), ExitedWithCode(0), "");
    EXPECT_EXIT(publish_and_check("/opt/my tools/app.bin", "app with \"quotes\"", "/opt/my tools"),
                ExitedWithCode(0), "");
    // At the root the folder is the empty text before the only separator.
    EXPECT_EXIT(publish_and_check("/app", "app", ""), ExitedWithCode(0), "");
    EXPECT_EXIT(publish_and_check("app", "app", "app"), ExitedWithCode(0), "");
    // Without the launcher's path the folder is empty.
    EXPECT_EXIT(publish_and_check(nullptr, "app", ""), ExitedWithCode(0), "");
    // A path that fills the whole module buffer has no terminator.
    std::string longest = "/" + std::string(4095, 'p');
    EXPECT_EXIT(publish_and_check(longest.c_str(), "a", ""), ExitedWithCode(0), "");
    std::string too_long = "/" + std::string(4096, 'p');
    EXPECT_EXIT(publish_and_check(too_long.c_str(), "a", ""), ExitedWithCode(3), "");
}

TEST(Handover, PublishWithTheRealModulePath) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    std::string dir(self, std::strrchr(self, '/'));
    EXPECT_EXIT(
        {
            publish_launch_variables("argv-zero");
            std::exit(env("KOLVEX_ONEFILE_DIRECTORY") == dir && env("KOLVEX_ORIGINAL_ARGV0") == "argv-zero" ? 0
                                                                                                            : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
