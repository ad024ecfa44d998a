// A folder project worked in place that goes to the Trash or away while it is open, and comes
// back out of the Trash.
#include "App/documents/KVDocument.h"

#include <fcntl.h>

#include "App/documents/container/KVContainerLockFile.h"
#include "App/documents/container/KVFolderHandOver.h"
#include "App/editor/NimbetError.h"
#include "App/shell/RKLog.h"
#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/RunLoopWait.h"
#include "Platform/Foundation/Uuid.h"
#include "Platform/UI/Alert.h"

namespace kx {

namespace fs = std::filesystem;

void KVDocument::fileDidGo(const std::optional<Path>& trashedTo)
{
    if (isFolderAwaitingWork()) {
        // Gone again before it held the work: the working copy has all of it, as before.
        fileArchive_.reset();
        awaitingFolderLock_.reset();
        recordAwaitedFolder();
        RKLog("The project folder of " + displayName() + " went again before it held the work done while it was away; "
                  "the work goes on in its working copy",
              RKLogKind::general);
        return;
    }
    if (!container_->isValid() || !container_->projectDirectoryIsOrigin())
        return;
    container_->projectDirectoryDidGo(trashedTo);
    takeWorkingCopyOfGoneFolderSoon();
}

void KVDocument::takeWorkingCopyOfGoneFolderSoon()
{
    // Not under a save that waits for its container: that save ends first (it fails, the folder
    // being gone), and every save and draft takes the copy itself before it starts.
    const auto delay = archiveWriteInProgress_ || RunLoopWait::isWaiting() ? std::chrono::milliseconds(200) : std::chrono::milliseconds(0);
    MainQueue::after(delay, ifAlive(weakThis(), [](KVDocument& self) {
        if (self.archiveWriteInProgress_ || RunLoopWait::isWaiting())
            self.takeWorkingCopyOfGoneFolderSoon();
        else
            self.takeWorkingCopyOfGoneFolder();
    }));
}

void KVDocument::takeWorkingCopyOfGoneFolder()
{
    if (isClosed() || !container_->isValid() || !container_->projectDirectoryIsGone())
        return;
    const auto gone = container_;
    const bool wasEdited = isDocumentEdited();
    bool copiedAll = true;
    const std::string documentPath(KVDocumentArchive::relativePathForDocumentJSON);
    auto copy = KVDocumentContainer::make(Uuid::make(), false, std::nullopt);
    copy->addDataSource(documentJSONSource(), documentPath);
    copy->keepAwaitedNamesOf(*gone);
    // What is left where the folder went: all of it in the Trash; nothing of a folder deleted
    // or moved to another disk (a copy there, then a deletion here).
    try {
        const KVDocumentArchive left(gone->projectDirectory(), projectFolderType, false, std::nullopt, false);
        copy->read(left, KVDocumentContainer::ArchiveRelation::copy());
    } catch (const std::exception& error) {
        RKLog("Nothing could be copied of the gone project folder of " + displayName() + ": " + error.what(), RKLogKind::general);
        copiedAll = false;
        try {
            // Read as a package that holds nothing: it never comes into being.
            const KVDocumentArchive nothing(copy->uuidDirectory() / "gone", projectFolderType, true, copy->uuid(), false);
            copy->read(nothing, KVDocumentContainer::ArchiveRelation::copy());
        } catch (const std::exception& second) {
            RKLog(std::string("The working copy of the gone project folder could not be made: ") + second.what(), RKLogKind::general);
            try {
                copy->deleteContainer(false);
            } catch (...) {
            }
            return;
        }
    }
    filesLeftBehind_.clear();
    const auto copied = copy->knownFiles();
    for (const auto& path : gone->knownFiles())
        if (!copied.contains(path))
            filesLeftBehind_.push_back(path);
    // No file of its own any more: a save as gives it one, with the working copy's identity.
    fileArchive_.reset();
    setContainer(copy);
    didChangeContainer();
    try {
        gone->deleteContainer(false);
    } catch (...) {
    }
    // Unedited and whole in the Trash, it is as saved as it was; otherwise nothing lasting holds
    // the work any more, and the page's document is the one that counts.
    copiedAll = copiedAll && filesLeftBehind_.empty();
    if (wasEdited || !copiedAll) {
        container_->mark(true);
        documentJSONSource()->setDataNeedsToBeProvided(true);
    }
    RKLog("The project folder of " + displayName() + " is gone; its work goes on in a working copy"
              + (filesLeftBehind_.empty() ? std::string() : ", without " + std::to_string(filesLeftBehind_.size()) + " file(s) that went with it"),
          RKLogKind::general);
}

std::string KVDocument::whatWentWithFile() const
{
    if (filesLeftBehind_.empty())
        return {};
    constexpr std::size_t named = 8;
    std::string list;
    for (std::size_t index = 0; index < filesLeftBehind_.size() && index < named; ++index)
        list += (index ? ", \u201C" : "\u201C") + filesLeftBehind_[index] + "\u201D";
    if (filesLeftBehind_.size() > named)
        list += " and " + std::to_string(filesLeftBehind_.size() - named) + " more";
    return (filesLeftBehind_.size() == 1 ? "This file of the project went with it and could not be kept: "
                                         : "These files of the project went with it and could not be kept: ")
        + list + ".";
}

void KVDocument::tellFilesLeftBehind()
{
    if (filesLeftBehind_.empty())
        return;
    const std::string lost = whatWentWithFile();
    filesLeftBehind_.clear();
    RKLog(displayName() + " was saved without the files that went with its old folder", RKLogKind::general);
    auto alert = Alert::make();
    alert->setMessageText(quotedDisplayName() + " was saved without files that went with its old folder.");
    alert->setInformativeText(lost + " The folder was deleted, or moved to another disk, before they could be copied.");
    alert->addButton("OK");
    alert->setAlertStyle(Alert::Style::informational);
    alert->beginSheetModal(windowForSheet(), [](Alert::ModalResponse) {});
}

// ---- Back out of the Trash ----

void KVDocument::recordAwaitedFolder(const std::optional<Path>& folder)
{
    if (!container_->isValid() || container_->projectDirectoryIsOrigin())
        return;
    // Found at the next launch should the application end before the save that hands the work
    // over: neither swept as a leftover nor opened beside the folder as a copy of its own.
    try {
        container_->awaitFolder(isFolderAwaitingWork() ? folder.value_or(fileArchive_->backing()->url()) : std::optional<Path>());
    } catch (const Error& error) {
        RKLog("The working copy of " + displayName() + " could not record its folder: " + error.localizedDescription, RKLogKind::general);
    }
}

bool KVDocument::isFolderAwaitingWork() const
{
    return fileArchive_ && !container_->projectDirectoryIsOrigin() && container_->isValid()
        && fileArchive_->backing()->documentTypeIdentifier() == projectFolderType;
}

std::optional<std::string> KVDocument::takeFileBack(const Path& to)
{
    // A package is the same file wherever it lies: its archive follows it with the URL.
    if (fileArchive_ && !container_->projectDirectoryIsOrigin())
        return std::nullopt;
    const auto why = [](std::exception_ptr failure) { return errorFromException(failure).localizedDescription; };
    if (!container_->isValid())
        return std::nullopt;
    if (container_->projectDirectoryIsOrigin()) {
        // Gone a moment ago, no working copy taken yet: the container works in the folder again.
        try {
            container_->projectDirectoryDidComeBack(to);
        } catch (...) {
            return why(std::current_exception());
        }
        fileArchive_ = container_->projectDirectoryArchive();
        projectDidMove();
        return std::nullopt;
    }
    // The work goes on in the working copy until a save wrote it into the folder; the folder is
    // the document's file again from now on, held against other instances.
    try {
        auto lock = KVContainerLockFile::acquire(to);
        fileArchive_ = std::make_shared<KVDocumentArchive>(to, projectFolderType, false, std::nullopt, false);
        awaitingFolderLock_ = std::move(lock);
    } catch (...) {
        return why(std::current_exception());
    }
    RKLog("The project folder of " + displayName() + " is back at " + to.string() + "; its work goes there with the next save",
          RKLogKind::general);
    recordAwaitedFolder(to);
    if (isDocumentEdited()) {
        // The folder lacks the work until a save wrote it there: an edit to autosave, with the
        // page's document as the one that counts.
        container_->mark(true);
        documentJSONSource()->setDataNeedsToBeProvided(true);
        updateChangeCount(ChangeKind::done);
        return std::nullopt;
    }
    // Unedited, the working copy holds nothing the folder lacks: it is worked in at once, unless
    // something is being written (the next save hands it over then).
    if (!archiveWriteInProgress_ && containerWritingCount_ == 0 && !RunLoopWait::isWaiting()) {
        try {
            followFolderBack(to, HandOver::now);
        } catch (...) {
            RKLog("The project folder of " + displayName() + " stays in its working copy for now: " + why(std::current_exception()),
                  RKLogKind::general);
        }
    }
    return std::nullopt;
}

void KVDocument::followFolderBack(const Path& to, HandOver handOver)
{
    // Not into another folder that took its place since the watch last looked.
    if (!isFileAt(to))
        throw KVDocumentError(KVDocumentError::Code::archiveHasIncorrectFileURL);
    // What the working copy added (images, assets) goes into the folder beside what the folder
    // holds; a page's document not written there yet is asked for again by the next save.
    const auto copy = container_;
    const bool edited = isDocumentEdited();
    const bool pageHasMore = documentJSONSource()->dataNeedsToBeProvided();
    if (handOver == HandOver::now)
        handWorkOver(to, KVDocumentContainer::PageDocument::leftOut);
    auto archive = std::make_shared<KVDocumentArchive>(to, projectFolderType, false, std::nullopt, false);
    auto container = KVDocumentContainer::make(archive);
    container->addDataSource(documentJSONSource(), std::string(KVDocumentArchive::relativePathForDocumentJSON));
    container->keepAwaitedNamesOf(*copy);
    try {
        container->read(*archive, KVDocumentContainer::ArchiveRelation::origin(false));
    } catch (...) {
        container->invalidate();
        throw;
    }
    const bool withinSave = handOver == HandOver::doneBySave;
    fileArchive_ = archive;
    filesLeftBehind_.clear();
    isHandingOverToFolder_ = withinSave;
    setContainer(container);
    isHandingOverToFolder_ = false;
    didChangeContainer();
    awaitingFolderLock_.reset();
    // What the page changed since (or, outside a save, all of it) is for the next save to write.
    if (withinSave ? pageHasMore : edited) {
        if (!withinSave)
            container_->mark(true);
        documentJSONSource()->setDataNeedsToBeProvided(true);
    }
    // The draft kept while the folder was away holds nothing the folder lacks now: it goes
    // before the working copy, so that no crash between the two leaves it to open beside the
    // folder at the next launch (the working copy left is then found and let go).
    if (const auto draft = autosavedContentsFileURL()) {
        deleteDraft(*draft);
        setAutosavedContentsFileURL(std::nullopt);
    }
    try {
        copy->deleteContainer(false);
    } catch (...) {
    }
    RKLog("The project folder of " + displayName() + " at " + to.string() + " holds its work; the work goes on there", RKLogKind::general);
}

void KVDocument::handWorkOver(const Path& to, KVDocumentContainer::PageDocument document)
{
    // Through the folder the watch follows, never its path: a folder that another program puts
    // at the path while the files go over gets none of them.
    const FileDescriptor folder = openFileFolder();
    if (folder.get() < 0)
        throw KVDocumentError(KVDocumentError::Code::archiveHasIncorrectFileURL);
    container_->handWorkOver(folder.get(), to, document);
}

void KVDocument::writeWorkIntoFolder(const Path& url)
{
    // Written without the page's document, the folder would hold less than the working copy and
    // the draft: it is left as it is until the page answers.
    if (isSavingWithoutPageData_) {
        if (lastWriteError_)
            throw *lastWriteError_;
        throw KVDocumentError(KVDocumentError::Code::containerHasUnwrittenChanges,
                              NimbetError::error(NimbetError::Code::pageNotAnswering));
    }
    // Into the folder the watch follows, file by file, never a new folder in its place: nothing
    // the folder holds besides goes, and a folder another program put at its path since is
    // never written into (the save then goes where the project went).
    if (!isFileAt(url))
        throw KVDocumentError(KVDocumentError::Code::archiveHasIncorrectFileURL);
    handWorkOver(url, KVDocumentContainer::PageDocument::included);
    followFolderBack(url, HandOver::doneBySave);
}

bool KVDocument::resumeHandOver(const Path& url, const std::shared_ptr<KVDocumentArchive>& archive)
{
    const auto waiting = KVDocumentContainer::workingCopyAwaiting(url);
    if (!waiting)
        return false;
    // Held against other instances before anything in it is looked at or removed.
    auto lock = KVContainerLockFile::acquire(url);
    const FileDescriptor folder(::open(url.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return false;
    KVFolderHandOver::removeLeftovers(folder.get());
    const std::string documentPath(KVDocumentArchive::relativePathForDocumentJSON);
    std::vector<std::string> missing;
    try {
        missing = KVFolderHandOver::differences(waiting->workingCopy, folder.get(), {}, documentPath);
    } catch (const Error& error) {
        // Kept as it is for a later launch: its work is never taken for nothing.
        RKLog("The working copy " + waiting->workingCopy.string() + " of " + url.string() + " cannot be read: " + error.localizedDescription,
              RKLogKind::general);
        return false;
    }
    const auto draft = waiting->draft && controller() && controller()->isInDraftsDirectory(*waiting->draft) ? waiting->draft : std::nullopt;
    if (missing.empty()) {
        // The hand-over had finished: the folder is the lasting copy, and nothing else is.
        RKLog("The project folder " + url.string() + " holds all the work of its working copy, which goes", RKLogKind::general);
        if (draft)
            deleteDraft(*draft);
        KVDocumentContainer::discardWorkingCopy(*waiting);
        return false;
    }
    auto copy = KVDocumentContainer::make(waiting->uuid, false, std::nullopt);
    copy->addDataSource(documentJSONSource(), documentPath);
    try {
        copy->read(*archive, KVDocumentContainer::ArchiveRelation::origin(false));
    } catch (const std::exception& error) {
        copy->invalidate();
        RKLog("The working copy of " + url.string() + " could not be taken up: " + error.what(), RKLogKind::general);
        return false;
    }
    fileArchive_ = archive;
    awaitingFolderLock_ = std::move(lock);
    setContainer(copy);
    didChangeContainer();
    // Edited, as it was: the next save hands the work over, closing asks, and its draft is this
    // document's, not one to open beside it.
    container_->mark(true);
    std::error_code ec;
    if (draft && fs::exists(*draft, ec))
        setAutosavedContentsFileURL(*draft);
    RKLog("The work on " + url.string() + " that " + std::to_string(missing.size())
              + " file(s) of the folder lack waits in its working copy; it goes there with the next save",
          RKLogKind::general);
    return true;
}

} // namespace kx
