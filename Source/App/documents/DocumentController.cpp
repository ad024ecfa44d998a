#include "App/documents/DocumentController.h"

#include "App/account/Experiments.h"
#include "App/account/LoginController.h"
#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/documents/KVDocument.h"
#include "App/documents/KVDocumentError.h"
#include "App/documents/KVDocumentMigration.h"
#include "App/documents/container/KVContainerFiles.h"
#include "App/shell/RKLog.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/ResponderChain.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

std::shared_ptr<KVDocumentArchive>& tutorialArchive()
{
    static std::shared_ptr<KVDocumentArchive> archive;
    return archive;
}

} // namespace

DocumentController* DocumentController::shared()
{
    return dynamic_cast<DocumentController*>(DocumentControllerBase::shared());
}

DocumentTypeTable DocumentController::projectTypes()
{
    std::vector<DocumentType> types;
    types.push_back({projectZipTypeIdentifier, "Korvel X Project", {"korvelx"}, DocumentType::Kind::file, true, {}});
    // A legacy folder is known by its extension, before any folder is taken for a project.
    types.push_back({legacyTypeIdentifier, "Korvel Classic Project", {"korvel"}, DocumentType::Kind::folder, false, {}});
    types.push_back({projectFolderTypeIdentifier, "Korvel X Project Folder", {}, DocumentType::Kind::folder, true, isProjectFolder});
    types.push_back({tutorialTypeIdentifier, "Korvel X Tutorial", {"korveltutorial"}, DocumentType::Kind::file, false, {}});
    return DocumentTypeTable(std::move(types));
}

bool DocumentController::isProjectFolder(const fs::path& folder)
{
    std::error_code ec;
    return fs::is_regular_file(folder / std::string(KVDocumentArchive::relativePathForManifest), ec)
        || fs::is_regular_file(folder / std::string(KVDocumentArchive::relativePathForDocumentJSON), ec);
}

namespace {
std::optional<std::chrono::milliseconds> autosavingDelayOverride;
}

void DocumentController::setAutosavingDelayForTesting(std::optional<std::chrono::milliseconds> delay)
{
    autosavingDelayOverride = delay;
}

DocumentController::DocumentController()
    : DocumentControllerBase(projectTypes())
{
    setAutosavingDelay(autosavingDelayOverride.value_or(std::chrono::duration_cast<std::chrono::milliseconds>(autosavingDelay)));
    shouldOpenDocuments = [] { return LoginController::shared().shouldOpenDocuments(); };
    addAction("openProjectFolder:", [this](Sender sender) { openFolder(sender); });
    if (DocumentControllerBase::shared() == this)
        Experiments::setReopenDocumentsHandler([] {
            if (auto* controller = DocumentController::shared())
                controller->closeAndReopenDocuments();
        });
}

DocumentController::~DocumentController()
{
    if (DocumentControllerBase::shared() == this)
        Experiments::setReopenDocumentsHandler({});
}

std::shared_ptr<KVDocumentArchive> DocumentController::openingTutorialArchive()
{
    return tutorialArchive();
}

void DocumentController::setOpeningTutorialArchive(std::shared_ptr<KVDocumentArchive> archive)
{
    tutorialArchive() = std::move(archive);
}

// ---- Types and making ----

std::string DocumentController::typeForContentsOfURL(const Path& url)
{
    if (url.extension() == ".korveltutorial")
        return tutorialTypeIdentifier;
    return DocumentControllerBase::typeForContentsOfURL(url);
}

void DocumentController::checkSignIn() const
{
    if (shouldOpenDocuments && !shouldOpenDocuments())
        throw KVDocumentError(KVDocumentError::Code::notLoggedIn);
}

std::shared_ptr<Document> DocumentController::makeUntitledDocumentOfType(const std::string& type)
{
    checkSignIn();
    return KVDocument::makeUntitled(type);
}

std::shared_ptr<Document> DocumentController::makeDocumentWithContentsOfURL(const Path& url, const std::string& type)
{
    checkSignIn();
    return KVDocument::make(url, type);
}

std::shared_ptr<Document> DocumentController::makeDocumentForURL(const std::optional<Path>& url, const Path& contentsURL,
                                                                const std::string& type)
{
    checkSignIn();
    return KVDocument::make(url, contentsURL, type);
}

// ---- Opening ----

Error DocumentController::openError(const Path& url, const Error& error)
{
    if (Document::isUserCancelled(error))
        return error;
    // What the user opened, then why it failed.
    Error shown = error;
    shown.localizedDescription = "The document \u201C" + url.filename().string() + "\u201D could not be opened.";
    std::string detail = error.localizedDescription;
    const std::string more = error.informativeText();
    if (!more.empty() && more != detail)
        detail += " " + more;
    shown.localizedFailureReason = detail;
    shown.localizedRecoverySuggestion = detail;
    return shown;
}

