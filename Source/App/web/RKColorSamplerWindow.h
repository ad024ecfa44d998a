// The loupe: a borderless round pop-up that follows the mouse while the sampler is open. It
// holds the pointer and keyboard grab for that time, so that motion anywhere, the click and
// Escape all reach it; losing the grab is losing the keyboard.
//
// X11 only. Elsewhere no client may read the screen, and the loupe refuses to open: its
// delegate hears at once that it resigned.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "App/web/RKColorSamplerView.h"
#include "App/web/RKColorSamplerWindowInterface.h"
#include "App/web/ScreenSnapshot.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class RKColorSamplerWindow final : public RKColorSamplerWindowInterface {
public:
    // `contentRect` gives the size; the position follows the mouse.
    explicit RKColorSamplerWindow(const Rect& contentRect);
    ~RKColorSamplerWindow() override;
    RKColorSamplerWindow(const RKColorSamplerWindow&) = delete;
    RKColorSamplerWindow& operator=(const RKColorSamplerWindow&) = delete;

    void setDelegate(RKColorSamplerWindowDelegate* delegate) override { delegate_ = delegate; }
    void setAcceptsMouseMovedEvents(bool accepts) override { acceptsMouseMovedEvents_ = accepts; }
    void makeKeyAndOrderFront() override;
    void orderOut() override;

    // Moves the loupe to the mouse and refreshes its capture, view and label. Without a screen
    // picture or a pointer it changes nothing.
    void setLocation();
    // The colour of the sampled pixel of the current capture; none before the first capture.
    std::optional<Color> getColor() const;
    // The label's markup for `value`.
    static std::string hex(const std::string& value);

    bool isKeyWindow() const { return isKey_; }
    bool isVisible() const;
    // In screen points, origin bottom left.
    Rect frame() const { return frame_; }
    std::string hexLabelText() const;
    GtkWidget* widget() const { return window_; }
    const RKColorSamplerView& view() const { return view_; }

private:
    void mouseMoved();
    void mouseDown(Point location);
    void cancelOperation();
    // A key loupe hides and resigns; `ungrab` unless the grab is already someone else's.
    void close(bool ungrab);
    void resignKey();
    static double screenHeight();
    static gboolean placeHexLabel(GtkOverlay* overlay, GtkWidget* child, GdkRectangle* allocation, gpointer);
    static gboolean onMotion(GtkWidget*, GdkEventMotion*, gpointer self);
    static gboolean onButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean onGrabBroken(GtkWidget*, GdkEventGrabBroken*, gpointer self);

    GtkWidget* window_;
    RKColorSamplerView view_;
    GtkWidget* hexLabel_;
    RKColorSamplerWindowDelegate* delegate_ = nullptr;
    bool acceptsMouseMovedEvents_ = false;
    bool isKey_ = false;
    Rect frame_;
    // The screen as it was before the loupe appeared; read for every move of one pick.
    std::optional<ScreenSnapshot> screen_;
    PixbufPtr imageRef_;
    std::vector<SignalConnection> connections_;
};

} // namespace kx
