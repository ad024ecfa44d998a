// A plain view that runs a click callback or a double-click callback, and shows the arrow
// pointer while the pointer is over it. Its children are placed at points from its top left.
//
// With only a click callback a press runs it at once. With a double-click callback a single
// click waits half the desktop's double-click interval and is dropped when a second click
// comes in that time; the second click runs the double-click callback; further clicks of the
// same series run nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "App/shell/widgets/View.h"
#include "Platform/Foundation/MainQueue.h"

namespace kx {

class ClickableView : public View {
public:
    ClickableView();
    ~ClickableView() override;

    GtkFixed* fixed() const { return fixed_; }

    std::function<void()> clickHandler;
    std::function<void()> doubleClickHandler;

    // Runs the click callback, if any (the delayed single click).
    void doClick();

    // The place of a press in its series: 1 for a first click, 2 when it follows the previous
    // press of the same button within `interval` and `distance` points, and so on.
    struct Press {
        std::uint32_t time = 0;
        Point location;
        unsigned button = 0;
        int clickCount = 0;
    };
    static int clickCount(const Press& previous, std::uint32_t time, const Point& location, unsigned button,
                          std::chrono::milliseconds interval, double distance);

private:
    bool pressed(const GdkEventButton& event);

    GtkFixed* fixed_;
    Press lastPress_;
    std::shared_ptr<MainQueue::Timer> pendingClick_;
};

} // namespace kx
