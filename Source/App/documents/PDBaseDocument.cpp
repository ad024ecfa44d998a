// Construction, the project server, windows and closing of the document base class.
#include "App/documents/PDBaseDocument.h"

#include <algorithm>

#include "App/account/IntercomPopover.h"
#include "App/account/KorvelTracking.h"
#include "App/archive/KVDocumentArchive.h"
#include "App/documents/DocumentJSONSource.h"
#include "App/documents/PDDocumentWindow.h"
#include "App/shell/AppInfo.h"
#include "App/shell/RKLog.h"
#include "Platform/Documents/DocumentClock.h"
#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Foundation/Uuid.h"

namespace kx {

namespace {

// The text-editing commands of the platform's text views, which the editor has no use for.
const std::vector<std::string>& disabledTextActions()
{
    static const std::vector<std::string> actions = {
        "selectLine:", "selectAll:", "performTextFinderAction:", "orderFrontSubstitutionsPanel:",
        "toggleSmartInsertDelete:", "toggleAutomaticQuoteSubstitution:", "toggleAutomaticDashSubstitution:",
        "toggleAutomaticLinkDetection:", "toggleAutomaticDataDetection:", "toggleAutomaticTextReplacement:",
        "uppercaseWord:", "lowercaseWord:", "capitalizeWord:",
    };
    return actions;
}

bool isDisabledTextAction(const std::string& action)
{
    const auto& actions = disabledTextActions();
    return std::find(actions.begin(), actions.end(), action) != actions.end();
}

// Puts `window` on screen just above or below `relativeTo` without giving it the focus.
void orderWindow(GtkWindow* window, GtkWindow* relativeTo, bool above)
{
    if (!window)
        return;
    gtk_window_set_focus_on_map(window, FALSE);
    gtk_widget_show(GTK_WIDGET(window));
    gtk_window_set_focus_on_map(window, TRUE);
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window));
    GdkWindow* sibling = relativeTo ? gtk_widget_get_window(GTK_WIDGET(relativeTo)) : nullptr;
    if (gdkWindow && sibling)
        gdk_window_restack(gdkWindow, sibling, above);
}

} // namespace

PDBaseDocument::PDBaseDocument()
{
    addAction("reloadPreview:", [this](Sender) { reloadPreview(); });
    addAction("togglePreviewFullscreen:", [this](Sender) { togglePreviewFullscreen(); });
    addAction("showPreviewWindow:", [this](Sender) { showPreviewWindow(); });
    addAction("showLivePreview:", [this](Sender) { showLivePreview(); });
    addAction("toggleIntercomPopover:", [this](Sender) { toggleIntercomPopover(); });
}

PDBaseDocument::~PDBaseDocument()
{
    if (serverRestartTimer_)
        serverRestartTimer_->cancel();
    // The editor and its processor go on a later turn: the page may be calling into them now.
    MainQueue::async([editor = std::move(nimbetViewController_), processor = std::move(nimbetIPCProcessor_)] { });
}

void PDBaseDocument::setUp(bool tutorialMode)
{
    serverRestartDelay_ = initialServerRestartDelay;
    serverAuthorizationToken_ = Uuid::make();
    nimbetViewController_ = NimbetViewController::make(tutorialMode, serverAuthorizationToken_);
    documentJSONSource_ = makeDocumentJSONSource(nimbetViewController_);
    nimbetIPCProcessor_ = std::make_shared<NimbetIPCProcessor>();
    nimbetIPCProcessor_->setApplicationOpenProjectFile(ifAlive(sharedBase(), &PDBaseDocument::openProjectFile));
    nimbetViewController_->setNimbetIPCProcessor(nimbetIPCProcessor_);
    nimbetIPCProcessor_->setDelegate(std::weak_ptr<NimbetViewControllerDelegate>(sharedBase()));
    startServer();
}

std::optional<std::filesystem::path> PDBaseDocument::nimbetImagePath() const
{
    auto project = projectURL();
    if (!project)
        return std::nullopt;
    return *project / std::string(KVDocumentArchive::relativePathForImages);
}

