// Where a shaken window stands at each moment, and where a pop-up window goes beside its
// button.
#include <gtest/gtest.h>

#include "Platform/UI/Popover.h"
#include "Platform/UI/Window.h"

using kx::Point;
using kx::Popover;
using kx::Rect;
using kx::Window;

TEST(WindowShake, TwoPassesFromMinusToPlusOnePercentAndBack)
{
    const double width = 400; // 1 % is 4 points
    EXPECT_DOUBLE_EQ(Window::shakeOffset(0, width), -4);
    EXPECT_NEAR(Window::shakeOffset(0.025, width), 0, 1e-9);
    EXPECT_DOUBLE_EQ(Window::shakeOffset(0.05, width), 4);
    EXPECT_NEAR(Window::shakeOffset(0.075, width), 0, 1e-9);
    EXPECT_NEAR(Window::shakeOffset(0.1, width), -4, 1e-9); // the second pass starts over
    EXPECT_NEAR(Window::shakeOffset(0.15, width), 4, 1e-9);
    for (double t = 0; t < Window::shakeDuration; t += 0.001) {
        EXPECT_LE(std::abs(Window::shakeOffset(t, width)), 4 + 1e-9);
    }
    // Done, or not started: the window stands where it was.
    EXPECT_EQ(Window::shakeOffset(Window::shakeDuration, width), 0);
    EXPECT_EQ(Window::shakeOffset(5, width), 0);
    EXPECT_EQ(Window::shakeOffset(-0.01, width), 0);
    EXPECT_EQ(Window::shakeOffset(std::nan(""), width), 0);
}

TEST(PopoverWindow, SitsCentredOnTheChosenSideAndInsideTheWorkArea)
{
    const Rect button{{100, 50}, {40, 20}};
    const Rect screen{{0, 0}, {1600, 1000}};
    EXPECT_EQ(Popover::windowOrigin(button, {200, 300}, GTK_POS_BOTTOM, screen), (Point{20, 70}));
    EXPECT_EQ(Popover::windowOrigin({{700, 500}, {40, 20}}, {200, 300}, GTK_POS_TOP, screen), (Point{620, 200}));
    EXPECT_EQ(Popover::windowOrigin({{700, 500}, {40, 20}}, {200, 300}, GTK_POS_LEFT, screen), (Point{500, 360}));
    EXPECT_EQ(Popover::windowOrigin({{700, 500}, {40, 20}}, {200, 300}, GTK_POS_RIGHT, screen), (Point{740, 360}));
    // Moved in from the edges of the work area (a panel at the top here).
    EXPECT_EQ(Popover::windowOrigin({{0, 40}, {20, 20}}, {200, 300}, GTK_POS_TOP, {{0, 30}, {1600, 970}}), (Point{0, 30}));
    EXPECT_EQ(Popover::windowOrigin({{1580, 980}, {20, 20}}, {200, 300}, GTK_POS_BOTTOM, screen), (Point{1400, 700}));
    // Larger than the work area: its top left corner stays inside.
    EXPECT_EQ(Popover::windowOrigin(button, {2000, 1200}, GTK_POS_BOTTOM, screen), (Point{0, 0}));
    // Without a known work area it goes where the side says.
    EXPECT_EQ(Popover::windowOrigin(button, {200, 300}, GTK_POS_TOP, {}), (Point{20, -250}));
}
