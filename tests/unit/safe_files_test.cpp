// The target walk and the write path over a hostile file system, faked in
// memory: other users' folders, links and files, without root.
#include <gtest/gtest.h>

#include "fake_system.h"
#include "platform/safe_files.h"

namespace {

using kay_test::FakeNode;

constexpr std::uint32_t ME = 1000, OTHER = 1001;

class SafeFiles : public ::testing::Test {
protected:
    void SetUp() override {
        sys.files["/home"] = {KAY_NODE_FOLDER, 0, 0755, "", ""};
        sys.files["/home/u"] = {KAY_NODE_FOLDER, ME, 0700, "", ""};
        sys.files["/tmp"] = {KAY_NODE_FOLDER, 0, 01777, "", ""};
        sys.install(true);
    }
    void TearDown() override { kay_sys_restore_all(); }
    kay_test::FakeSystem sys;
};

TEST_F(SafeFiles, WalkRefusesWhatAnotherUserCouldChangeAndMakesWhatIsMissing) {
    const struct {
        const char* path;
        FakeNode node;  // put at `path` first
        kay_target_verdict verdict;
        const char* at;
    } rows[] = {
        {"/home/u", {KAY_NODE_FOLDER, ME, 0700, "", ""}, KAY_TARGET_SAFE, ""},
        {"/home/u", {KAY_NODE_FOLDER, OTHER, 0700, "", ""}, KAY_TARGET_FOREIGN, "/home/u"},
        {"/home/u", {KAY_NODE_LINK, OTHER, 0777, "/tmp", ""}, KAY_TARGET_FOREIGN, "/home/u"},
        {"/home/u", {KAY_NODE_LINK, ME, 0777, "../tmp", ""}, KAY_TARGET_SAFE, ""},
        {"/home", {KAY_NODE_FOLDER, 0, 0777, "", ""}, KAY_TARGET_NOT_STICKY, "/home"},
        {"/home", {KAY_NODE_FOLDER, ME, 01777, "", ""}, KAY_TARGET_NOT_ROOTS, "/home"},
        {"/home/u/app", {KAY_NODE_FOLDER, ME, 0777, "", ""}, KAY_TARGET_NOT_STICKY, "/home/u/app"},
        {"/home/u/app/v1", {KAY_NODE_FOLDER, ME, 01777, "", ""}, KAY_TARGET_SHARED, "/home/u/app/v1"},
        {"/", {KAY_NODE_FOLDER, OTHER, 0755, "", ""}, KAY_TARGET_FOREIGN, "/"},
    };
    for (const auto& row : rows) {
        sys.files = kay_test::FakeSystem{}.files;
        SetUp();
        sys.files[row.path] = row.node;
        kchar at[64] = "";
        EXPECT_EQ(kay_check_target("/home/u/./app/v1", at, sizeof at), row.verdict) << row.path;
        EXPECT_STREQ(at, row.at) << row.path;
        // Safe: the missing folders are made, the user's own.
        const char* made = row.node.kind == KAY_NODE_LINK ? "/tmp/app/v1" : "/home/u/app/v1";
        if (row.verdict == KAY_TARGET_SAFE) EXPECT_EQ(sys.files.count(made), 1u) << row.path;
    }
}

TEST_F(SafeFiles, WritePathReplacesLinksAndOtherUsersFilesAndWritesNothingThrough) {
    const FakeNode in_the_way[] = {{KAY_NODE_LINK, ME, 0777, "/tmp/theirs", ""},
                                   {KAY_NODE_FILE, OTHER, 0666, "", "theirs"},
                                   {KAY_NODE_FILE, OTHER, 0644, "", "theirs, not writable"},
                                   {KAY_NODE_FILE, ME, 0444, "", "read-only"},
                                   {KAY_NODE_OTHER, ME, 0644, "", ""},
                                   {KAY_NODE_FILE, ME, 0644, "", "stale"}};
    for (const auto& node : in_the_way) {
        sys.files["/home/u/f"] = node;
        kay_file f = kay_open_write("/home/u/f");
        ASSERT_TRUE(f.valid());
        EXPECT_TRUE(kay_sys.write_file(f, "new", 3));
        kay_sys.close_file(f);
        const FakeNode& now = sys.files["/home/u/f"];
        EXPECT_EQ(now.kind, KAY_NODE_FILE);
        EXPECT_EQ(now.owner, ME);
        EXPECT_EQ(now.content, "new");
    }
    // One that can be neither opened nor removed (in a folder of another
    // user's) stays as it is.
    kay_sys.remove_file = [](const kchar*) { return false; };
    sys.files["/home/u/f"] = {KAY_NODE_FILE, OTHER, 0644, "", "theirs"};
    EXPECT_FALSE(kay_open_write("/home/u/f").valid());
    EXPECT_EQ(sys.files["/home/u/f"].content, "theirs");
}

}  // namespace
