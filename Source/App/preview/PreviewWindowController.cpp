#include "App/preview/PreviewWindowController.h"

#include <algorithm>
#include <cstdio>

#include "App/editor/BaseNimbetViewController.h"
#include "App/server/ServerController.h"
#include "App/shell/AppInfo.h"
#include "App/web/WKWebViewExtras.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/IfAlive.h"

namespace kx {

namespace {

constexpr const char* orientationAction = PreviewSettingsRules::orientationAction;

bool isArrowOrKeypad(guint keyval)
{
    switch (keyval) {
    case GDK_KEY_Up:
    case GDK_KEY_Down:
    case GDK_KEY_Left:
    case GDK_KEY_Right:
        return true;
    default:
        return keyval >= GDK_KEY_KP_Space && keyval <= GDK_KEY_KP_9;
    }
}

} // namespace

std::shared_ptr<PreviewWindowController> PreviewWindowController::make(std::shared_ptr<PreviewDocument> document)
{
    std::shared_ptr<PreviewWindowController> controller(new PreviewWindowController(std::move(document)));
    controller->awakeFromNib();
    controller->windowDidLoad();
    return controller;
}

PreviewWindowController::PreviewWindowController(std::shared_ptr<PreviewDocument> document)
    : document_(std::move(document))
    , deviceSelection_(deviceManager_, document_ != nullptr)
    , window_(std::make_unique<PreviewWindow>())
    , sizing_(std::make_unique<PreviewWindowSizing>(
          *window_,
          [this] {
              return PreviewWindowSizing::Device{intrinsicContentSize(), deviceSelection_.isFreeResizing(),
                                                 deviceShowBezel()};
          },
          [this] { return document_ ? document_->documentWindow() : nullptr; }))
    , korvelViewController_(KorvelViewController::make())
{
    settingsMenu_ = std::make_unique<PreviewSettingsMenu>();
    // The project server of an enterprise build shares nothing (it runs without live sharing).
    toolbar_ = std::make_unique<PreviewWindowToolbar>(window_->headerBar(), *this, !AppInfo::current()->isEnterprise());
    toolbar_->orientationButton().setAction([this] { orientationButtonPressed(); });
    deviceMenuController_ = std::make_unique<DeviceSettingsMenuController>(*this);
    window_->setPreviewPage(korvelViewController_->view());
    // The window's responder: its key equivalents, its actions, then the document's.
    attachToWidget(window_->widget());
    if (document_)
        setNextResponder(document_->responder());
    addAction(orientationAction, [this](Sender) { orientationButtonPressed(); });
    addSettingsActions();
    setUpLiveSharing();
    // The main menu's bar, hidden: its accelerators reach the document from here too.
    window_->setMenu(NativeMenu::mainMenu());
    window_->setMenuBarVisible(false);
    window_->keyPressed = [this](const GdkEventKey& event) { return keyPressed(event); };
    window_->willClose = [this] {
        if (korvelViewController_)
            WKWebViewExtras::closeInspector(korvelViewController_->webViewController().webView().wkWebView());
    };
    PreviewWindow::ResizeHandler resizing;
    resizing.willStart = [this] { windowWillStartLiveResize(); };
    resizing.frameForDrag = [this](const Rect& start, unsigned edges, double dx, double dy) {
        return sizing_->frameForDrag(start, edges, windowWillResize(PreviewWindow::draggedFrame(start, edges, dx, dy).size));
    };
    resizing.didEnd = [this] { windowDidEndLiveResize(); };
    window_->setResizeHandler(std::move(resizing));

    GtkWidget* gtkWindow = window_->widget();
    connections_.push_back(SignalConnection::connect<void(GObject*, GParamSpec*)>(
        gtkWindow, "notify::is-active", [this](GObject* object, GParamSpec*) {
            if (gtk_window_is_active(GTK_WINDOW(object))) {
                wasKeyWindow_ = true;
                return;
            }
            // Code that runs while another window becomes key still sees this one as key.
            MainQueue::async(ifAlive(weak_from_this(), [](PreviewWindowController& self) {
                if (!gtk_window_is_active(self.window_->gtkWindow()))
                    self.wasKeyWindow_ = false;
            }));
        }));
    // A press on the title bar may start a move of the window; GTK goes on to move it.
    window_->titleBarPressed = [this] { windowWillMove(); };
    window_->titleBarReleased = [this] {
        if (isTrackingMove())
            windowDidEndMoving();
    };
    connections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEventConfigure*)>(
        gtkWindow, "configure-event", [this](GtkWidget*, GdkEventConfigure*) -> gboolean {
            windowDidMove();
            return FALSE;
        }));
}

