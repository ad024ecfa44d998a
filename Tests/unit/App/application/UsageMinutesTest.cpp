// The minute counters: what one tick adds, and the blocks of ten and sixty active minutes.
#include <gtest/gtest.h>

#include <tuple>

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

TEST(UsageMinutes, BlocksCountOnlyPastTheFirstBlockAndOneStepATick)
{
    // Strictly past: nothing at 10 or 60 minutes, the first block one minute later, and the
    // next block as soon as the minutes divided by the block are past the count (1.2 > 1).
    for (const auto& [minutes, tens, sixties] : {std::tuple{10, 0, 0}, {11, 1, 0}, {12, 2, 0}, {20, 2, 0},
                                                 {21, 3, 0}, {60, 6, 0}, {61, 7, 1}, {62, 7, 2}, {121, 13, 3}}) {
        SCOPED_TRACE(minutes);
        EXPECT_EQ(activeMinutes(minutes), (UsageMinutes{minutes, tens, sixties, 0}));
    }
    EXPECT_EQ((UsageMinutes{19, 1, 0, 0}).tick(true, 0), (UsageMinutes{20, 2, 0, 0}));
}

TEST(UsageMinutes, StoredCountsAreNeverLoweredAndCatchUpOneAMinute)
{
    // Counts from an older version that ran ahead stay; counts that fell behind catch up one a
    // tick, active or not.
    EXPECT_EQ((UsageMinutes{30, 7, 1, 0}).tick(true, 0), (UsageMinutes{31, 7, 1, 0}));
    EXPECT_EQ((UsageMinutes{130, 0, 0, 0}).tick(false, 0), (UsageMinutes{130, 1, 1, 0}));
    EXPECT_EQ((UsageMinutes{130, 3, 3, 0}).tick(false, 0), (UsageMinutes{130, 4, 3, 0}));
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
