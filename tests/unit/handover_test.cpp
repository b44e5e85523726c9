// The environment hand-over: storing and removing variables, the reset at
// the start of a run and the variables published before the child starts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "bootstrap/bootstrap.h"
#include "child/handover.h"
#include "platform/env_value.h"
#include "platform/platform.h"
#include "fake_system.h"

using namespace kay_handover;

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
    kay_sys_restore_all();
    EXPECT_EQ(env("KOLVEX_ONEFILE_PARENT"), "4242");
    unsetenv("KOLVEX_ONEFILE_PARENT");
    unsetenv("KOLVEX_ONEFILE_DIRECTORY");
}

// Publishes with the own path as a run fetches it at its start.
void publish(const char* argv0) {
    static kay_own_path own;
    fetch_own_path(&own);
    publish_launch_variables(own, argv0);
}

TEST(Handover, PublishSetsTheLauncherFolderAndArgv0) {
    std::string longest = "/" + std::string(4095, 'p');
    const struct {
        const char* module;
        const char* argv0;
        const char* directory;
    } cases[] = {
        {"/opt/tools/app", "./app", "/opt/tools"},
        {"/opt/tools/app", "", "/opt/tools"},
        {"/opt/my tools/app.bin", "app with \"quotes\"", "/opt/my tools"},
        // At the root the folder is the empty text before the only separator.
        {"/app", "app", ""},
        {"app", "app", "app"},
        // Without the launcher's path the folder is empty.
        {nullptr, "app", ""},
        // A path that fills the whole module buffer has no terminator.
        {longest.c_str(), "a", ""},
    };
    kay_test::FakeSystem fake;
    fake.install();
    kay_sys.get_env = kay_sys_default.get_env;
    kay_sys.set_env = kay_sys_default.set_env;
    for (const auto& c : cases) {
        fake.module_path = c.module ? std::optional<std::string>(c.module) : std::nullopt;
        publish(c.argv0);
        EXPECT_EQ(env("KOLVEX_ONEFILE_DIRECTORY"), c.directory) << (c.module ? c.module : "no path");
        EXPECT_EQ(env("KOLVEX_ORIGINAL_ARGV0"), c.argv0);
    }
    std::string too_long = "/" + std::string(4096, 'p');
    fake.module_path = too_long;
    EXPECT_EXIT(publish("a"), ::testing::ExitedWithCode(3), "");
    kay_sys_restore_all();
    unsetenv("KOLVEX_ONEFILE_DIRECTORY");
    unsetenv("KOLVEX_ORIGINAL_ARGV0");
}

TEST(Handover, PublishWithTheRealModulePath) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    publish("argv-zero");
    EXPECT_EQ(env("KOLVEX_ONEFILE_DIRECTORY"), std::string(self, std::strrchr(self, '/')));
    EXPECT_EQ(env("KOLVEX_ORIGINAL_ARGV0"), "argv-zero");
    unsetenv("KOLVEX_ONEFILE_DIRECTORY");
    unsetenv("KOLVEX_ORIGINAL_ARGV0");
}

}  // namespace
