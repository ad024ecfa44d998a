// Making project documents, their working container and their file URL.
#include "App/documents/KVDocument.h"

#include <cstdlib>

#include "App/archive/KVDirectoryArchiveBacking.h"
#include "App/documents/DocumentController.h"
#include "App/documents/container/KVContainerLockFile.h"
#include "App/editor/NimbetViewController.h"
#include "App/shell/RKLog.h"
#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/UI/Alert.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void documentContractBroken(const char* what)
{
    RKLog(std::string("KVDocument: ") + what, RKLogKind::general);
    std::abort();
}

} // namespace

KVDocument::KVDocument()
{
    addAction("installKorvelLibrary:", [this](Sender sender) { installKorvelLibrary(sender); });
    addAction("showContainerInFinder:", [this](Sender) { showContainerInFinder(); });
    addAction("showProjectLog:", [this](Sender) { showProjectLog(); });
    addAction("updateLibraryVersionMenu:", [this](Sender sender) {
        if (sender && sender->asMenuItem() && sender->asMenuItem()->submenu())
            updateLibraryVersionMenu(*sender->asMenuItem()->submenu());
    });
}

KVDocument::~KVDocument()
{
    for (auto& alert : pendingAlerts_)
        alert->cancel();
    containerObserver_.reset();
    if (container_ && container_ != KVDocumentContainer::placeholder())
        container_->invalidate();
}

void KVDocument::initialise(bool awaitsInitialRead)
{
    container_ = KVDocumentContainer::placeholder();
    isInTutorialMode_ = DocumentController::openingTutorialArchive() != nullptr;
    isAwaitingInitialRead_ = awaitsInitialRead;
    setUp(isInTutorialMode_);
}

std::shared_ptr<KVDocumentArchive> KVDocument::resourceTemplate()
{
    static const std::shared_ptr<KVDocumentArchive> archive = []() -> std::shared_ptr<KVDocumentArchive> {
        const fs::path folder = Bundle::main().resourcePath() / "Template";
        try {
            auto backing = std::make_shared<KVDirectoryArchiveBacking>(folder, false, true);
            return std::make_shared<KVDocumentArchive>(backing, std::nullopt);
        } catch (const std::exception&) {
            return nullptr;
        }
    }();
    return archive;
}

std::shared_ptr<KVDocument> KVDocument::make()
{
    std::shared_ptr<KVDocument> document(new KVDocument());
    document->initialise(false);
    return document;
}

std::shared_ptr<KVDocument> KVDocument::makeUntitled(const std::string& type)
{
    auto tutorial = DocumentController::openingTutorialArchive();
    return makeUntitled(type, tutorial ? tutorial : resourceTemplate());
}

std::shared_ptr<KVDocument> KVDocument::makeUntitled(const std::string& type, std::shared_ptr<KVDocumentArchive> templateArchive)
{
    std::shared_ptr<KVDocument> document(new KVDocument());
    document->initialise(true);
    document->setFileURL(std::nullopt);
    document->setFileType(type);
    if (!templateArchive)
        throw KVDocumentError(KVDocumentError::Code::templateIsNil);
    document->isReadingTemplate_ = true;
    document->read(templateArchive->backing()->url(), templateArchive->backing()->documentTypeIdentifier());
    document->container_->mark(false);
    document->isReadingTemplate_ = false;
    if (auto tutorial = DocumentController::openingTutorialArchive())
        document->setDisplayName(tutorial->backing()->url().stem().string());
    return document;
}

std::shared_ptr<KVDocument> KVDocument::make(const fs::path& url, const std::string& type)
{
    std::shared_ptr<KVDocument> document(new KVDocument());
    document->initialise(true);
    document->setFileURL(url);
    document->setAutosavedContentsFileURL(std::nullopt);
    document->setFileType(type);
    document->setFileIdentity(FileIdentity::of(url));
    document->read(url, type);
    return document;
}

