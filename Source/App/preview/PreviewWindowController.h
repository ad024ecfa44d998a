// The controller of one document's preview window: it owns the window, its toolbar, the
// preview page and the document's device catalogue and device menu; it listens to the
// document's own project server (state, selection, reload requests), keeps the window above
// others while "KLPreviewKeepOnTop" says so, shows, reloads and sizes the window, and derives
// the device the preview shows from the editor's current selection.
//
// It wires the parts that keep their own state and answers for them:
// - PreviewDeviceSelection: the last selection and the device it shows;
// - PreviewWindowSizing: the window's size and place, resizes and moves by the user, the title;
// - PreviewSettingsMenu and PreviewWindowToolbar: the menu's items and the toolbar's buttons;
// - PreviewLiveSharing and the MirrorPopover: live sharing.
//
// The window's own actions never change the device: they ask the editor page, and the window
// follows when the next selection arrives. Values below that derive from the selection (and
// the device catalogue it is looked up in) change with each one and nothing announces them:
// the widgets that show them are refreshed after every selection update and every catalogue.
//
// Main thread only. Made with `make`; `cleanup` before the document closes.
#pragma once

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <gtk/gtk.h>

#include "App/preview/DeviceManager.h"
#include "App/preview/DeviceMenuHost.h"
#include "App/preview/DeviceSettingsMenuController.h"
#include "App/preview/KorvelViewController.h"
#include "App/preview/MirrorPopover.h"
#include "App/preview/PreviewDeviceSelection.h"
#include "App/preview/PreviewLiveSharing.h"
#include "App/preview/NimbetSelection.h"
#include "App/preview/PreviewDocument.h"
#include "App/preview/PreviewSettingsMenu.h"
#include "App/preview/PreviewSettingsRules.h"
#include "App/preview/PreviewSizing.h"
#include "App/preview/PreviewWindow.h"
#include "App/preview/PreviewWindowSizing.h"
#include "App/preview/PreviewWindowToolbar.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/NativeMenu.h"
#include "Platform/UI/Responder.h"

