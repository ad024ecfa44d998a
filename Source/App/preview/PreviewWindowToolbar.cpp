#include "App/preview/PreviewWindowToolbar.h"

#include "App/preview/PreviewSettingsRules.h"
#include "Platform/UI/ResponderChain.h"

namespace kx {

PreviewWindowToolbar::PreviewWindowToolbar(GtkHeaderBar* bar, Responder& target, bool liveSharing)
    : settingsButton_(std::make_unique<PreviewWindowToolbarButton>("preview-settings"))
    , selectionLockButton_(std::make_unique<PreviewWindowToolbarButtonWithTint>("preview-lock", "preview-lock-on"))
    , consoleButton_(std::make_unique<PreviewWindowToolbarInspectorButton>("preview-console", "preview-console-alert"))
    , orientationButton_(std::make_unique<PreviewWindowToolbarButton>("preview-rotate"))
    , liveSharingButton_(liveSharing ? std::make_unique<PreviewWindowToolbarButton>("preview-live") : nullptr)
    , divider_(gtk_separator_new(GTK_ORIENTATION_VERTICAL))
{
    const auto sending = [&target](const char* action) {
        return [&target, action] { ResponderChain::shared().sendAction(action, &target, nullptr); };
    };
    settingsButton_->setAction(sending(PreviewSettingsRules::settingsButtonPressedAction));
    selectionLockButton_->setAction(sending(PreviewSettingsRules::toggleLockAction));
    consoleButton_->setAction(sending(PreviewSettingsRules::showPreviewInspectorAction));
    gtk_style_context_add_class(gtk_widget_get_style_context(divider_), "kx-preview-divider");
    gtk_widget_set_valign(divider_, GTK_ALIGN_CENTER);
    gtk_widget_set_size_request(divider_, 1, 15);
    gtk_header_bar_pack_start(bar, settingsButton_->widget());
    gtk_header_bar_pack_start(bar, divider_);
    gtk_header_bar_pack_start(bar, selectionLockButton_->widget());
    if (liveSharingButton_) {
        liveSharingButton_->setAction(sending("showLivePreview:"));
        liveSharingButton_->setAccessibleName("Live Preview");
        gtk_header_bar_pack_end(bar, liveSharingButton_->widget());
        gtk_widget_show(liveSharingButton_->widget());
    }
    gtk_header_bar_pack_end(bar, orientationButton_->widget());
    gtk_header_bar_pack_end(bar, consoleButton_->widget());
    // What a screen reader reads for the images; the console's name is its menu item's, the
    // live-sharing button's its popover's title.
    settingsButton_->setAccessibleName("Preview Settings");
    settingsButton_->setAccessibleRole(ATK_ROLE_PUSH_BUTTON_MENU);
    selectionLockButton_->setAccessibleName("Selection Lock");
    consoleButton_->setAccessibleName("Console");
    orientationButton_->setAccessibleName("Rotate");
    for (GtkWidget* widget : {settingsButton_->widget(), divider_, selectionLockButton_->widget(), consoleButton_->widget(),
                              orientationButton_->widget()})
        gtk_widget_show(widget);
}

void PreviewWindowToolbar::showDevice(bool hasSelection, bool canRotate, bool isCanvas)
{
    orientationButton_->setEnabled(canRotate);
    selectionLockButton_->setEnabled(hasSelection);
    gtk_widget_set_visible(orientationButton_->widget(), !isCanvas);
}

void PreviewWindowToolbar::showConsole(bool hasErrors, bool hasWarnings)
{
    consoleButton_->setIconState(hasErrors     ? InspectorButtonType::error
                                 : hasWarnings ? InspectorButtonType::warning
                                               : InspectorButtonType::normal);
    consoleButton_->setNeedsDisplay();
}

} // namespace kx