void DocumentController::willOpenDocument()
{
    if (hooks_.closeStartWindow)
        hooks_.closeStartWindow();
}

void DocumentController::didRestoreDocuments()
{
    KVDocumentContainer::removeUnnamedWorkingFolders(draftsDirectory());
}

void DocumentController::openDocumentWithContentsOfURL(const Path& url, bool display, OpenCompletion completion)
{
    willOpenDocument();
    auto finish = [url, completion](std::shared_ptr<Document> document, bool alreadyOpen, std::optional<Error> error) {
        if (error)
            error = openError(url, *error);
        completion(std::move(document), alreadyOpen, std::move(error));
    };
    // A legacy folder is known by its extension in any letter case, as the type table knows it,
    // and is only ever read: opened in place, a save would write into it.
    if (const DocumentType* legacy = documentTypes().type(legacyTypeIdentifier); legacy && legacy->hasExtension(url)) {
        std::shared_ptr<Document> document;
        try {
            checkSignIn();
            document = KVDocumentMigration::newDocument(url);
        } catch (...) {
            finish(nullptr, false, errorFromException(std::current_exception()));
            return;
        }
        addDocument(document);
        document->makeWindowControllers();
        document->showWindows();
        finish(document, false, std::nullopt);
        return;
    }
    if (url.extension() == ".korveltutorial") {
        bool start = true;
        if (optionKeyIsDown()) {
            auto alert = Alert::make();
            alert->setMessageText("Would you like to start the \u201C" + url.stem().string() + "\u201D tutorial or edit the document?");
            alert->setInformativeText("As a tutorial author, you can show this message by holding down option while opening the tutorial.");
            alert->addButton("Start Tutorial");
            alert->addButton("Edit\u2026");
            start = alert->runModal() == Alert::firstButtonReturn;
        }
        if (start) {
            startTutorial(url, finish);
            return;
        }
    }
    DocumentControllerBase::openDocumentWithContentsOfURL(url, display, [finish, display](std::shared_ptr<Document> document, bool alreadyOpen, std::optional<Error> error) {
        if (document && display && !alreadyOpen)
            document->showWindows();
        finish(std::move(document), alreadyOpen, std::move(error));
    });
}

void DocumentController::startTutorial(const Path& url, OpenCompletion completion)
{
    std::shared_ptr<KVDocumentArchive> archive;
    try {
        const std::string type = typeForContentsOfURL(url);
        archive = std::make_shared<KVDocumentArchive>(url, type, false, std::nullopt, true);
    } catch (...) {
        completion(nullptr, false, errorFromException(std::current_exception()));
        return;
    }
    setOpeningTutorialArchive(archive);
    std::shared_ptr<Document> document;
    try {
        document = openUntitledDocumentAndDisplay(true);
    } catch (...) {
        setOpeningTutorialArchive(nullptr);
        completion(nullptr, false, errorFromException(std::current_exception()));
        return;
    }
    completion(document, false, std::nullopt);
    setOpeningTutorialArchive(nullptr);
}

std::shared_ptr<Document> DocumentController::openUntitledDocumentAndDisplay(bool display)
{
    auto document = DocumentControllerBase::openUntitledDocumentAndDisplay(display);
    // In front whatever was asked: a new document is what the user is about to work on.
    if (document && !display)
        document->showWindows();
    return document;
}

std::optional<Error> DocumentController::openTemplate(const Path& url, const std::string& displayName)
{
    std::shared_ptr<KVDocument> document;
    try {
        checkSignIn();
        const std::string type = typeForContentsOfURL(url);
        auto archive = std::make_shared<KVDocumentArchive>(url, type, false, std::nullopt, true);
        document = KVDocument::makeUntitled(type, archive);
    } catch (...) {
        return errorFromException(std::current_exception());
    }
    willOpenDocument();
    document->setDisplayName(displayName);
    addDocument(document);
    document->makeWindowControllers();
    document->showWindows();
    return std::nullopt;
}

void DocumentController::newDocument(Sender sender)
{
    willOpenDocument();
    DocumentControllerBase::newDocument(sender);
}

void DocumentController::openDocument(Sender)
{
    PanelRequest request;
    request.kind = PanelRequest::Kind::openFiles;
    request.title = "Open";
    request.types = {projectZipTypeIdentifier, tutorialTypeIdentifier};
    openFromPanel(request);
}

void DocumentController::openFolder(Sender)
{
    PanelRequest request;
    request.kind = PanelRequest::Kind::openFolders;
    request.title = "Open Project Folder";
    request.types = {projectFolderTypeIdentifier, legacyTypeIdentifier};
    openFromPanel(request);
}

