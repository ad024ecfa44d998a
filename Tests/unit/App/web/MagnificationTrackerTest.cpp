#include <gtest/gtest.h>

#include "App/web/MagnificationTracker.h"

namespace {

using kx::MagnificationTracker;
using Phase = MagnificationTracker::Phase;
using Type = MagnificationTracker::EventType;

TEST(MagnificationTracker, APinchBeginsChangesAndEndsWithZero)
{
    MagnificationTracker tracker;
    auto began = tracker.update(Phase::began, 0.0);
    EXPECT_EQ(began.type, Type::magnificationBegan);
    EXPECT_TRUE(tracker.isMagnifying());
    auto changed = tracker.update(Phase::changed, 0.25);
    EXPECT_EQ(changed.type, Type::magnificationChanged);
    EXPECT_EQ(changed.magnification, 0.25);
    EXPECT_EQ(changed.normalizedTouchOffset, (kx::Point{0, 0}));
    auto ended = tracker.update(Phase::ended, 0.25);
    EXPECT_EQ(ended.type, Type::magnificationEnded);
    EXPECT_EQ(ended.magnification, 0);
    EXPECT_FALSE(tracker.isMagnifying());

    // A pinch whose first report is a change still begins, and the next pinch begins afresh.
    EXPECT_EQ(tracker.update(Phase::changed, -0.5).type, Type::magnificationBegan);
    EXPECT_EQ(tracker.update(Phase::changed, -0.4).type, Type::magnificationChanged);
    tracker.update(Phase::ended, 0);
    EXPECT_EQ(tracker.update(Phase::began, 0).type, Type::magnificationBegan);
}

} // namespace
