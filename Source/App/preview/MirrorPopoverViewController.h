// The content of the live-sharing popover: one prepared layout per situation in a stack that
// cross-fades from one to the next, all 210 points wide. Reflecting a state picks its layout
// ("unavailable" and "error" share the error layout) and fills it in. Main thread only.
#pragma once

#include <functional>
#include <memory>

#include <gtk/gtk.h>

#include "App/preview/MirrorPopoverState.h"
#include "App/preview/MirrorPopoverStateView.h"
#include "Platform/Foundation/GObjectRef.h"

namespace kx {

class MirrorPopoverViewController {
public:
    MirrorPopoverViewController();
    ~MirrorPopoverViewController();
    MirrorPopoverViewController(const MirrorPopoverViewController&) = delete;
    MirrorPopoverViewController& operator=(const MirrorPopoverViewController&) = delete;

    // The transition view: a GtkStack.
    GtkWidget* view() const { return stack_.get(); }
    const MirrorPopoverState& state() const { return state_; }
    void reflect(const MirrorPopoverState& state);
    // Reflects the current state again, as the popover is about to show.
    void viewWillAppear() { reflect(state_); }

    MirrorPopoverStateView& availableView() const { return *availableView_; }
    MirrorPopoverStateView& startingView() const { return *startingView_; }
    MirrorPopoverStateView& activeView() const { return *activeView_; }
    MirrorPopoverStateView& stoppingView() const { return *stoppingView_; }
    MirrorPopoverStateView& errorView() const { return *errorView_; }
    // The layout a state shows.
    MirrorPopoverStateView& viewForState(const MirrorPopoverState& state) const;
    MirrorPopoverStateView& shownView() const { return viewForState(state_); }

    // Called with the current state when an enabled main button is pressed.
    std::function<void(const MirrorPopoverState&)> performMainAction;
    std::function<void()> retryAction;

private:
    GObjectRef<GtkWidget> stack_;
    std::unique_ptr<MirrorPopoverStateView> availableView_;
    std::unique_ptr<MirrorPopoverStateView> startingView_;
    std::unique_ptr<MirrorPopoverStateView> activeView_;
    std::unique_ptr<MirrorPopoverStateView> stoppingView_;
    std::unique_ptr<MirrorPopoverStateView> errorView_;
    MirrorPopoverState state_;
};

} // namespace kx
