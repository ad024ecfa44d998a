#include "App/preview/MirrorPopover.h"

#include "App/shell/AppAppearance.h"
#include "App/shell/widgets/PopoverBackgroundView.h"
#include "Platform/UI/Popover.h"
#include "Platform/UI/Workspace.h"

namespace kx {

MirrorPopover::MirrorPopover()
    : viewController_(std::make_unique<MirrorPopoverViewController>())
    , popover_(std::make_shared<Popover>(Popover::Kind::attached))
    , style_(GObjectRef<GtkCssProvider>::adopt(gtk_css_provider_new()))
{
    viewController_->performMainAction = [this](const State& state) { performMainAction(state); };
    viewController_->retryAction = [this] {
        if (startLiveSharing)
            startLiveSharing();
    };
    // The stack is the popover's own child: the popover sizes it height-for-width, which the
    // wrapped messages need.
    popover_->setContentView(viewController_->view());
    gtk_style_context_add_provider(gtk_widget_get_style_context(popover_->frameWidget()), GTK_STYLE_PROVIDER(style_.get()),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    applyAppearance();
    linkConnection_ = SignalConnection::connect<gboolean(GtkLabel*, gchar*)>(
        viewController_->activeView().message(), "activate-link",
        [this](GtkLabel*, gchar* uri) -> gboolean { return activateLink(uri ? uri : ""); });
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
    linkConnection_.disconnect();
    popover_->setContentView(nullptr);
    popover_.reset();
    viewController_.reset();
}

void MirrorPopover::applyAppearance()
{
    // The start window's background in the light appearance, arrow included.
    const bool dark = AppAppearance::shared().isDark();
    const std::string color = dark ? "#2B2B2B" : AppAppearance::Colors::welcomeBackground().hexColorString();
    const std::string css = "popover { background-color: " + color + "; background-image: none; }";
    gtk_css_provider_load_from_data(style_.get(), css.c_str(), -1, nullptr);
}

bool MirrorPopover::activateLink(const std::string& url)
{
    // Taken either way: GTK's own handling would open any scheme the server put there.
    if (!PopoverBackgroundView::opensLink(url))
        return true;
    Workspace::shared().openURL(url);
    return true;
}

void MirrorPopover::setState(State state)
{
    viewController_->reflect(std::move(state));
    updateDefaultButton();
    keepKeyboardFocus();
}

void MirrorPopover::keepKeyboardFocus()
{
    // The button that had the focus may belong to a layout no longer shown ("Start" once the
    // sharing starts): the focus then goes to the main button of the shown one ("Stop"), so
    // that the keys stay in the popover.
    if (!isShown())
        return;
    GtkWidget* toplevel = gtk_widget_get_toplevel(popover_->frameWidget());
    GtkWidget* focus = GTK_IS_WINDOW(toplevel) ? gtk_window_get_focus(GTK_WINDOW(toplevel)) : nullptr;
    GtkWidget* shown = viewController_->shownView().widget();
    if (focus && (gtk_widget_is_ancestor(focus, shown) || !gtk_widget_is_ancestor(focus, popover_->frameWidget())))
        return;
    GtkWidget* button = GTK_WIDGET(viewController_->shownView().mainButton());
    if (gtk_widget_is_sensitive(button))
        gtk_widget_grab_focus(button);
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