std::shared_ptr<KVDocument> KVDocument::make(const std::optional<fs::path>& url, const fs::path& contentsURL, const std::string& type)
{
    std::shared_ptr<KVDocument> document(new KVDocument());
    document->initialise(true);
    document->setFileURL(url);
    document->setFileType(type);
    // The file's own version is what a later save must not overwrite unseen.
    document->setFileIdentity(FileIdentity::of(url.value_or(contentsURL)));
    document->isRestoringDraft_ = !url;
    document->setAutosavedContentsFileURL(url ? std::nullopt : std::optional<fs::path>(contentsURL));
    document->read(contentsURL, type);
    document->container_->mark(document->isRestoringDraft_);
    document->isRestoringDraft_ = false;
    return document;
}

// ---- Identity ----

bool KVDocument::isNativeType(const std::string& type) const
{
    if (type == projectZipType)
        return true;
    if (type == projectFolderType)
        return DocumentControllerBase::optionKeyIsDown();
    return false;
}

bool KVDocument::validateUserInterfaceItem(ValidatedUserInterfaceItem& item)
{
    if (item.action() == "revertDocumentToSaved:" && container_->projectDirectoryIsOrigin())
        return false;
    return PDBaseDocument::validateUserInterfaceItem(item);
}

std::optional<fs::path> KVDocument::projectURL() const
{
    if (!container_ || container_ == KVDocumentContainer::placeholder())
        return std::nullopt;
    return container_->projectDirectory();
}

std::optional<std::string> KVDocument::metricsProjectId() const
{
    if (!container_ || container_->projectDirectoryIsOrigin())
        return std::nullopt;
    return container_->uuid();
}

void KVDocument::fileURLDidChange(const std::optional<Path>& oldURL)
{
    const auto& url = fileURL();
    // A folder back from the Trash was taken at its place already (takeFileBack).
    if (isAwaitingInitialRead_ || !url || url == oldURL || (fileArchive_ && fileArchive_->backing()->url() == *url))
        return;
    bool typeChanged = false;
    if (fileArchive_) {
        typeChanged = savedAsArchive_ && savedAsArchive_->backing()->documentTypeIdentifier() != fileArchive_->backing()->documentTypeIdentifier();
        if (!typeChanged && oldURL && container_->projectDirectoryIsOrigin() && !container_->projectDirectoryIsGone()
            && container_->projectDirectory().lexically_normal() == oldURL->lexically_normal()) {
            // The folder worked in place moved, and the work with it: the container follows it,
            // and the file archive is the container's at its new place.
            container_->projectDirectoryDidMove(*url);
            fileArchive_ = container_->projectDirectoryArchive();
            projectDidMove();
        } else if (!typeChanged) {
            // The file moved (or a save as kept its format): the archive follows it, and so does
            // the lock of a folder that awaits its work.
            try {
                fileArchive_ = std::make_shared<KVDocumentArchive>(fileArchive_->backing()->moved(*url), std::nullopt);
            } catch (const std::exception& error) {
                RKLog(std::string("The moved document cannot be read: ") + error.what(), RKLogKind::general);
            }
            if (awaitingFolderLock_)
                awaitingFolderLock_->folderDidMove(*url);
        }
    }
    if ((!fileArchive_ || typeChanged) && savedAsArchive_ && savedAsArchive_->backing()->url() == *url)
        fileArchive_ = savedAsArchive_;
    // Saved as another file: the folder that came back is no longer the document's. Moved, it
    // is waited for where it is now.
    if (!isFolderAwaitingWork())
        awaitingFolderLock_.reset();
    recordAwaitedFolder();
    std::optional<KVDocumentError> problem;
    if (!fileArchive_)
        problem = KVDocumentError(KVDocumentError::Code::archiveIsNil);
    else if (fileArchive_->backing()->url() != *url)
        problem = KVDocumentError(KVDocumentError::Code::archiveHasIncorrectFileURL);
    if (problem)
        presentError(problem->error());
}

// ---- The working container ----