namespace kx {

class PreviewWindowController : public Responder,
                                public DeviceMenuHost,
                                public std::enable_shared_from_this<PreviewWindowController> {
public:
    static constexpr const char* keepOnTopDefault = "KLPreviewKeepOnTop";

    static std::shared_ptr<PreviewWindowController> make(std::shared_ptr<PreviewDocument> document);
    ~PreviewWindowController() override;

    PreviewWindow* window() const { return window_.get(); }
    const std::shared_ptr<PreviewDocument>& document() const { return document_; }
    KorvelViewController* korvelViewController() const { return korvelViewController_.get(); }
    DeviceManager& deviceManager() { return deviceManager_; }
    const DeviceManager& deviceManager() const override { return deviceManager_; }
    DeviceSettingsMenuController& deviceMenuController() { return *deviceMenuController_; }

    // Outlets.
    const std::shared_ptr<NativeMenu>& settingsMenu() const { return settingsMenu_->menu(); }
    NativeMenuItem* canvasMenuItem() const { return settingsMenu_->canvasItem(); }
    NativeMenuItem* deviceMenuItem() const override { return settingsMenu_->deviceItem(); }
    NativeMenu* deviceCategoriesMenu() const override { return settingsMenu_->deviceCategoriesMenu(); }
    NativeMenuItem* touchCursorMenuItem() const { return settingsMenu_->touchCursorItem(); }
    NativeMenuItem* landscapeMenuItem() const { return settingsMenu_->landscapeItem(); }
    PreviewWindowToolbarButton& settingsButton() const { return toolbar_->settingsButton(); }
    PreviewWindowToolbarButtonWithTint& selectionLockButton() const { return toolbar_->selectionLockButton(); }
    PreviewWindowToolbarInspectorButton& consoleButton() const { return toolbar_->consoleButton(); }
    PreviewWindowToolbarButton& orientationButton() const { return toolbar_->orientationButton(); }
    // nullptr where live sharing is not available.
    PreviewWindowToolbarButton* liveSharingButton() const { return toolbar_->liveSharingButton(); }
    GtkWidget* dividerView() const { return toolbar_->divider(); }

    // ---- Showing, reloading, going away ----
    void showWithMakeKey(bool makeKey, bool animated = true);
    // On the next turn of the main loop.
    void reload();
    void cleanup();
    bool isFirstAppearance() const { return sizing_->isFirstAppearance(); }
    bool isVisible() const;
    bool isMiniaturized() const;
    void orderOut();

    // ---- The selection ----
    void nimbetPreviewUpdate(const std::string& previewData);
    const std::optional<NimbetSelection>& selection() const { return deviceSelection_.selection(); }
    const std::optional<std::string>& postCanvasModeDeviceMenuType() const
    {
        return deviceSelection_.postCanvasModeDeviceMenuType();
    }
    // Sends the editor the device (and skin) of `menuType`.
    void handleDeviceMenuSelection(const std::string& menuType) override;
    void orientationButtonPressed();

    // ---- The settings menu and toggles (PreviewWindowControllerSettings.cpp) ----
    // Each sends the editor what to change; the window follows the next selection.
    void settingsButtonPressed();
    void selectCanvasMode();
    void selectResponsiveCanvasMode();
    void clickDeviceMenuItem();
    void selectSkin(const std::any& representedObject);
    void toggleResponsive();
    void toggleTouchCursor();
    void toggleHand();
    void toggleLock(bool on);
    void showPreviewInspector();
    void togglePreviewFullscreen();
    void reloadPreview();
    NativeMenuItem* keepOnTopMenuItem() const { return settingsMenu_->keepOnTopItem(); }
    // The window's frame, for the next launch: {"frame": [x, y, width, height]}.
    nlohmann::json encodeRestorableState() const { return sizing_->encodeFrame(); }
    // Puts the window where `state` says (the first appearance's own frame wins until the
    // window was shown); a state that does not read changes nothing.
    void restoreState(const nlohmann::json& state) { sizing_->restoreFrame(state); }

    // ---- Store data and live sharing ----
    // Hands the editor's store data to the preview page as its "serverStoreData" event.
    void nimbetServerStoreData(const std::optional<nlohmann::json>& arguments);
    void startLiveSharing() { liveSharing_->start(); }
    void stopLiveSharing() { liveSharing_->stop(); }
    // Puts the share address on the clipboard; nothing before the server reported one.
    void copyLiveSharingURL();
    void toggleLiveSharingPopover(GtkWidget* fromButton) { mirrorPopover_->toggleVisible(fromButton); }
    // Takes the live-sharing status of the document's server into the popover.
    void updateLiveSharingState() { liveSharing_->refresh(); }
    // The document calls this after it replaced its project server controller.
    void serverControllerDidChange() { liveSharing_->serverDidChange(); }
    MirrorPopover& mirrorPopover() const { return *mirrorPopover_; }
    PreviewLiveSharing& liveSharing() const { return *liveSharing_; }
    const std::optional<std::string>& liveSharingStatus() const { return liveSharing_->liveSharingStatus(); }
    const std::optional<std::string>& liveSharingURL() const { return liveSharing_->liveSharingURL(); }

    // ---- Device properties, from the selection (PreviewDeviceSelection) ----
    const DeviceDescriptor* deviceDescriptor() const { return deviceSelection_.deviceDescriptor(); }
    bool deviceIsCanvas() const { return deviceSelection_.deviceIsCanvas(); }
    std::optional<std::string> deviceSkin() const { return deviceSelection_.deviceSkin(); }
    std::string deviceMenuType() const override { return deviceSelection_.deviceMenuType(); }
    double deviceZoom() const { return deviceSelection_.deviceZoom(); }
    bool deviceResponsive() const { return deviceSelection_.deviceResponsive(); }
    bool deviceRotate() const { return deviceSelection_.deviceRotate(); }
    bool deviceShowBezel() const { return deviceSelection_.deviceShowBezel(); }
    bool deviceShowHand() const { return deviceSelection_.deviceShowHand(); }
    std::optional<std::string> deviceHand() const { return deviceSelection_.deviceHand(); }
    bool deviceTouchCursor() const { return deviceSelection_.deviceTouchCursor(); }
    bool deviceHasSize() const { return deviceSelection_.deviceHasSize(); }
    Size deviceSize() const { return deviceSelection_.deviceSize(); }
    bool deviceHasHand() const { return deviceSelection_.deviceHasHand(); }
    bool deviceCanRotate() const { return deviceSelection_.deviceCanRotate(); }
    bool hasSelection() const { return deviceSelection_.hasSelection(); }
    std::optional<std::string> selectionId() const { return deviceSelection_.selectionId(); }
    bool isFullScreen() const;
    bool wasKeyWindow() const { return wasKeyWindow_; }

    // ---- Server state ----
    bool previewInspectorHasErrors() const { return previewInspectorHasErrors_; }
    bool previewInspectorHasWarnings() const { return previewInspectorHasWarnings_; }
    void updateInspectorIcon() { toolbar_->showConsole(previewInspectorHasErrors_, previewInspectorHasWarnings_); }

    // ---- Sizing, title, inspector (PreviewWindowSizing) ----
    Size intrinsicContentSize() const { return deviceSelection_.intrinsicContentSize(); }
    std::optional<Rect> updatedWindowFrameForFirstAppearance(const Rect& frame) const
    {
        return sizing_->firstAppearanceFrame(frame);
    }
    double titleBarHeight() const { return sizing_->titleBarHeight(); }
    void windowWillStartLiveResize() { sizing_->willStartLiveResize(); }
    void windowDidEndLiveResize();
    Size windowWillResize(Size proposed);
    bool isLiveResizing() const { return sizing_->isLiveResizing(); }
    const std::optional<Size>& windowSizeAtStartOfResizing() const { return sizing_->sizeAtStartOfResizing(); }
    // A move of the window by the user, from the title bar's press to the button's release.
    void windowWillMove();
    void windowDidMove() { sizing_->windowDidMove(); }
    bool isTrackingMove() const { return sizing_->isTrackingMove(); }
    double previewContentScale() const { return sizing_->contentScale(); }
    // True when the value changed (and the title is due).
    bool setPreviewContentScale(double scale) { return sizing_->setContentScale(scale); }
    void updateTitle();
    // The window's own title, which the title bar does not show (its label shows the scale):
    // "NAME — Preview", as the desktop's window lists and screen readers name the window.
    void synchronizeWindowTitleWithDocumentName();
    void showInspector();

    bool performKeyEquivalent(const KeyEvent& event) override;
    bool validateUserInterfaceItem(ValidatedUserInterfaceItem& item) override;

private:
    explicit PreviewWindowController(std::shared_ptr<PreviewDocument> document);
    // The set-up once the controller is shared: the page's link back, the first reload, the
    // keep-on-top setting, the server's observers, and the selection and live sharing the
    // server holds already.
    void awakeFromNib();
    // Then the page's document, the window's first frame and its title.
    void windowDidLoad();
    void addSettingsActions();
    void setUpLiveSharing();
    bool validateSettingsItem(ValidatedUserInterfaceItem& item);
    void sendPreviewSettings(const nlohmann::json& settings);
    ServerController* server() const;
    void observeServer();
    bool isOwnServer(const Notification& notification) const;
    void applyKeepOnTop();
    void selectionDidChange();
    void showDeviceInToolbar();
    void setupMenu();
    void serverStateDidUpdate();
    void serverPreviewDataDidUpdate();
    bool keyPressed(const GdkEventKey& event);
    void mouseDidDrag();
    void windowDidEndMoving();
    void sendEditor(const std::string& name, const std::vector<std::optional<nlohmann::json>>& arguments = {});

    std::shared_ptr<PreviewDocument> document_;
    NotificationCenter::Token serverStateUpdateObserver_;
    NotificationCenter::Token previewDataUpdateObserver_;
    NotificationCenter::Token previewReloadObserver_;
    NotificationCenter::Token devicesObserver_;
    UserDefaults::Token keepOnTopObserver_;
    bool wasKeyWindow_ = false;
    bool previewInspectorHasErrors_ = false;
    bool previewInspectorHasWarnings_ = false;

    DeviceManager deviceManager_;
    PreviewDeviceSelection deviceSelection_;
    std::unique_ptr<PreviewWindow> window_;
    std::unique_ptr<PreviewWindowSizing> sizing_;
    std::shared_ptr<KorvelViewController> korvelViewController_;
    std::unique_ptr<PreviewSettingsMenu> settingsMenu_;
    std::unique_ptr<PreviewWindowToolbar> toolbar_;
    std::unique_ptr<DeviceSettingsMenuController> deviceMenuController_;
    std::unique_ptr<MirrorPopover> mirrorPopover_;
    std::unique_ptr<PreviewLiveSharing> liveSharing_;
    std::vector<SignalConnection> connections_;
    bool cleanedUp_ = false;
};

} // namespace kx
