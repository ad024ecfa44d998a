// The mouse handling of our buttons: a press of the primary button starts tracking; while it is
// held, whether the pointer is over the widget follows the pointer (GTK keeps sending the
// motion to the widget that took the press); a release over the widget is a click, a release
// elsewhere only ends the tracking. The presses are taken, so they never move the window.
// Main thread only.
#pragma once

#include <functional>
#include <vector>

#include <gtk/gtk.h>

#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Geometry.h"

namespace kx {

class ButtonTracking {
public:
    // `pressedOver` hears each change of the pressed look (true: held and over the widget);
    // `clicked` hears the release over it, after the look went back to rest.
    ButtonTracking(GtkWidget* widget, std::function<void(bool pressedOver)> pressedOver,
                   std::function<void()> clicked);
    ButtonTracking(const ButtonTracking&) = delete;
    ButtonTracking& operator=(const ButtonTracking&) = delete;

    bool isTracking() const { return tracking_; }
    bool isPressedOver() const { return tracking_ && over_; }

    // Whether `point` lies in a widget of `size`: left and top edges in, right and bottom out.
    static bool contains(const Size& size, const Point& point);

private:
    bool pressed(const GdkEventButton& event);
    bool moved(const GdkEventMotion& event);
    bool released(const GdkEventButton& event);
    Size size() const;
    void setOver(bool over);

    GtkWidget* widget_;
    std::function<void(bool)> pressedOver_;
    std::function<void()> clicked_;
    bool tracking_ = false;
    bool over_ = false;
    std::vector<SignalConnection> connections_;
};

} // namespace kx
