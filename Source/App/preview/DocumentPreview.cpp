#include "App/preview/DocumentPreview.h"

#include <memory>

#include "App/documents/DocumentPreviewController.h"
#include "App/documents/PDBaseDocument.h"
#include "App/documents/PDDocumentWindow.h"
#include "App/editor/NimbetViewController.h"
#include "App/preview/PreviewDocument.h"
#include "App/preview/PreviewWindow.h"
#include "App/preview/PreviewWindowController.h"

namespace kx {

namespace {

// The document as its preview reads it. It holds the document weakly: the document owns its
// preview, and every answer is none once the document is gone.
class ProjectPreviewDocument final : public PreviewDocument {
public:
    explicit ProjectPreviewDocument(PDBaseDocument& document)
        : document_(std::static_pointer_cast<PDBaseDocument>(document.shared_from_this()))
        , sender_(&document)
    {
    }

    std::string displayName() const override
    {
        auto document = document_.lock();
        return document ? document->displayName() : std::string();
    }
    ServerController* serverController() const override
    {
        auto document = document_.lock();
        return document ? document->serverController() : nullptr;
    }
    BaseNimbetViewController* nimbetViewController() const override
    {
        auto document = document_.lock();
        return document ? document->nimbetViewController().get() : nullptr;
    }
    GtkWindow* documentWindow() const override
    {
        auto document = document_.lock();
        return document && document->documentWindow() ? document->documentWindow()->gtkWindow() : nullptr;
    }
    std::optional<std::string> serverLocalUrl() const override
    {
        auto document = document_.lock();
        return document ? document->serverLocalUrl() : std::nullopt;
    }
    std::optional<std::string> serverURL() const override
    {
        auto document = document_.lock();
        return document ? document->serverURL() : std::nullopt;
    }
    void addPackage(const std::string& name, bool isDevDependency) override
    {
        if (auto document = document_.lock())
            document->addPackage(name, isDevDependency);
    }
    Responder* responder() const override
    {
        auto document = document_.lock();
        return document.get();
    }
    const void* notificationSender() const override { return sender_; }

private:
    std::weak_ptr<PDBaseDocument> document_;
    const void* sender_;
};

// What the document asks of its preview, passed to the preview window's controller.
class ProjectPreviewController final : public DocumentPreviewController {
public:
    explicit ProjectPreviewController(std::shared_ptr<PreviewWindowController> controller)
        : controller_(std::move(controller))
    {
    }

    GtkWindow* window() const override
    {
        return controller_->window() ? controller_->window()->gtkWindow() : nullptr;
    }
    bool isVisible() const override { return controller_->isVisible(); }
    bool isMiniaturized() const override { return controller_->isMiniaturized(); }
    void showWithMakeKey(bool makeKey) override { controller_->showWithMakeKey(makeKey); }
    void orderOut() override { controller_->orderOut(); }
    void reload() override { controller_->reload(); }
    void togglePreviewFullscreen() override { controller_->togglePreviewFullscreen(); }
    void toggleLiveSharingPopover(GtkWidget* fromButton) override { controller_->toggleLiveSharingPopover(fromButton); }
    void showInspector() override { controller_->showInspector(); }
    void nimbetServerStoreData(const std::optional<nlohmann::json>& arguments) override
    {
        controller_->nimbetServerStoreData(arguments);
    }
    void serverControllerDidChange() override { controller_->serverControllerDidChange(); }
    void displayNameDidChange() override { controller_->synchronizeWindowTitleWithDocumentName(); }
    nlohmann::json encodeRestorableState() const override { return controller_->encodeRestorableState(); }
    void restoreState(const nlohmann::json& state) override { controller_->restoreState(state); }
    void cleanup() override { controller_->cleanup(); }

private:
    std::shared_ptr<PreviewWindowController> controller_;
};

} // namespace

void DocumentPreview::registerWithDocuments()
{
    DocumentPreviewController::setFactory([](PDBaseDocument& document) -> std::shared_ptr<DocumentPreviewController> {
        return std::make_shared<ProjectPreviewController>(
            PreviewWindowController::make(std::make_shared<ProjectPreviewDocument>(document)));
    });
}

} // namespace kx