std::optional<std::filesystem::path> PDBaseDocument::nimbetImageCachePath() const
{
    auto project = projectURL();
    if (!project)
        return std::nullopt;
    return *project / ".cache" / "images";
}

// ---- Project server ----

void PDBaseDocument::startServer()
{
    const bool isRestart = serverController_ != nullptr;
    if (serverController_)
        serverController_->stop();
    serverController_ = std::make_unique<ServerController>();
    serverController_->crashHandler = ifAlive(sharedBase(), [](PDBaseDocument& self, int) { self.serverDidEnd(); });
    observeServerController();
    if (isRestart && previewWindowController_)
        previewWindowController_->serverControllerDidChange();
    serverController_->start(serverAuthorizationToken_, ifAlive(sharedBase(), [isRestart](PDBaseDocument& self, std::optional<std::string> url) {
        self.serverDidStart(isRestart, url);
    }));
}

void PDBaseDocument::serverDidStart(bool isRestart, const std::optional<std::string>& url)
{
    if (!url)
        return;
    serverLocalUrl_ = *url;
    if (isRestart)
        updateServerMount();
    else if (previewWindowController_)
        // Its first reload came before there was a server to load the page from.
        previewWindowController_->reload();
    pendingEditorURL_ = *url;
    handProjectToEditor();
}

void PDBaseDocument::serverDidEnd()
{
    if (isClosing_)
        return;
    const std::int64_t delay = nextServerRestartDelay();
    if (delay == 0)
        return;
    RKLog("The project server ended; it starts again in " + std::to_string(delay / 1'000'000) + " ms", RKLogKind::general);
    serverRestartTimer_ = DocumentClock::shared().after(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(delay)),
                                                        ifAlive(sharedBase(), [](PDBaseDocument& self) {
                                                            if (!self.isClosing_)
                                                                self.startServer();
                                                        }));
}

void PDBaseDocument::handProjectToEditor()
{
    // The editor reads the project from the server at once: only once the server serves the
    // project folder (it reports its first install of that folder) is there anything to read.
    if (!pendingEditorURL_ || !serverController_ || !serverController_->state() || !serverController_->state()->doneFirstInstall)
        return;
    nimbetViewController_->updateProjectWithURL(*std::exchange(pendingEditorURL_, std::nullopt));
}

std::int64_t PDBaseDocument::nextServerRestartDelay()
{
    const std::int64_t delay = serverRestartDelay_;
    serverRestartDelay_ = std::min(serverRestartDelay_ * 2, maximumServerRestartDelay);
    return delay;
}

void PDBaseDocument::observeServerController()
{
    auto& center = NotificationCenter::defaultCenter();
    serverStateObserver_ = center.addObserver(ServerControllerStateDidUpdate, serverController_.get(),
                                              ifAlive(sharedBase(), [](PDBaseDocument& self, const Notification&) {
                                                  self.handProjectToEditor();
                                                  self.serverControllerStateDidUpdate();
                                              }));
    serverLogObserver_ = center.addObserver(ServerControllerDidReceiveLog, serverController_.get(),
                                            ifAlive(sharedBase(), &PDBaseDocument::serverControllerDidReceiveLog));
}

void PDBaseDocument::updateServerMount()
{
    if (auto path = projectPath(); path && serverController_)
        serverController_->setProjectDir(*path);
    if (previewWindowController_)
        previewWindowController_->reload();
}

void PDBaseDocument::didChangeContainer()
{
    reloadPreview();
    updateServerMount();
}

void PDBaseDocument::projectDidMove()
{
    updateServerMount();
    // The page that has the project already reads it again through the same server.
    if (serverLocalUrl_ && !pendingEditorURL_)
        nimbetViewController_->updateProjectWithURL(*serverLocalUrl_);
}

void PDBaseDocument::addPackage(const std::string& name, bool isDevDependency)
{
    if (serverController_)
        serverController_->addPackage(name, isDevDependency);
}

void PDBaseDocument::updateChangeCount(ChangeKind kind)
{
    Document::updateChangeCount(kind);
    if (serverController_)
        serverController_->setDocumentDirty(isDocumentEdited());
}

