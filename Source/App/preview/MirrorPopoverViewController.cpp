#include "App/preview/MirrorPopoverViewController.h"

namespace kx {

MirrorPopoverViewController::MirrorPopoverViewController()
    : stack_(GObjectRef<GtkWidget>::sink(gtk_stack_new()))
{
    using Kind = MirrorPopoverState::Kind;
    availableView_ = std::make_unique<MirrorPopoverStateView>(Kind::available);
    startingView_ = std::make_unique<MirrorPopoverStateView>(Kind::starting);
    activeView_ = std::make_unique<MirrorPopoverStateView>(Kind::active);
    stoppingView_ = std::make_unique<MirrorPopoverStateView>(Kind::stopping);
    errorView_ = std::make_unique<MirrorPopoverStateView>(Kind::error);
    // Only these three act; starting and stopping keep their disabled buttons.
    for (MirrorPopoverStateView* view : {availableView_.get(), errorView_.get(), activeView_.get()}) {
        view->mainAction = [this] {
            if (performMainAction)
                performMainAction(state_);
        };
        gtk_widget_set_sensitive(GTK_WIDGET(view->mainButton()), TRUE);
    }
    errorView_->retryAction = [this] {
        if (retryAction)
            retryAction();
    };
    GtkStack* stack = GTK_STACK(stack_.get());
    gtk_stack_set_transition_type(stack, GTK_STACK_TRANSITION_TYPE_CROSSFADE);
    // Each layout keeps its own height: the popover takes the size of the one on show.
    gtk_stack_set_homogeneous(stack, FALSE);
    gtk_stack_set_vhomogeneous(stack, FALSE);
    gtk_stack_add_named(stack, availableView_->widget(), "available");
    gtk_stack_add_named(stack, startingView_->widget(), "starting");
    gtk_stack_add_named(stack, activeView_->widget(), "active");
    gtk_stack_add_named(stack, stoppingView_->widget(), "stopping");
    gtk_stack_add_named(stack, errorView_->widget(), "error");
    gtk_widget_show(stack_.get());
    reflect(state_);
}

MirrorPopoverViewController::~MirrorPopoverViewController()
{
    // The views' widgets leave the stack before the views go.
    for (MirrorPopoverStateView* view :
         {availableView_.get(), startingView_.get(), activeView_.get(), stoppingView_.get(), errorView_.get()})
        gtk_container_remove(GTK_CONTAINER(stack_.get()), view->widget());
}

MirrorPopoverStateView& MirrorPopoverViewController::viewForState(const MirrorPopoverState& state) const
{
    using Kind = MirrorPopoverState::Kind;
    switch (state.kind) {
    case Kind::available:
        return *availableView_;
    case Kind::starting:
        return *startingView_;
    case Kind::active:
        return *activeView_;
    case Kind::stopping:
        return *stoppingView_;
    case Kind::unavailable:
    case Kind::error:
        break;
    }
    return *errorView_;
}

void MirrorPopoverViewController::reflect(const MirrorPopoverState& state)
{
    state_ = state;
    MirrorPopoverStateView& view = viewForState(state_);
    view.reflect(state_);
    gtk_stack_set_visible_child(GTK_STACK(stack_.get()), view.widget());
}

} // namespace kx
