// The main sequence seen from outside: header check, silence on success,
// the empty entry stream.
#include <gtest/gtest.h>

#include "harness.h"

using namespace kay_test;

class Bootstrap : public ::testing::TestWithParam<Platform> {};

TEST_P(Bootstrap, PayloadWithoutHeaderIsRefusedAfterExpansionAndCreatesNothing) {
    const Platform& p = GetParam();
    for (const char* launcher : {"t_badmagic_lower", "t_badmagic_kax"}) {
        Scratch dir;
        std::string exe = stage(p, launcher, dir.path());
        auto before = snapshot(dir.path());
        Result r = run(p, exe, {.env = {{"KOLVEX_ONEFILE_RANDOM", "inherited"}}});
        EXPECT_EQ(r.code, 2) << launcher;
        EXPECT_EQ(r.out, p.windows ? "Error, couldn't find attached data header.\r\n"
                                   : "Error, couldn't find attached data header.\n")
            << launcher;
        EXPECT_EQ(r.err, "") << launcher;
        EXPECT_EQ(snapshot(dir.path()), before) << launcher << ": no file may be created";
    }
}

TEST_P(Bootstrap, SuccessfulRunWritesNothingOfItsOwn) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_basic", dir.path());
    std::string report = dir / "report.txt";
    Result r = run(p, exe, {.env = {{"PROBE_OUT", p.path(report)}}});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(exists(report));
}

TEST_P(Bootstrap, EmptyEntryStreamCannotLaunch) {
    const Platform& p = GetParam();
    Scratch dir;
    std::string exe = stage(p, "t_empty_stream", dir.path());
    Result r = run(p, exe);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Error, couldn't launch child ([Error ", 0), 0u) << r.err;
    EXPECT_FALSE(exists(dir / "unpacked"));
}

INSTANTIATE_TEST_SUITE_P(Launchers, Bootstrap, ::testing::ValuesIn(platforms()),
                         [](const auto& info) { return info.param.name(); });