PreviewWindowController::~PreviewWindowController()
{
    sizing_.reset();
    connections_.clear();
    keepOnTopObserver_.reset();
    serverStateUpdateObserver_.reset();
    previewDataUpdateObserver_.reset();
    previewReloadObserver_.reset();
    devicesObserver_.reset();
    deviceMenuController_.reset();
    liveSharing_.reset();
    mirrorPopover_.reset();
    attachToWidget(nullptr);
    korvelViewController_.reset();
    window_.reset();
}

void PreviewWindowController::awakeFromNib()
{
    korvelViewController_->setPreviewWindowController(weak_from_this());
    reload();
    keepOnTopObserver_ = UserDefaults::standard().observe(keepOnTopDefault, [weak = weak_from_this()] {
        // Defaults may change on another thread; windows change on this one.
        MainQueue::async(ifAlive(weak, &PreviewWindowController::applyKeepOnTop));
    });
    applyKeepOnTop();
    gtk_label_set_ellipsize(window_->titleLabel(), PANGO_ELLIPSIZE_MIDDLE);
    observeServer();
    // The page may send its catalogue after the selection: only then is the device that the
    // selection names known, and with it whether it turns.
    devicesObserver_ = NotificationCenter::defaultCenter().addObserver(
        DevicesChangeNotification, &deviceManager_,
        ifAlive(weak_from_this(), [](PreviewWindowController& self, const Notification&) {
            self.selectionDidChange();
            self.setupMenu();
        }));
    if (ServerController* own = server(); own && own->previewData())
        nimbetPreviewUpdate(*own->previewData());
    showDeviceInToolbar();
    updateLiveSharingState();
}

void PreviewWindowController::windowDidLoad()
{
    korvelViewController_->setDocument(document_);
    window_->setFrame(sizing_->placed(window_->frame()));
    synchronizeWindowTitleWithDocumentName();
    updateTitle();
}

ServerController* PreviewWindowController::server() const
{
    return document_ ? document_->serverController() : nullptr;
}

bool PreviewWindowController::isOwnServer(const Notification& notification) const
{
    ServerController* own = server();
    return own && own->isSender(notification);
}

void PreviewWindowController::observeServer()
{
    auto& center = NotificationCenter::defaultCenter();
    // Each hears the document's own server only.
    const auto fromOwnServer = [weak = weak_from_this()](void (PreviewWindowController::*step)()) {
        return ifAlive(weak, [step](PreviewWindowController& self, const Notification& notification) {
            if (self.isOwnServer(notification))
                (self.*step)();
        });
    };
    serverStateUpdateObserver_ = center.addObserver(ServerControllerStateDidUpdate, nullptr,
                                                    fromOwnServer(&PreviewWindowController::serverStateDidUpdate));
    previewDataUpdateObserver_ = center.addObserver(ServerControllerPreviewDataDidUpdate, nullptr,
                                                    fromOwnServer(&PreviewWindowController::serverPreviewDataDidUpdate));
    previewReloadObserver_ = center.addObserver(ServerControllerPreviewShouldReload, nullptr,
                                                fromOwnServer(&PreviewWindowController::reload));
}

void PreviewWindowController::serverPreviewDataDidUpdate()
{
    if (const auto& data = server()->previewData())
        nimbetPreviewUpdate(*data);
}

void PreviewWindowController::serverStateDidUpdate()
{
    updateLiveSharingState();
    ServerController* own = server();
    const auto& state = own ? own->state() : std::nullopt;
    const bool warnings = state && state->previewInspectorHasWarnings;
    if (warnings != previewInspectorHasWarnings_) {
        previewInspectorHasWarnings_ = warnings;
        updateInspectorIcon();
    }
    const bool errors = state && state->previewInspectorHasErrors;
    if (errors != previewInspectorHasErrors_) {
        previewInspectorHasErrors_ = errors;
        updateInspectorIcon();
    }
}

void PreviewWindowController::applyKeepOnTop()
{
    window_->setKeepAbove(UserDefaults::standard().boolForKey(keepOnTopDefault));
}

