#include <gtest/gtest.h>

#include "App/shell/RunOnce.h"
#include "support/TestPaths.h"

TEST(RunOnce, RunsUntilTheBlockSucceedsThenNeverAgain)
{
    kxtest::TemporaryDirectory dir;
    int runs = 0;
    bool succeed = false;
    {
        kx::UserDefaults defaults(dir / "defaults.json");
        auto block = [&] {
            ++runs;
            return succeed;
        };
        kx::runOnceForKey("firstlaunch", block, defaults);
        kx::runOnceForKey("firstlaunch", block, defaults);
        EXPECT_EQ(runs, 2);
        EXPECT_FALSE(defaults.boolForKey("PDRunOnce.firstlaunch"));
        succeed = true;
        kx::runOnceForKey("firstlaunch", block, defaults);
        EXPECT_TRUE(defaults.boolForKey("PDRunOnce.firstlaunch"));
        kx::runOnceForKey("other", block, defaults);
        EXPECT_EQ(runs, 4);
        ASSERT_TRUE(defaults.synchronize());
    }
    // The marker outlives the process.
    kx::UserDefaults reopened(dir / "defaults.json");
    kx::runOnceForKey("firstlaunch", [&] { return ++runs, true; }, reopened);
    EXPECT_EQ(runs, 4);
}
