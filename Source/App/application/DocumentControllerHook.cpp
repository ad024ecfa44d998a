#include "App/application/DocumentControllerHook.h"

#include <gtk/gtk.h>

#include <filesystem>
#include <memory>

#include "App/documents/DocumentController.h"
#include "App/preview/DocumentPreview.h"
#include "App/shell/RKLog.h"
#include "App/application/PDApplication.h"
#include "App/application/WelcomeWindowHook.h"
#include "App/welcome/RecentDocuments.h"
#include "App/welcome/WelcomeDocumentHook.h"
#include "App/welcome/WelcomeWindowController.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/UI/Window.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

std::unique_ptr<DocumentController>& ownedController()
{
    static std::unique_ptr<DocumentController> controller;
    return controller;
}

bool& didRestore()
{
    static bool restored = false;
    return restored;
}

DocumentController& controller()
{
    if (!DocumentController::shared())
        DocumentControllerHook::start();
    return *DocumentController::shared();
}

void showStartWindow()
{
    if (PDApplication* application = PDApplication::current())
        application->showWelcomeWindow(nullptr);
}

// The application never stays on with nothing on screen: without a document, the start window.
void showStartWindowIfNothingOnScreen()
{
    if (controller().documents().empty() && !Window::isAnyWindowShown())
        showStartWindow();
}

// The last document closed: the start window, or, for a user who turned it off, the end once
// nothing else is on screen (the windows of the document go after this).
void lastDocumentDidClose()
{
    if (WelcomeWindowController::shouldShowOnStartup()) {
        showStartWindow();
        return;
    }
    MainQueue::whenIdle([] {
        PDApplication* application = PDApplication::current();
        if (application && !application->isTerminating() && DocumentController::shared()
            && DocumentController::shared()->documents().empty() && !Window::isAnyWindowShown())
            application->terminate(nullptr);
    });
}

void connectStartWindow()
{
    auto& hook = WelcomeDocumentHook::shared();
    hook.openDocument = [](const fs::path& path, bool display, WelcomeDocumentHook::Completion completion) {
        controller().openDocumentWithContentsOfURL(
            path, display, [completion](std::shared_ptr<Document> document, bool, std::optional<Error> error) {
                // Opened from the list: it is the most recent now, also when it was open already.
                if (document && document->fileURL())
                    controller().noteNewRecentDocumentURL(*document->fileURL());
                if (completion)
                    completion(std::move(error));
            });
    };
    hook.openTemplate = [](const fs::path& path, const std::string& displayName) {
        return controller().openTemplate(path, displayName);
    };
    hook.newDocument = [] { DocumentControllerHook::newDocument(); };
    hook.openPanel = [] { DocumentControllerHook::openDocument(); };
    hook.presentError = [](const Error& error) {
        controller().presentError(error, nullptr, [] { showStartWindowIfNothingOnScreen(); });
    };
}

void connect(DocumentController& documents)
{
    auto& hooks = documents.hooks();
    hooks.closeStartWindow = [] {
        if (WelcomeWindowHook::isVisible())
            WelcomeWindowHook::close();
    };
    hooks.showStartWindow = [] { lastDocumentDidClose(); };
    // The user asked to open something and nothing opened: never the end of the application.
    hooks.openFromPanelDidFail = [] { showStartWindow(); };
    hooks.noteRecentDocument = [](const fs::path& url) { RecentDocuments::shared().noteNewRecentDocumentURL(url); };
    hooks.recentDocumentMoved = [](const fs::path& from, const fs::path& to) { RecentDocuments::shared().documentURLDidMove(from, to); };
    connectStartWindow();
}

} // namespace

void DocumentControllerHook::start()
{
    if (!DocumentController::shared()) {
        // Documents made from now on have their preview windows.
        DocumentPreview::registerWithDocuments();
        ownedController() = std::make_unique<DocumentController>();
    }
    connect(*DocumentController::shared());
}

void DocumentControllerHook::stop()
{
    WelcomeDocumentHook::shared().reset();
    ownedController().reset();
    didRestore() = false;
}

bool DocumentControllerHook::restoreDocuments()
{
    if (didRestore())
        return false;
    PDApplication* application = PDApplication::current();
    auto& documents = controller();
    if (application && application->shouldCloseRestoredDocuments()) {
        didRestore() = true;
        return false;
    }
    // Signed out, the documents wait for the sign-in: made now, each would be refused.
    if (documents.shouldOpenDocuments && !documents.shouldOpenDocuments())
        return false;
    didRestore() = true;
    std::size_t count = 0;
    documents.restoreDocuments([&count](std::vector<std::shared_ptr<Document>> restored) { count = restored.size(); });
    return count > 0;
}

std::size_t DocumentControllerHook::documentCount()
{
    return DocumentController::shared() ? DocumentController::shared()->documents().size() : 0;
}

void DocumentControllerHook::openDocuments(const std::vector<std::string>& uris)
{
    for (const auto& uri : uris) {
        char* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
        if (!path) {
            RKLog("Not opening an argument that names no local file", RKLogKind::general);
            continue;
        }
        const fs::path url(path);
        g_free(path);
        controller().openDocumentWithContentsOfURL(url, true, [](std::shared_ptr<Document>, bool, std::optional<Error> error) {
            if (error)
                controller().presentError(*error, nullptr, [] { showStartWindowIfNothingOnScreen(); });
        });
    }
}

void DocumentControllerHook::newDocument()
{
    controller().newDocument(nullptr);
    showStartWindowIfNothingOnScreen();
}

void DocumentControllerHook::openDocument()
{
    controller().openDocument(nullptr);
    showStartWindowIfNothingOnScreen();
}

void DocumentControllerHook::openFolder()
{
    controller().openFolder(nullptr);
    showStartWindowIfNothingOnScreen();
}

bool DocumentControllerHook::showStoreInLastDocument(const std::string& url)
{
    return controller().showStoreInLastDocument(url);
}

bool DocumentControllerHook::showStoreInNewDocument(const std::string& url)
{
    return controller().showStoreInNewDocument(url);
}

void DocumentControllerHook::saveDocumentsWithFiles()
{
    for (const auto& document : std::vector(controller().documents()))
        if (document->fileURL())
            document->saveDocument();
}

bool DocumentControllerHook::reviewDocumentsBeforeQuitting()
{
    return controller().reviewDocumentsBeforeQuitting(true);
}

void DocumentControllerHook::saveDocumentsBeforeEnding()
{
    if (DocumentController::shared() && !DocumentController::shared()->documents().empty())
        DocumentController::shared()->reviewDocumentsBeforeQuitting(false);
}

} // namespace kx
