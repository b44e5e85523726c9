// The default launcher carries a payload that kay-pack create wrote from the
// demo application's directory: running it must unpack that tree exactly.
#include "harness.h"

class LauncherRoundTrip : public KayPackTest {};

TEST_F(LauncherRoundTrip, LauncherUnpacksTheTreeKayPackPacked) {
    RunResult r = run({"env", "XDG_CACHE_HOME=" + dir, KAY_LAUNCHER_PATH});
    EXPECT_EQ(r.code, 0) << r.err;
    auto unpacked = snapshot(path("Dorvan/Velmora/1.0.0.0"));
    auto packed = snapshot(KAY_DEMO_APP_DIR);
    EXPECT_FALSE(packed.empty());
    EXPECT_EQ(unpacked, packed);
}
