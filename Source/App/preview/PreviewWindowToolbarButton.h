// A button of the preview window's toolbar that draws only its image: centred on whole points,
// recoloured to one flat colour (white), at half opacity while pressed or while its window is
// not the active one. A button that shows its state may switch to an alternate image while on.
// Clicking, or Space or Return while it has the keyboard focus, calls the action; a focus ring
// shows the focus while the keyboard is in use, and a screen reader reads the name it is
// given (a button that shows its state as a toggle, with that state). Main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "App/shell/Color.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Geometry.h"

namespace kx {

class PreviewWindowToolbarButton {
public:
    static constexpr int buttonSize = 28;

    explicit PreviewWindowToolbarButton(std::string imageName, std::optional<std::string> alternateImageName = std::nullopt);
    virtual ~PreviewWindowToolbarButton();
    PreviewWindowToolbarButton(const PreviewWindowToolbarButton&) = delete;
    PreviewWindowToolbarButton& operator=(const PreviewWindowToolbarButton&) = delete;

    GtkWidget* widget() const { return button_.get(); }
    void setAction(std::function<void()> action) { action_ = std::move(action); }
    bool state() const { return state_; }
    void setState(bool on);
    bool isHighlighted() const;
    bool isEnabled() const { return gtk_widget_get_sensitive(widget()); }
    void setEnabled(bool enabled) { gtk_widget_set_sensitive(widget(), enabled); }
    // Marks the button for drawing.
    void setNeedsDisplay() { gtk_widget_queue_draw(widget()); }
    // What a screen reader reads for the button.
    void setAccessibleName(const std::string& name);
    void setAccessibleRole(AtkRole role);

    virtual bool showsState() const { return false; }
    // Whether the alternate image is drawn.
    virtual bool isOn() const { return showsState() && state(); }
    virtual Color color() const { return Color::colorWithHexColorString("#ffffff"); }

    // Where an image of `image` size is drawn in `bounds`: centred, on whole points.
    static Rect imageRect(Size bounds, Size image);
    // Full opacity only in the active window and while not pressed.
    static double opacity(bool isKey, bool isHighlighted) { return isKey && !isHighlighted ? 1.0 : 0.5; }

protected:
    enum class Kind { push, toggle };
    // A toggle keeps the GTK toggle button's state equal to its own, which is what a screen
    // reader reports as checked.
    PreviewWindowToolbarButton(std::string imageName, std::optional<std::string> alternateImageName, Kind kind);

private:
    bool draw(cairo_t* cr);

    std::string imageName_;
    std::optional<std::string> alternateImageName_;
    GObjectRef<GtkWidget> button_;
    std::function<void()> action_;
    bool state_ = false;
    // While the toggle's GTK state follows ours: the click it makes is not the user's.
    bool following_ = false;
    std::vector<SignalConnection> connections_;
    SignalConnection windowActive_;
};

} // namespace kx