void PreviewWindowController::showWithMakeKey(bool makeKey, bool animated)
{
    Rect frame = window_->frame();
    if (auto first = sizing_->appear(frame)) {
        frame = *first;
        sendEditor("PreviewLoaded");
    }
    (void)animated; // GTK shows windows without an animation of ours
    window_->setFrame(frame);
    if (makeKey)
        window_->makeKeyAndOrderFront();
    else
        window_->orderFront();
}

void PreviewWindowController::reload()
{
    MainQueue::async(ifAlive(weak_from_this(), [](PreviewWindowController& self) {
        if (self.korvelViewController_)
            self.korvelViewController_->reload();
    }));
}

void PreviewWindowController::cleanup()
{
    if (cleanedUp_)
        return;
    cleanedUp_ = true;
    if (korvelViewController_)
        WKWebViewExtras::closeInspector(korvelViewController_->webViewController().webView().wkWebView());
    window_->setPreviewPage(nullptr);
    korvelViewController_.reset();
    serverStateUpdateObserver_.reset();
    previewDataUpdateObserver_.reset();
    previewReloadObserver_.reset();
    liveSharing_->cancel();
    mirrorPopover_->close();
    stopLiveSharing();
}

bool PreviewWindowController::isVisible() const
{
    return window_->isVisible();
}

bool PreviewWindowController::isMiniaturized() const
{
    GdkWindow* gdkWindow = gtk_widget_get_window(window_->widget());
    return gdkWindow && (gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_ICONIFIED);
}

void PreviewWindowController::orderOut()
{
    window_->orderOut();
}

void PreviewWindowController::sendEditor(const std::string& name, const std::vector<std::optional<nlohmann::json>>& arguments)
{
    if (BaseNimbetViewController* editor = document_ ? document_->nimbetViewController() : nullptr)
        editor->ipcCallWithArray(name, arguments);
}

// ---- Store data and live sharing ----

void PreviewWindowController::setUpLiveSharing()
{
    mirrorPopover_ = std::make_unique<MirrorPopover>();
    mirrorPopover_->startLiveSharing = [this] { startLiveSharing(); };
    mirrorPopover_->stopLiveSharing = [this] { stopLiveSharing(); };
    liveSharing_ = std::make_unique<PreviewLiveSharing>(
        [this](const MirrorPopoverState& state) { mirrorPopover_->setState(state); });
    liveSharing_->setServerSource([this] { return server(); });
    addAction("startLiveSharing:", [this](Sender) { startLiveSharing(); });
    addAction("stopLiveSharing:", [this](Sender) { stopLiveSharing(); });
    addAction("copyLiveSharingURL:", [this](Sender) { copyLiveSharingURL(); });
    if (PreviewWindowToolbarButton* button = liveSharingButton())
        addAction("showLivePreview:", [this, button](Sender) { toggleLiveSharingPopover(button->widget()); });
}

