// Store data for the preview page, and live sharing: the window asks the document's project
// server to start or stop sharing, follows the server's live-sharing status in its popover and
// copies the share address.
#include <string>

#include "App/preview/PreviewWindowController.h"
#include "App/server/ServerController.h"

namespace kx {

void PreviewWindowController::setUpLiveSharing()
{
    mirrorPopover_ = std::make_unique<MirrorPopover>();
    mirrorPopover_->startLiveSharing = [this] { startLiveSharing(); };
    mirrorPopover_->stopLiveSharing = [this] { stopLiveSharing(); };
    liveSharing_ = std::make_unique<PreviewLiveSharing>(
        [this](const MirrorPopoverState& state) { mirrorPopover_->setState(state); });
    addAction("startLiveSharing:", [this](Sender) { startLiveSharing(); });
    addAction("stopLiveSharing:", [this](Sender) { stopLiveSharing(); });
    addAction("copyLiveSharingURL:", [this](Sender) { copyLiveSharingURL(); });
    addAction("showLivePreview:", [this](Sender) { toggleLiveSharingPopover(liveSharingButton_->widget()); });
}

void PreviewWindowController::updateLiveSharingState()
{
    ServerController* server = document_ ? document_->serverController() : nullptr;
    if (!server)
        return;
    const auto& state = server->state();
    liveSharing_->update(server, state ? std::optional(state->liveSharing) : std::nullopt);
}

void PreviewWindowController::serverControllerDidChange()
{
    liveSharing_->forgetStatus();
    updateLiveSharingState();
}

void PreviewWindowController::startLiveSharing()
{
    if (ServerController* server = document_ ? document_->serverController() : nullptr)
        server->startLiveSharing();
    liveSharing_->didRequestStart();
}

void PreviewWindowController::stopLiveSharing()
{
    if (ServerController* server = document_ ? document_->serverController() : nullptr)
        server->stopLiveSharing();
}

void PreviewWindowController::copyLiveSharingURL()
{
    const auto& url = liveSharing_->liveSharingURL();
    if (!url)
        return;
    GtkClipboard* clipboard = gtk_clipboard_get_for_display(gtk_widget_get_display(window_->widget()), GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_set_text(clipboard, url->c_str(), int(url->size()));
}

void PreviewWindowController::toggleLiveSharingPopover(GtkWidget* fromButton)
{
    mirrorPopover_->toggleVisible(fromButton);
}

void PreviewWindowController::nimbetServerStoreData(const std::optional<nlohmann::json>& arguments)
{
    if (!arguments || !arguments->is_object() || !korvelViewController_)
        return;
    std::string json;
    try {
        // Compact; text that is not UTF-8 cannot become JSON and the data is dropped.
        json = arguments->dump();
    } catch (const nlohmann::json::exception&) {
        return;
    }
    korvelViewController_->webViewController().evaluateJavaScript("window._ipc.emit(\"serverStoreData\"," + json + ")");
}

} // namespace kx
