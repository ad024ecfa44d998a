// The base of the project document: everything a document has besides its storage. The editor
// view controller and its message processor, the document's own project server (restarted
// after a crash, 50 ms at first and twice as long after each restart up to a second), the
// preview window when there is one, two render caches, the private image pasteboard, the
// document window with its title-bar buttons, and the editor's callbacks into the document.
//
// Made in two steps: the subclass's factory makes the object and then calls `setUp`, which
// needs the object to be shared (asynchronous steps hold it weakly). Main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/documents/DocumentPreviewController.h"
#include "App/editor/NimbetIPCProcessor.h"
#include "App/editor/NimbetViewController.h"
#include "App/editor/NimbetViewControllerDelegate.h"
#include "App/exchange/RenderedHTMLCache.h"
#include "App/server/ServerController.h"
#include "Platform/Documents/Document.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Observable.h"

namespace kx {

class KVDocumentContainerDataSource;
class PDDocumentWindow;

class PDBaseDocument : public Document, public NimbetViewControllerDelegate {
public:
    static constexpr std::int64_t initialServerRestartDelay = 50'000'000;   // nanoseconds
    static constexpr std::int64_t maximumServerRestartDelay = 1'000'000'000; // nanoseconds
    static constexpr const char* nimbetImagesPasteboardType = "com.korvel.nimbet.images";

    ~PDBaseDocument() override;

    const std::shared_ptr<NimbetViewController>& nimbetViewController() const { return nimbetViewController_; }
    // The working container's source of "design/document.json": the editor's page.
    const std::shared_ptr<KVDocumentContainerDataSource>& documentJSONSource() const { return documentJSONSource_; }
    const std::shared_ptr<NimbetIPCProcessor>& nimbetIPCProcessor() const { return nimbetIPCProcessor_; }
    const std::string& serverAuthorizationToken() const { return serverAuthorizationToken_; }
    ServerController* serverController() const { return serverController_.get(); }
    const std::optional<std::string>& serverLocalUrl() const { return serverLocalUrl_; }
    std::int64_t serverRestartDelay() const { return serverRestartDelay_; }
    const std::shared_ptr<DocumentPreviewController>& previewWindowController() const { return previewWindowController_; }
    PDDocumentWindow* documentWindow() const { return documentWindow_.get(); }
    int orderPreviewWhenBecomingMain() const { return orderPreviewWhenBecomingMain_; }

    // The project folder; none in the base class.
    virtual std::optional<std::filesystem::path> projectURL() const { return std::nullopt; }
    std::optional<std::filesystem::path> nimbetImagePath() const;
    std::optional<std::filesystem::path> nimbetImageCachePath() const;

    // ---- Project server ----

    void startServer();
    // The delay before the next restart, in nanoseconds; doubles the stored one up to a second.
    std::int64_t nextServerRestartDelay();
    void updateServerMount();
    // After the subclass took a new container: the preview reloads, the server learns the folder.
    void didChangeContainer();
    // After the project folder moved: the server serves it from its new place, the preview
    // reloads, and the editor is handed the project again.
    void projectDidMove();
    virtual void serverControllerStateDidUpdate() { }
    virtual void serverControllerDidReceiveLog(const Notification& notification) { (void)notification; }
    void addPackage(const std::string& name, bool isDevDependency);

    // The platform's count, then the project server hears whether the document is edited.
    void updateChangeCount(ChangeKind kind) override;
    using Document::updateChangeCount;

    // ---- Title-bar and preview actions ----

    void reloadPreview();
    void togglePreviewFullscreen();
    void showPreviewWindow();
    // The preview window's frame and whether it was on screen.
    nlohmann::json encodeRestorableState() const override;
    void restoreState(const nlohmann::json& state) override;
    void showLivePreview();
    void toggleIntercomPopover();
    // The messenger button's image for an unread count.
    static const char* intercomImageName(int unreadCount);

    // ---- NimbetViewControllerDelegate ----

