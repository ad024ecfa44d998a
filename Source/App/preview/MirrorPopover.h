// The "Live Preview" popover of a preview window: a popover from the live-sharing button that
// shows whether sharing can start, is starting, runs (with the share address as a QR code and
// a link) or is stopping, or why it failed. Its state is set from outside (the server's
// status, the user's start); its main button starts or stops sharing through the window, or
// opens the support page. Non-modal; one per preview window. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "App/preview/MirrorPopoverState.h"
#include "App/preview/MirrorPopoverViewController.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class Popover;

class MirrorPopover {
public:
    using State = MirrorPopoverState;
    // The product web site's support page; the host is ours to choose.
    static constexpr const char* supportPageURL =
        "https://www.korvel.com/support/?utm_source=korvel_x_app&utm_medium=link&utm_campaign=help";

    MirrorPopover();
    ~MirrorPopover();
    MirrorPopover(const MirrorPopover&) = delete;
    MirrorPopover& operator=(const MirrorPopover&) = delete;

    const State& state() const { return viewController_->state(); }
    // Shown at once, also when equal to the current state.
    void setState(State state);

    // Closes the popover when it is shown or there is no sender; shows it below `sender`
    // otherwise.
    void toggleVisible(GtkWidget* sender);
    void show(GtkWidget* relativeTo);
    void close();
    bool isShown() const;

    MirrorPopoverViewController& viewController() const { return *viewController_; }
    // The GtkPopover.
    GtkWidget* frameWidget() const;

    // What the main button asks of the window; set by the window.
    std::function<void()> startLiveSharing;
    std::function<void()> stopLiveSharing;

private:
    void performMainAction(const State& state);
    void applyAppearance();
    void updateDefaultButton();
    void keepKeyboardFocus();
    bool activateLink(const std::string& url);

    std::unique_ptr<MirrorPopoverViewController> viewController_;
    std::shared_ptr<Popover> popover_;
    GObjectRef<GtkCssProvider> style_;
    SignalConnection linkConnection_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kx
