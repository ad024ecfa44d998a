// Where the support chat shows: a pop-up window beside the button it was opened from (a page
// wants the keyboard and must not be clipped to the button's window), its background the
// page's own colour by day and by night.
#pragma once

#include <memory>

#include <gtk/gtk.h>

#include "Platform/Foundation/GObjectRef.h"

namespace kx {

class Popover;
class PopoverBackgroundView;

class MessengerPopover {
public:
    static constexpr int width = 380;
    static constexpr int height = 560;

    // `content` (the page) is kept for the popover's whole life and survives it.
    explicit MessengerPopover(GtkWidget* content);
    ~MessengerPopover();
    MessengerPopover(const MessengerPopover&) = delete;
    MessengerPopover& operator=(const MessengerPopover&) = delete;

    void showRelativeTo(GtkWidget* button);
    void hide();
    bool isShown() const;
    // The pop-up window.
    GtkWidget* frameWidget() const;

private:
    void applyAppearance();

    GObjectRef<GtkWidget> content_;
    std::shared_ptr<Popover> popover_;
    std::unique_ptr<PopoverBackgroundView> background_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kx