std::optional<std::string> PDBaseDocument::serverURL() const
{
    return serverController_ ? serverController_->currentServerURL() : std::nullopt;
}

// ---- Actions ----

void PDBaseDocument::reloadPreview()
{
    if (previewWindowController_)
        previewWindowController_->reload();
}

void PDBaseDocument::togglePreviewFullscreen()
{
    if (previewWindowController_)
        previewWindowController_->togglePreviewFullscreen();
}

nlohmann::json PDBaseDocument::encodeRestorableState() const
{
    if (!previewWindowController_)
        return nullptr;
    return {{"preview", previewWindowController_->encodeRestorableState()}, {"previewVisible", previewWindowController_->isVisible()}};
}

void PDBaseDocument::restoreState(const nlohmann::json& state)
{
    if (!previewWindowController_ || !state.is_object())
        return;
    if (auto preview = state.find("preview"); preview != state.end())
        previewWindowController_->restoreState(*preview);
    // The preview that was open comes back beside its document, which keeps the focus.
    if (auto visible = state.find("previewVisible"); visible != state.end() && visible->is_boolean() && visible->get<bool>())
        previewWindowController_->showWithMakeKey(false);
}

void PDBaseDocument::showPreviewWindow()
{
    if (previewWindowController_)
        previewWindowController_->showWithMakeKey(true);
    trackInteraction("preview");
}

void PDBaseDocument::showLivePreview()
{
    if (previewWindowController_)
        previewWindowController_->toggleLiveSharingPopover(documentWindow_ && documentWindow_->livePreviewButton()
                                                               ? documentWindow_->livePreviewButton()->widget()
                                                               : nullptr);
    trackInteraction("live-preview");
}

void PDBaseDocument::toggleIntercomPopover()
{
    if (documentWindow_ && documentWindow_->intercomButton())
        IntercomPopover::shared().toggle(documentWindow_->intercomButton()->widget());
    trackInteraction("intercom");
}

void PDBaseDocument::windowWillBeginSheet(GtkWindow*)
{
    auto& popover = IntercomPopover::shared();
    if (documentWindow_ && documentWindow_->intercomButton() && popover.currentButton()
        && popover.currentButton() == documentWindow_->intercomButton()->widget())
        popover.hide();
}

const char* PDBaseDocument::intercomImageName(int unreadCount)
{
    return unreadCount < 1 ? "icon-intercom" : "icon-intercom-active";
}

void PDBaseDocument::trackInteraction(const std::string& element)
{
    KorvelTracking::shared().track("ui_interaction", {{"id", element}, {"page", "top-right-menu-bar"}});
}

void PDBaseDocument::trackProjectEvent(const std::string& event)
{
    const auto projectId = metricsProjectId();
    KorvelTracking::shared().track(event, {{"context", {{"projectId", projectId ? nlohmann::json(*projectId) : nlohmann::json()}}}});
}

// ---- Windows ----

void PDBaseDocument::windowTitlesDidUpdate()
{
    if (previewWindowController_)
        previewWindowController_->displayNameDidChange();
}

void PDBaseDocument::makeWindowControllers()
{
    if (documentWindow_)
        return;
    if (const auto& factory = DocumentPreviewController::factory(); factory && !previewWindowController_)
        previewWindowController_ = factory(*this);
    const bool enterprise = AppInfo::current()->isEnterprise();
    PDDocumentWindow::Buttons buttons;
    buttons.preview = previewWindowController_ != nullptr;
    buttons.liveSharing = previewWindowController_ != nullptr && !enterprise;
    buttons.messenger = !enterprise;
    documentWindow_ = std::make_shared<PDDocumentWindow>(sharedBase(), nimbetViewController_->view(), buttons);
    addWindow(documentWindow_);

    intercomUnreadCountObserver_ = NotificationCenter::defaultCenter().addObserver(
        IntercomUnreadCountDidChangeNotification, nullptr, ifAlive(sharedBase(), [](PDBaseDocument& self, const Notification& notification) {
            if (!self.documentWindow_)
                return;
            const auto& count = notification.userInfo.is_object() ? notification.userInfo.value("count", nlohmann::json()) : nlohmann::json();
            const int unread = count.is_number_integer() ? count.get<int>() : 0;
            self.documentWindow_->setIntercomImage(unread != 0 ? "icon-intercom-active" : "icon-intercom");
        }));
    if (!enterprise)
        intercomLoadedObserver_ = IntercomPopover::shared().isLoaded.observe(
            ifAlive(sharedBase(), [](PDBaseDocument& self, Observable<bool>::Phase phase, const bool&, const bool& loaded) {
                if (self.documentWindow_ && phase == Observable<bool>::Phase::didChange)
                    self.documentWindow_->setIntercomEnabled(loaded);
            }),
            true);
}