void KVDocument::setContainer(std::shared_ptr<KVDocumentContainer> container)
{
    const bool changes = container != container_;
    if (changes) {
        containerObserver_.reset();
        containerWritingCount_ = 0;
        if (container_ && container_ != KVDocumentContainer::placeholder())
            container_->invalidate();
    }
    container_ = std::move(container);
    if (!changes || container_ == KVDocumentContainer::placeholder())
        return;
    if (!container_->isValid() || !container_->hasDataSource(std::string(KVDocumentArchive::relativePathForDocumentJSON)))
        documentContractBroken("a document's container is valid and has the editor's data source");
    container_->mark(false);
    containerHasChanges_ = container_->hasChanges();
    containerHasChangesDidChange();
    containerObserver_ = container_->observeHasChanges(ifAlive(weakThis(), [](KVDocument& self, Observable<bool>::Phase phase, const bool&, const bool&) {
        if (phase != Observable<bool>::Phase::didChange)
            return;
        self.containerHasChanges_ = self.container_->hasChanges();
        self.containerHasChangesDidChange();
    }));
    container_->dataSourceFileChangedElsewhere = ifAlive(weakThis(), &KVDocument::fileChangedElsewhere);
    // The folder worked in place is where the file is: a move or removal not yet reported is
    // taken before anything is written into it.
    container_->projectDirectoryMayHaveMoved = ifAlive(weakThis(), [](KVDocument& self) {
        if (self.fileURL() && !self.isFileGone())
            self.takeFileDepartureNow();
    });
    // A write of the pending changes that failed (a backup's as well as a save's): logged once
    // until one succeeds; the save that needs it fails with the cause and says so.
    container_->writeFailureHandler = ifAlive(weakThis(), [](KVDocument& self, const KVDocumentError& error) {
        self.lastWriteError_ = error;
        RKLog("The changes of " + self.displayName() + " could not be written: " + error.error().localizedDescription, RKLogKind::general);
    });
}

void KVDocument::fileChangedElsewhere(const std::string& relativePath)
{
    if (isClosed() || !container_->isValid() || !container_->isDataSourceHeld(relativePath))
        return;
    if (!container_->hasUnwrittenChanges()) {
        takeVersionOnDisk(relativePath);
        return;
    }
    // One question at a time; its answer covers whatever else came meanwhile.
    if (isAskingAboutChangeElsewhere_)
        return;
    isAskingAboutChangeElsewhere_ = true;
    auto alert = Alert::make();
    alert->setMessageText("The file “" + relativePath + "” of the project " + quotedDisplayName()
                          + " was changed by another application.");
    alert->setInformativeText("You have changes that are not in that file yet. Do you want to keep your changes, or use "
                              "the version that is on the disk now? The other version is replaced.");
    alert->addButton("Keep My Changes");
    alert->addButton("Use the Version on Disk");
    alert->beginSheetModal(windowForSheet(), ifAlive(weakThis(), [relativePath](KVDocument& self, Alert::ModalResponse response) {
        self.isAskingAboutChangeElsewhere_ = false;
        if (self.isClosed() || !self.container_->isValid())
            return;
        if (response == Alert::secondButtonReturn)
            self.takeVersionOnDisk(relativePath);
        else if (response == Alert::firstButtonReturn)
            self.container_->keepDataSource(relativePath);
        // Any other end of the question (a window gone, the application ending) decides
        // nothing: both versions stay as they are.
    }));
}

void KVDocument::takeVersionOnDisk(const std::string& relativePath)
{
    RKLog("Taking the version of " + relativePath + " that another application wrote", RKLogKind::general);
    container_->reloadDataSource(relativePath);
    if (container_->isDataSourceHeld(relativePath))
        return;
    // The editor shows what is on disk now: its page starts again from the project.
    nimbetViewController()->webViewController().reload();
}

void KVDocument::containerHasChangesDidChange()
{
    if (isHandingOverToFolder_)
        return;
    if (!MainQueue::isMainThread())
        documentContractBroken("change counts are reported on the main thread");
    // A tutorial never shows as edited.
    updateChangeCount(containerHasChanges_ && !isInTutorialMode_ ? ChangeKind::done : ChangeKind::cleared);
}

} // namespace kx
