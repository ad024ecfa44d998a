// The input of our drawn buttons. The mouse: a press of the primary button starts tracking;
// while it is held, whether the pointer is over the widget follows the pointer (GTK keeps
// sending the motion to the widget that took the press); a release over the widget is a click,
// a release elsewhere only ends the tracking. The presses are taken, so they never move the
// window. The keyboard: the widget takes the focus (Tab reaches it, a click does not give it),
// Space, Return and Enter click it, and a focus ring shows over it while the keyboard is in use.
// A screen reader finds it as a button of `role`, named by `setAccessibleName`, else by its
// tooltip, and presses it through its action "click" when the widget was made with
// Accessibility::newButtonArea. Main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <atk/atk.h>

#include <gtk/gtk.h>

#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Geometry.h"

namespace kx {

class ButtonTracking {
public:
    // `pressedOver` hears each change of the pressed look (true: held and over the widget);
    // `clicked` hears the release over it, after the look went back to rest.
    ButtonTracking(GtkWidget* widget, std::function<void(bool pressedOver)> pressedOver,
                   std::function<void()> clicked, AtkRole role = ATK_ROLE_PUSH_BUTTON);
    ButtonTracking(const ButtonTracking&) = delete;
    ButtonTracking& operator=(const ButtonTracking&) = delete;

    bool isTracking() const { return tracking_; }
    bool isPressedOver() const { return tracking_ && over_; }

    // What a screen reader reads (the visible title); without one, the tooltip.
    void setAccessibleName(std::string name);
    // A button that pops a menu up says so.
    void setAccessibleRole(AtkRole role);
    // Corners of the focus ring, as the button's own shape.
    void setFocusCornerRadius(double radius) { focusCornerRadius_ = radius; }
    void setFocusInset(double inset) { focusInset_ = inset; }

    // Whether `point` lies in a widget of `size`: left and top edges in, right and bottom out.
    static bool contains(const Size& size, const Point& point);

private:
    bool pressed(const GdkEventButton& event);
    bool moved(const GdkEventMotion& event);
    bool released(const GdkEventButton& event);
    bool keyPressed(const GdkEventKey& event);
    void click();
    void nameFromTooltip();
    Size size() const;
    void setOver(bool over);

    GtkWidget* widget_;
    std::function<void(bool)> pressedOver_;
    std::function<void()> clicked_;
    bool tracking_ = false;
    bool over_ = false;
    std::optional<std::string> accessibleName_;
    double focusCornerRadius_ = 4.0;
    double focusInset_ = 0.0;
    std::vector<SignalConnection> connections_;
};

} // namespace kx
