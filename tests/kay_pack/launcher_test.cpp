// The default launcher carries a payload that kay-pack create wrote from the
// demo application's directory: running it must unpack that tree exactly.
#include "harness.h"

class LauncherRoundTrip : public KayPackTest {};

TEST_F(LauncherRoundTrip, LauncherUnpacksTheTreeKayPackPacked) {
    Result r = run(native(), KAY_LAUNCHER_PATH, {.env = {{"XDG_CACHE_HOME", dir}}});
    EXPECT_EQ(r.code, 0) << r.err;
    auto packed = files_of(KAY_DEMO_APP_DIR);
    EXPECT_FALSE(packed.empty());
    EXPECT_EQ(files_of(path("Dorvan/Velmora/1.0.0.0")), packed);
}
