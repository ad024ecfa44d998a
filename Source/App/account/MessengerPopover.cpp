#include "App/account/MessengerPopover.h"

namespace kx {

MessengerPopover::MessengerPopover(GtkWidget* content)
    : content_(GObjectRef<GtkWidget>::retain(content))
{
    gtk_widget_set_size_request(content, width, height);
}

MessengerPopover::~MessengerPopover()
{
    dropPopover();
}

// The popover goes with its button, and a container takes its children along: the page is
// taken out first so that it survives for the next showing.
void MessengerPopover::dropPopover()
{
    closed_ = {};
    buttonDestroyed_ = {};
    if (auto popover = std::move(popover_)) {
        if (gtk_widget_get_parent(content_.get()) == popover.get())
            gtk_container_remove(GTK_CONTAINER(popover.get()), content_.get());
        gtk_popover_set_relative_to(GTK_POPOVER(popover.get()), nullptr);
        gtk_widget_destroy(popover.get());
    }
}

void MessengerPopover::showRelativeTo(GtkWidget* button)
{
    if (popover_ && gtk_popover_get_relative_to(GTK_POPOVER(popover_.get())) != button)
        dropPopover();
    if (!popover_) {
        popover_ = GObjectRef<GtkWidget>::retain(gtk_popover_new(button));
        gtk_popover_set_position(GTK_POPOVER(popover_.get()), GTK_POS_BOTTOM);
        gtk_popover_set_constrain_to(GTK_POPOVER(popover_.get()), GTK_POPOVER_CONSTRAINT_NONE);
        gtk_container_add(GTK_CONTAINER(popover_.get()), content_.get());
        closed_ = SignalConnection::connect<void(GtkPopover*)>(popover_.get(), "closed", [this](GtkPopover*) {
            if (didClose)
                didClose();
        });
        // Runs inside the button's destruction: this connection is left alone here (it dies
        // with the button), only the popover is taken apart.
        buttonDestroyed_ = SignalConnection::connect<void(GtkWidget*)>(button, "destroy", [this](GtkWidget*) {
            closed_ = {};
            if (auto popover = std::move(popover_)) {
                if (gtk_widget_get_parent(content_.get()) == popover.get())
                    gtk_container_remove(GTK_CONTAINER(popover.get()), content_.get());
                gtk_popover_set_relative_to(GTK_POPOVER(popover.get()), nullptr);
                gtk_widget_destroy(popover.get());
            }
            if (didClose)
                didClose();
        });
    }
    gtk_widget_show(content_.get());
    gtk_popover_popup(GTK_POPOVER(popover_.get()));
}

void MessengerPopover::hide()
{
    if (popover_)
        gtk_popover_popdown(GTK_POPOVER(popover_.get()));
}

bool MessengerPopover::isShown() const
{
    return popover_ && gtk_widget_get_visible(popover_.get());
}

} // namespace kx
