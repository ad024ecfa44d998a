#include "App/preview/MirrorPopover.h"

#include "App/shell/AppAppearance.h"
#include "App/shell/widgets/PopoverBackgroundView.h"
#include "Platform/UI/Popover.h"
#include "Platform/UI/Workspace.h"

namespace kx {

MirrorPopover::MirrorPopover()
    : viewController_(std::make_unique<MirrorPopoverViewController>())
    , popover_(std::make_shared<Popover>(Popover::Kind::attached))
    , background_(std::make_unique<PopoverBackgroundView>())
{
    viewController_->performMainAction = [this](const State& state) { performMainAction(state); };
    viewController_->retryAction = [this] {
        if (startLiveSharing)
            startLiveSharing();
    };
    gtk_fixed_put(background_->fixed(), viewController_->view(), 0, 0);
    background_->setPopover(popover_);
    // The active layout's link opens through the background view: web addresses only.
    background_->handleLinks(viewController_->activeView().message());
    applyAppearance();
    gtk_widget_show(background_->widget());
    popover_->setContentView(background_->widget());
    if (GTK_IS_POPOVER(popover_->frameWidget()))
        gtk_popover_set_modal(GTK_POPOVER(popover_->frameWidget()), FALSE);
    // Never removed: the closure does nothing once this popover is gone.
    AppAppearance::shared().observeHandlers.push_back([alive = std::weak_ptr<bool>(alive_), this] {
        if (!alive.expired())
            applyAppearance();
    });
}

MirrorPopover::~MirrorPopover()
{
    alive_.reset();
    popover_->close();
    if (gtk_widget_get_parent(viewController_->view()) == background_->widget())
        gtk_container_remove(GTK_CONTAINER(background_->widget()), viewController_->view());
    popover_->setContentView(nullptr);
    background_.reset();
    popover_.reset();
    viewController_.reset();
}

void MirrorPopover::applyAppearance()
{
    background_->setBackgroundColor(AppAppearance::shared().isDark() ? Color::colorWithHexColorString("2B2B2B")
                                                                     : AppAppearance::Colors::welcomeBackground());
}

void MirrorPopover::setState(State state)
{
    viewController_->reflect(std::move(state));
    updateDefaultButton();
}

void MirrorPopover::updateDefaultButton()
{
    // Return presses "Start", and nothing else.
    if (!GTK_IS_POPOVER(popover_->frameWidget()))
        return;
    GtkWidget* start = GTK_WIDGET(viewController_->availableView().mainButton());
    gtk_popover_set_default_widget(GTK_POPOVER(popover_->frameWidget()),
                                   state().kind == State::Kind::available ? start : nullptr);
}

void MirrorPopover::toggleVisible(GtkWidget* sender)
{
    if (isShown() || !sender) {
        close();
        return;
    }
    show(sender);
}

void MirrorPopover::show(GtkWidget* relativeTo)
{
    viewController_->viewWillAppear();
    updateDefaultButton();
    popover_->show(relativeTo, GTK_POS_BOTTOM);
    if (isShown())
        gtk_widget_grab_focus(GTK_WIDGET(viewController_->shownView().mainButton()));
}

void MirrorPopover::close()
{
    popover_->close();
}

bool MirrorPopover::isShown() const
{
    return popover_->isShown();
}

GtkWidget* MirrorPopover::frameWidget() const
{
    return popover_->frameWidget();
}

void MirrorPopover::performMainAction(const State& state)
{
    switch (state.kind) {
    case State::Kind::available:
        if (startLiveSharing)
            startLiveSharing();
        break;
    case State::Kind::active:
        if (stopLiveSharing)
            stopLiveSharing();
        close();
        break;
    case State::Kind::error:
        Workspace::shared().openURL(supportPageURL);
        break;
    default:
        break;
    }
}

} // namespace kx