void PreviewWindowController::copyLiveSharingURL()
{
    const auto& url = liveSharing_->liveSharingURL();
    if (!url)
        return;
    GtkClipboard* clipboard = gtk_clipboard_get_for_display(gtk_widget_get_display(window_->widget()), GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_set_text(clipboard, url->c_str(), int(url->size()));
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

// ---- The selection ----

void PreviewWindowController::nimbetPreviewUpdate(const std::string& previewData)
{
    deviceSelection_.take(previewData);
    selectionDidChange();
    setupMenu();
    deviceMenuController_->updateDeviceMenuSelection();
}

void PreviewWindowController::selectionDidChange()
{
    toolbar_->selectionLockButton().setState(selection() && selection()->metadata.selectionLock);
    settingsMenu_->showSwitches(deviceTouchCursor(), deviceRotate() && deviceCanRotate());
    showDeviceInToolbar();
}

void PreviewWindowController::showDeviceInToolbar()
{
    // Nothing announces the device's changes: the toolbar is told after each selection.
    toolbar_->showDevice(hasSelection(), deviceCanRotate(), deviceIsCanvas());
}

void PreviewWindowController::setupMenu()
{
    const auto look =
        PreviewSettingsRules::deviceItemLook(deviceSelection_.menuContext(), postCanvasModeDeviceMenuType(), deviceManager_);
    settingsMenu_->showDeviceItems(look, postCanvasModeDeviceMenuType() && deviceIsCanvas());
}

void PreviewWindowController::handleDeviceMenuSelection(const std::string& menuType)
{
    if (!hasSelection() || !document_)
        return;
    const nlohmann::json settings = PreviewSettingsRules::deviceSettings(menuType, deviceManager_);
    std::printf("Send preview settings: %s\n", settings.dump().c_str());
    std::fflush(stdout);
    sendEditor("UpdatePreviewSettings", {selectionId().value_or(""), settings});
}

void PreviewWindowController::orientationButtonPressed()
{
    const DeviceDescriptor* descriptor = deviceDescriptor();
    if (!descriptor || !descriptor->canRotate.value_or(false) || !selectionId())
        return;
    sendEditor("UpdatePreviewSettings", {*selectionId(), PreviewSettingsRules::rotateSettings(*selection())});
}

bool PreviewWindowController::isFullScreen() const
{
    GdkWindow* gdkWindow = gtk_widget_get_window(window_->widget());
    return gdkWindow && (gdk_window_get_state(gdkWindow) & GDK_WINDOW_STATE_FULLSCREEN);
}

// ---- Sizing, title and inspector ----

void PreviewWindowController::windowDidEndLiveResize()
{
    sizing_->didEndLiveResize();
    updateTitle();
}

Size PreviewWindowController::windowWillResize(Size proposed)
{
    updateTitle();
    return sizing_->snappedSize(proposed);
}

void PreviewWindowController::windowWillMove()
{
    sizing_->beginMove(ifAlive(weak_from_this(), &PreviewWindowController::mouseDidDrag));
}

void PreviewWindowController::mouseDidDrag()
{
    // The window is a child of no other window: nothing to detach it from while it moves.
    if (!sizing_->isMoveButtonDown())
        windowDidEndMoving();
}

void PreviewWindowController::windowDidEndMoving()
{
    sizing_->endMove();
    if (!cleanedUp_ && isVisible())
        gtk_widget_show(window_->widget());
}

void PreviewWindowController::updateTitle()
{
    settingsButton().setEnabled(true);
    sizing_->updateTitle();
}

void PreviewWindowController::synchronizeWindowTitleWithDocumentName()
{
    // Not the document window's own title: the desktop lists both windows, and a screen
    // reader names each.
    if (document_)
        window_->setTitle(document_->displayName() + " \u2014 Preview");
}

void PreviewWindowController::showInspector()
{
    GtkWindow* documentWindow = document_ ? document_->documentWindow() : nullptr;
    if (!documentWindow || !korvelViewController_)
        return;
    WebKitWebView* view = korvelViewController_->webViewController().webView().wkWebView();
    if (WKWebViewExtras::isInspectorAttached(view))
        return;
    const Rect frame = PreviewSizing::inspectorFrame(PreviewWindow::frameOfWindow(documentWindow), window_->frame(),
                                                     WKWebViewExtras::minimumSizeToAttachInspector().width,
                                                     window_->workArea());
    window_->setFrame(frame);
    // Attaching needs the new size, which the web view has once the window has been laid out:
    // the inspector is shown at the first allocation wide enough, or after a moment at most.
    auto shown = std::make_shared<bool>(false);
    auto allocation = std::make_shared<SignalConnection>();
    const auto show = ifAlive(weak_from_this(), [shown, allocation](PreviewWindowController& self) {
        if (*shown || !self.korvelViewController_)
            return;
        *shown = true;
        allocation->disconnect();
        WKWebViewExtras::showInspectorAttached(self.korvelViewController_->webViewController().webView().wkWebView(),
                                               true, {});
    });
    const double width = std::max(WKWebViewExtras::minimumSizeToAttachInspector().width,
                                  PreviewSizing::webKitMinimumAttachWidth);
    *allocation = SignalConnection::connect<void(GtkWidget*, GdkRectangle*)>(
        korvelViewController_->view(), "size-allocate", [show, width](GtkWidget*, GdkRectangle* rectangle) {
            if (rectangle->width >= width)
                MainQueue::async(show);
        });
    MainQueue::after(std::chrono::milliseconds(500), show);
}

// ---- Keys ----

bool PreviewWindowController::performKeyEquivalent(const KeyEvent& event)
{
    // The settings menu has the window's key equivalents; what it does not take goes on to the
    // main menu, whose commands reach the document.
    return settingsMenu_->performKeyEquivalent(event);
}

bool PreviewWindowController::keyPressed(const GdkEventKey& event)
{
    // Arrow and keypad keys that the page did not take stop here.
    return isArrowOrKeypad(event.keyval);
}

bool PreviewWindowController::validateUserInterfaceItem(ValidatedUserInterfaceItem& item)
{
    return validateSettingsItem(item);
}

} // namespace kx
