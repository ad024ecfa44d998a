#include "App/account/MessengerPopover.h"

#include "App/shell/AppAppearance.h"
#include "App/shell/widgets/PopoverBackgroundView.h"
#include "Platform/UI/Popover.h"

namespace kx {

MessengerPopover::MessengerPopover(GtkWidget* content)
    : content_(GObjectRef<GtkWidget>::retain(content))
    , popover_(std::make_shared<Popover>(Popover::Kind::window))
    , background_(std::make_unique<PopoverBackgroundView>())
{
    gtk_widget_set_size_request(content, width, height);
    gtk_widget_set_size_request(background_->widget(), width, height);
    gtk_fixed_put(background_->fixed(), content, 0, 0);
    gtk_widget_show(content);
    background_->setPopover(popover_);
    applyAppearance();
    popover_->setContentView(background_->widget());
    // Never removed: the closure does nothing once this popover is gone.
    AppAppearance::shared().observeHandlers.push_back([alive = std::weak_ptr<bool>(alive_), this] {
        if (!alive.expired())
            applyAppearance();
    });
}

MessengerPopover::~MessengerPopover()
{
    alive_.reset();
    // The page outlives the popover: out before the views that hold it go.
    if (gtk_widget_get_parent(content_.get()) == background_->widget())
        gtk_container_remove(GTK_CONTAINER(background_->widget()), content_.get());
    popover_->setContentView(nullptr);
    background_.reset();
    popover_.reset();
}

void MessengerPopover::applyAppearance()
{
    // The messenger page's own background, so that no seam shows at its edges.
    background_->setBackgroundColor(
        Color::colorWithHexColorString(AppAppearance::shared().isDark() ? "1E1E1E" : "FFFFFF"));
}

void MessengerPopover::showRelativeTo(GtkWidget* button)
{
    popover_->show(button, GTK_POS_BOTTOM);
}

void MessengerPopover::hide()
{
    popover_->close();
}

bool MessengerPopover::isShown() const
{
    return popover_->isShown();
}

GtkWidget* MessengerPopover::frameWidget() const
{
    return popover_->frameWidget();
}

} // namespace kx
