#include <gtest/gtest.h>

#include "App/web/MagnificationTracker.h"

namespace {

using kx::MagnificationTracker;
using Phase = MagnificationTracker::Phase;
using Type = kx::KorvelServices::MagnificationEventType;

TEST(MagnificationTracker, APinchBeginsChangesAndEndsWithZero)
{
    MagnificationTracker tracker;
    EXPECT_EQ(tracker.update(Phase::began, 0.0).type, Type::magnificationBegan);
    auto changed = tracker.update(Phase::changed, 0.25);
    EXPECT_EQ(changed.type, Type::magnificationChanged);
    EXPECT_EQ(changed.magnification, 0.25);
    auto ended = tracker.update(Phase::ended, 0.25);
    EXPECT_EQ(ended.type, Type::magnificationEnded);
    EXPECT_EQ(ended.magnification, 0);

    // A pinch whose first report is a change still begins, and the next pinch begins afresh.
    EXPECT_EQ(tracker.update(Phase::changed, -0.5).type, Type::magnificationBegan);
    tracker.update(Phase::ended, 0);
    EXPECT_EQ(tracker.update(Phase::began, 0).type, Type::magnificationBegan);
}

} // namespace
