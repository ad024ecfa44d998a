// Where the support chat shows: a popover holding the messenger page, pointing at the button
// it was opened from.
#pragma once

#include <functional>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class MessengerPopover {
public:
    static constexpr int width = 380;
    static constexpr int height = 560;

    // `content` is kept for the popover's whole life.
    explicit MessengerPopover(GtkWidget* content);
    ~MessengerPopover();
    MessengerPopover(const MessengerPopover&) = delete;
    MessengerPopover& operator=(const MessengerPopover&) = delete;

    void showRelativeTo(GtkWidget* button);
    void hide();
    bool isShown() const;

    std::function<void()> didClose;

private:
    GObjectRef<GtkWidget> content_;
    GObjectRef<GtkWidget> popover_;
    SignalConnection closed_;
    SignalConnection buttonDestroyed_;
    void dropPopover();
};

} // namespace kx