void DocumentController::openFromPanel(const PanelRequest& request)
{
    openChosenURL(runPanel(request, nullptr).urls, [this] {
        if (documents().empty() && hooks_.openFromPanelDidFail)
            hooks_.openFromPanelDidFail();
    });
}

bool DocumentController::validateUserInterfaceItem(ValidatedUserInterfaceItem& item)
{
    const auto& action = item.action();
    if ((action == "newDocument:" || action == "openDocument:" || action == "openProjectFolder:") && shouldOpenDocuments
        && !shouldOpenDocuments())
        return false;
    return DocumentControllerBase::validateUserInterfaceItem(item);
}

void DocumentController::noteNewRecentDocumentURL(const Path& url)
{
    if (hooks_.noteRecentDocument)
        hooks_.noteRecentDocument(url);
}

void DocumentController::recentDocumentURLDidMove(const Path& from, const Path& to)
{
    if (hooks_.recentDocumentMoved)
        hooks_.recentDocumentMoved(from, to);
}

std::optional<Error> DocumentController::errorForSaveName(const Path& url) const
{
    const std::string name = url.filename().string();
    if (KVContainerFiles::isPlainFileName(name))
        return std::nullopt;
    return KVArchivePath::unstorableNameError(name);
}

void DocumentController::lastDocumentDidClose()
{
    if (!documentsToReopen.empty())
        return; // they come back

    if (hooks_.showStartWindow)
        hooks_.showStartWindow();
}

// ---- Errors ----

Error DocumentController::errorFromException(std::exception_ptr exception) const
{
    try {
        std::rethrow_exception(exception);
    } catch (const KVDocumentError& error) {
        return error.error();
    } catch (const KVDocumentArchiveError& error) {
        return error.error();
    } catch (...) {
        return DocumentControllerBase::errorFromException(std::current_exception());
    }
}

std::vector<std::string> DocumentController::recoveryOptions(const Error& error) const
{
    if (error.domain == KVDocumentError::errorDomain && error.code == int(KVDocumentError::Code::documentVersionTooNew))
        return KVDocumentError(KVDocumentError::Code::documentVersionTooNew).recoveryOptions();
    return DocumentControllerBase::recoveryOptions(error);
}

bool DocumentController::attemptRecoveryFromError(const Error& error, int index)
{
    if (error.domain == KVDocumentError::errorDomain && error.code == int(KVDocumentError::Code::documentVersionTooNew) && index == 0) {
        if (hooks_.checkForUpdates)
            hooks_.checkForUpdates();
        else
            ResponderChain::shared().sendAction("checkForUpdates:", nullptr, nullptr);
        return true;
    }
    return DocumentControllerBase::attemptRecoveryFromError(error, index);
}

// ---- Reopening, store links ----

void DocumentController::closeAndReopenDocuments()
{
    if (!documentsToReopen.empty())
        return; // a reopen is under way
    documentsToReopen = documents();
    closeAllDocuments([this](bool allClosed) { documentControllerDidCloseAll(allClosed); }, true);
}

void DocumentController::documentControllerDidCloseAll(bool didCloseAll)
{
    (void)didCloseAll; // a cancelled close still brings back the documents it had closed
    auto reopen = std::exchange(documentsToReopen, {});
    for (const auto& document : reopen) {
        if (!document->isClosed())
            continue; // still open: the user kept it
        if (const auto& url = document->fileURL(); url && !document->isFileGone()) {
            openDocumentWithContentsOfURL(*url, true, [this](std::shared_ptr<Document>, bool, std::optional<Error> error) {
                if (error)
                    presentError(*error);
            });
        } else if (auto draft = document->autosavedContentsFileURL()) {
            willOpenDocument();
            openDraft(*draft, document->draftType(), document->displayName());
        }
    }
    if (!reopen.empty() && documents().empty())
        lastDocumentDidClose(); // none could be opened again
}

bool DocumentController::showStoreInLastDocument(const std::string& url)
{
    auto ordered = orderedDocuments();
    if (ordered.empty())
        return false;
    auto document = std::dynamic_pointer_cast<KVDocument>(ordered.back());
    if (!document)
        return false;
    document->nimbetViewController()->showStoreViewWithUrl(url);
    document->showWindows();
    return true;
}

bool DocumentController::showStoreInNewDocument(const std::string& url)
{
    std::shared_ptr<Document> made;
    try {
        willOpenDocument();
        made = openUntitledDocumentAndDisplay(true);
    } catch (...) {
        RKLog("No document for the store link: " + errorFromException(std::current_exception()).localizedDescription, RKLogKind::general);
        return false;
    }
    auto document = std::dynamic_pointer_cast<KVDocument>(made);
    if (!document)
        return false;
    document->nimbetViewController()->showStoreViewWithUrl(url);
    return true;
}

} // namespace kx