void PDBaseDocument::windowDidBecomeMain(GtkWindow*)
{
    trackProjectEvent("app_foreground");
    if (orderPreviewWhenBecomingMain_ != 0 && previewWindowController_ && !previewWindowController_->isVisible())
        orderWindow(previewWindowController_->window(), windowForSheet(), orderPreviewWhenBecomingMain_ > 0);
}

void PDBaseDocument::windowDidResignMain(GtkWindow*)
{
    trackProjectEvent("app_background");
    if (!previewWindowController_)
        return;
    if (previewWindowController_->isMiniaturized() || !previewWindowController_->isVisible()) {
        orderPreviewWhenBecomingMain_ = 0;
    } else if (GdkScreen* screen = gdk_screen_get_default()) {
        // Which of the two lies in front, from the window manager's stacking order.
        GdkWindow* documentWindow = windowForSheet() ? gtk_widget_get_window(GTK_WIDGET(windowForSheet())) : nullptr;
        GdkWindow* previewWindow = previewWindowController_->window() ? gtk_widget_get_window(GTK_WIDGET(previewWindowController_->window())) : nullptr;
        GList* stack = gdk_screen_get_window_stack(screen);
        for (GList* item = g_list_last(stack); item; item = item->prev) {
            if (item->data == documentWindow) {
                orderPreviewWhenBecomingMain_ = -1;
                break;
            }
            if (item->data == previewWindow) {
                orderPreviewWhenBecomingMain_ = 1;
                break;
            }
        }
        g_list_free_full(stack, g_object_unref);
    }
    if (!UserDefaults::standard().boolForKey("KLPreviewKeepVisible"))
        previewWindowController_->orderOut();
}

bool PDBaseDocument::respondsToAction(const std::string& action) const
{
    return isDisabledTextAction(action) || Document::respondsToAction(action);
}

bool PDBaseDocument::validateUserInterfaceItem(ValidatedUserInterfaceItem& item)
{
    if (isDisabledTextAction(item.action()))
        return false;
    return Document::validateUserInterfaceItem(item);
}

// ---- Closing ----

void PDBaseDocument::close()
{
    auto keepAlive = shared_from_this();
    Document::close();
    if (isClosing_)
        return;
    isClosing_ = true;
    if (auto* controller = DocumentControllerBase::shared(); controller && !controller->isTerminating()) {
        auto remaining = controller->orderedDocuments();
        if (!remaining.empty())
            remaining.front()->showWindows();
    }
    cleanup();
}

void PDBaseDocument::cleanup()
{
    if (!MainQueue::isMainThread()) {
        RKLog("PDBaseDocument: cleanup off the main thread", RKLogKind::general);
        std::abort();
    }
    if (cleanedUp_)
        return;
    cleanedUp_ = true;
    if (componentsThumbnailCache_)
        componentsThumbnailCache_->clear();
    if (exportPreviewCache_)
        exportPreviewCache_->clear();
    intercomUnreadCountObserver_.reset();
    intercomLoadedObserver_.reset();
    serverStateObserver_.reset();
    serverLogObserver_.reset();
    if (previewWindowController_) {
        previewWindowController_->cleanup();
        previewWindowController_.reset();
    }
    if (nimbetIPCProcessor_)
        nimbetIPCProcessor_->setDelegate({});
    if (serverRestartTimer_) {
        serverRestartTimer_->cancel();
        serverRestartTimer_.reset();
    }
    if (serverController_) {
        serverController_->stop();
        serverController_.reset();
    }
    documentWindow_.reset();
}

} // namespace kx
