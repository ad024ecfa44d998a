// Placement and timing of the small widgets, computed without a display.
#include <gtest/gtest.h>

#include <cmath>

#include "App/shell/widgets/ClickableView.h"
#include "App/shell/widgets/DraggableImageView.h"
#include "App/shell/widgets/NamedImages.h"
#include "App/shell/widgets/PopoverBackgroundView.h"
#include "App/shell/widgets/Spinner.h"
#include "App/shell/widgets/View.h"

using kx::ClickableView;
using kx::Point;
using kx::Rect;
using kx::View;

TEST(WidgetGeometry, ImagesAreCentredOnWholePoints)
{
    EXPECT_EQ(View::centredOrigin({30, 30}, {15, 15}), (Point{7, 7}));
    EXPECT_EQ(View::centredOrigin({30, 30}, {12, 12}), (Point{9, 9}));
    // Larger than the bounds, rounded down (towards negative infinity).
    EXPECT_EQ(View::centredOrigin({10, 10}, {15, 15}), (Point{-3, -3}));

    // An image view shows its image at its own size, or scaled down to fit, centred.
    EXPECT_EQ(kx::DraggableImageView::imageRect({100, 50}, {20, 10}), (Rect{{40, 20}, {20, 10}}));
    EXPECT_EQ(kx::DraggableImageView::imageRect({100, 50}, {200, 50}), (Rect{{0, 12.5}, {100, 25}}));
    EXPECT_EQ(kx::DraggableImageView::imageRect({100, 50}, {0, 10}), Rect{});
    EXPECT_EQ(kx::DraggableImageView::imageRect({0, 50}, {10, 10}), Rect{});
}

TEST(WidgetGeometry, TheSpinnerTurnsClockwiseOnceASecond)
{
    EXPECT_DOUBLE_EQ(kx::Spinner::angle(0), 0);
    EXPECT_DOUBLE_EQ(kx::Spinner::angle(0.25), M_PI / 2);
    EXPECT_NEAR(kx::Spinner::angle(1.5), M_PI, 1e-12);
    EXPECT_EQ(kx::Spinner::angle(-1), 0);
    EXPECT_EQ(kx::Spinner::angle(INFINITY), 0);
}

TEST(WidgetGeometry, PressesCountAsOneSeriesWithinTheIntervalAndDistance)
{
    using namespace std::chrono_literals;
    const auto interval = 400ms;
    ClickableView::Press none;
    EXPECT_EQ(ClickableView::clickCount(none, 1000, {10, 10}, 1, interval, 5), 1);
    const ClickableView::Press first{1000, {10, 10}, 1, 1};
    EXPECT_EQ(ClickableView::clickCount(first, 1300, {12, 13}, 1, interval, 5), 2);
    const ClickableView::Press second{1300, {12, 13}, 1, 2};
    EXPECT_EQ(ClickableView::clickCount(second, 1600, {12, 13}, 1, interval, 5), 3);
    // Too late, too far, another button, or a clock that went back: a new series.
    EXPECT_EQ(ClickableView::clickCount(first, 1401, {10, 10}, 1, interval, 5), 1);
    EXPECT_EQ(ClickableView::clickCount(first, 1100, {16, 10}, 1, interval, 5), 1);
    EXPECT_EQ(ClickableView::clickCount(first, 1100, {10, 10}, 3, interval, 5), 1);
    EXPECT_EQ(ClickableView::clickCount(first, 900, {10, 10}, 1, interval, 5), 1);
}

TEST(WidgetGeometry, OnlyWebLinksOpen)
{
    EXPECT_TRUE(kx::PopoverBackgroundView::opensLink("https://example.com/share/abc"));
    EXPECT_TRUE(kx::PopoverBackgroundView::opensLink("HTTP://192.168.1.5:3000/"));
    EXPECT_FALSE(kx::PopoverBackgroundView::opensLink("file:///etc/passwd"));
    EXPECT_FALSE(kx::PopoverBackgroundView::opensLink("javascript:alert(1)"));
    EXPECT_FALSE(kx::PopoverBackgroundView::opensLink("/usr/bin/xterm"));
    EXPECT_FALSE(kx::PopoverBackgroundView::opensLink(""));
}