    std::optional<std::filesystem::path> projectPath() const override { return projectURL(); }
    std::optional<std::string> serverURL() const override;
    std::optional<std::string> metricsProjectId() const override { return std::nullopt; }
    std::shared_ptr<RenderedHTMLCache> exportPreviewCache() override;
    std::shared_ptr<RenderedHTMLCache> componentsThumbnailCache() override;
    // The subclass stores images and assets; the base class has no storage.
    std::optional<std::string> nimbetDocumentDidReceiveImageData(const std::string& data) override;
    std::optional<std::string> nimbetDocumentDidReceiveAssetData(const std::string& data, const std::string& preferredName) override;
    void nimbetReadImagesFromPasteboard(const std::map<std::string, std::filesystem::path>& images) override;
    void nimbetDocumentDidRequestCopyImagesToPasteboard(const std::vector<std::string>& imageNames) override;
    void nimbetDocumentDidRequestCopyImagesFromPasteboard() override;
    void nimbetDocumentDidBecomeDirty() override;
    void nimbetServerStoreData(const std::optional<nlohmann::json>& arguments) override;
    void nimbetPackageAdd(const std::string& packageName) override;
    void openPreviewInspector() override;
    void openPreviewAndOrderFront(bool flag) override;

    // Opens a project file with the desktop's application for it: only a file inside the
    // project, never a launcher (".desktop") or an executable. False when refused.
    bool openProjectFile(const std::string& relativePath);

    // ---- Windows ----

    void makeWindowControllers() override;
    void windowDidBecomeMain(GtkWindow* window) override;
    void windowDidResignMain(GtkWindow* window) override;
    // The support chat shown from this document's button goes: it would cover the sheet.
    void windowWillBeginSheet(GtkWindow* window) override;
    bool validateUserInterfaceItem(ValidatedUserInterfaceItem& item) override;
    bool respondsToAction(const std::string& action) const override;

    void close() override;

protected:
    PDBaseDocument();
    // Construction's second step: token, editor, message processor, project server.
    void setUp(bool tutorialMode);
    // Runs once from close: caches, observers, the preview, the window's ties, the server.
    void cleanup();
    // The preview window is titled with the document's name too.
    void windowTitlesDidUpdate() override;

private:
    // The steps of the project server's life: it serves at `url` (nothing when it could not
    // start); it ended, and starts again after a delay.
    void serverDidStart(bool isRestart, const std::optional<std::string>& url);
    void serverDidEnd();
    void observeServerController();
    void handProjectToEditor();
    void trackInteraction(const std::string& element);
    void trackProjectEvent(const std::string& event);
    std::shared_ptr<PDBaseDocument> sharedBase() { return std::static_pointer_cast<PDBaseDocument>(shared_from_this()); }

    std::shared_ptr<NimbetViewController> nimbetViewController_;
    std::shared_ptr<KVDocumentContainerDataSource> documentJSONSource_;
    std::shared_ptr<NimbetIPCProcessor> nimbetIPCProcessor_;
    std::string serverAuthorizationToken_;
    std::unique_ptr<ServerController> serverController_;
    std::int64_t serverRestartDelay_ = initialServerRestartDelay;
    std::optional<std::string> serverLocalUrl_;
    std::optional<std::string> pendingEditorURL_; // for the editor once the server serves the project
    NotificationCenter::Token serverStateObserver_;
    NotificationCenter::Token serverLogObserver_;
    NotificationCenter::Token intercomUnreadCountObserver_;
    Observable<bool>::Token intercomLoadedObserver_;
    std::shared_ptr<DocumentPreviewController> previewWindowController_;
    std::shared_ptr<RenderedHTMLCache> componentsThumbnailCache_;
    std::shared_ptr<RenderedHTMLCache> exportPreviewCache_;
    std::shared_ptr<PDDocumentWindow> documentWindow_;
    std::shared_ptr<MainQueue::Timer> serverRestartTimer_;
    int orderPreviewWhenBecomingMain_ = 0;
    bool isClosing_ = false;
    bool cleanedUp_ = false;
};

} // namespace kx
