// The minute counters: what one tick adds, and the blocks of ten and sixty active minutes.
#include <gtest/gtest.h>

#include "App/application/UsageMinutes.h"
#include "support/TestPaths.h"

using kx::UsageMinutes;

namespace {

UsageMinutes activeMinutes(int minutes)
{
    UsageMinutes counters;
    for (int i = 0; i < minutes; ++i)
        counters = counters.tick(true, 0);
    return counters;
}

} // namespace

TEST(UsageMinutes, AnActiveMinuteCountsAndAnIdleOneCountsTwiceOnlyFrom61Seconds)
{
    const UsageMinutes start{5, 0, 0, 2};
    EXPECT_EQ(start.tick(true, 60), (UsageMinutes{6, 0, 0, 2}));
    EXPECT_EQ(start.tick(true, 61), (UsageMinutes{6, 0, 0, 3}));
    EXPECT_EQ(start.tick(true, UINT64_MAX), (UsageMinutes{6, 0, 0, 3}));
    // An application that is not active counts nothing, however idle the user.
    EXPECT_EQ(start.tick(false, 3600), start);
}

TEST(UsageMinutes, BlocksAreCompletedBlocks)
{
    EXPECT_EQ(activeMinutes(9).active10, 0);
    EXPECT_EQ(activeMinutes(10).active10, 1);
    EXPECT_EQ(activeMinutes(11).active10, 1);
    EXPECT_EQ(activeMinutes(19).active10, 1);
    EXPECT_EQ(activeMinutes(20).active10, 2);
    EXPECT_EQ(activeMinutes(59).active60, 0);
    EXPECT_EQ(activeMinutes(60).active60, 1);
    EXPECT_EQ(activeMinutes(125), (UsageMinutes{125, 12, 2, 0}));
}

TEST(UsageMinutes, StoredCountsAreNeverLoweredAndCatchUpAtOnce)
{
    // Counts from an older version that ran ahead stay; counts that fell behind catch up.
    EXPECT_EQ((UsageMinutes{30, 7, 1, 0}).tick(true, 0), (UsageMinutes{31, 7, 1, 0}));
    EXPECT_EQ((UsageMinutes{130, 0, 0, 0}).tick(false, 0), (UsageMinutes{130, 13, 2, 0}));
}

TEST(UsageMinutes, DefaultsStartAtZeroAndDamagedValuesCountAsZero)
{
    kxtest::TemporaryDirectory folder;
    kx::UserDefaults defaults(folder / "defaults.json");
    UsageMinutes::registerDefaults(defaults);
    EXPECT_EQ(UsageMinutes::read(defaults), UsageMinutes{});
    defaults.setInteger(UsageMinutes::activeKey, -40);
    defaults.setString(UsageMinutes::idleKey, "many");
    EXPECT_EQ(UsageMinutes::read(defaults), UsageMinutes{});
    UsageMinutes{3, 1, 0, 2}.write(defaults);
    EXPECT_EQ(UsageMinutes::read(defaults), (UsageMinutes{3, 1, 0, 2}));
}
