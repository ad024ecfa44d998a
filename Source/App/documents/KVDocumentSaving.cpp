// Saving, autosaving, reverting, duplicating and closing the project document.
#include "App/documents/KVDocument.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

#include "App/account/KorvelTracking.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/documents/container/KVContainerLockFile.h"
#include "App/editor/NimbetError.h"
#include "App/shell/RKLog.h"
#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/RunLoopWait.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

bool isAutosave(SaveOperation operation)
{
    return operation == SaveOperation::autosaveElsewhere || operation == SaveOperation::autosaveInPlace;
}

// The page could not hand over its document for now (busy, gone, not loaded): the working
// folder still holds everything written before, which is worth keeping. A disk that refused the
// write is another matter, and so is a document too large to be handed over at all: saved
// without it, quitting would lose it without a word.
bool isPageFailure(const KVDocumentError& error)
{
    const auto& cause = error.underlying();
    return cause && cause->domain == NimbetError::domain
        && cause->code != static_cast<std::int64_t>(NimbetError::Code::documentTooLarge);
}

// The page had no document to hand over for now: it has not loaded one yet, is loading again
// after its process ended, or said why it has none. Unlike a page that hangs, it shows so itself.
bool pageHadNoDocument(const KVDocumentError& error)
{
    const auto& cause = error.underlying();
    if (!cause || cause->domain != NimbetError::domain)
        return false;
    switch (static_cast<NimbetError::Code>(cause->code)) {
    case NimbetError::Code::viewControllerGone:
    case NimbetError::Code::pageNotReady:
    case NimbetError::Code::pageGone:
    case NimbetError::Code::pageFailed:
        return true;
    default:
        return false;
    }
}

// How long a save or a copy waits for the pending changes (the page's answer, the write).
constexpr int changesWaitSeconds = 10;

// Pending changes that are not in the working folder, for `reason`; `advice` says what to do.
KVDocumentError unwrittenBecause(std::string reason, std::string advice)
{
    constexpr auto code = KVDocumentError::Code::containerHasUnwrittenChanges;
    return KVDocumentError(code, Error(KVDocumentError::errorDomain, static_cast<int>(code), std::move(reason), "", std::move(advice)));
}

// The system's reason why a draft could not be written, where there is one.
std::optional<Error> draftFailureCause(const KVDocumentArchiveError& error)
{
    if (error.underlying().domain == Error::posixDomain)
        return error.underlying();
    // A drafts folder that is gone, or a file in its place.
    if (error.code() == KVDocumentArchiveError::Code::notFound)
        return Error(Error::posixDomain, ENOENT, error.underlying().localizedDescription);
    return std::nullopt;
}

// A folder that a project may be written into: new, empty, or a project folder already.
bool mayBecomeProjectFolder(const fs::path& url)
{
    std::error_code ec;
    const auto status = fs::symlink_status(url, ec);
    if (ec || !fs::exists(status))
        return true;
    if (!fs::is_directory(status))
        return false;
    if (fs::is_empty(url, ec) && !ec)
        return true;
    return fs::exists(url / std::string(KVDocumentArchive::relativePathForManifest), ec)
        || fs::exists(url / std::string(KVDocumentArchive::relativePathForDocumentJSON), ec);
}

// Removes what a failed save as made at `url`, when nothing was there before.
void removeIfMade(const fs::path& url, bool existed)
{
    if (existed)
        return;
    std::error_code ec;
    fs::remove_all(url, ec);
}

} // namespace

void KVDocument::logSave(int session, const std::string& text) const
{
    container_->logger().log(LogMessage{"[Save session: " + std::to_string(session) + "] " + text, "debug", std::nullopt});
}

// ---- The save session ----

// What one save carries from step to step: the pending changes are written into the working
// folder, the save waits for that write (an autosave that may be declined only briefly), then
// the folder is saved where the operation says.
struct KVDocument::SaveSession {
    int number = 0;
    Path url;
    std::string type;
    SaveOperation operation = SaveOperation::save;
    bool cancellable = false;
    bool hadNoFileURL = false;
    // It writes the document's own file where it was when the save began.
    bool atFile = false;
    // True while the write of pending changes that this save waits for runs.
    bool pending = false;
    // Why this save's write of pending changes failed, if it did.
    std::optional<KVDocumentError> writeError;
    Completion completion;

    void finish(std::optional<Error> error)
    {
        if (auto call = std::exchange(completion, nullptr))
            call(std::move(error));
    }
};

std::weak_ptr<KVDocument> KVDocument::weakThis()
{
    return std::static_pointer_cast<KVDocument>(shared_from_this());
}

void KVDocument::save(const Path& requestedURL, const std::string& type, SaveOperation operation, Completion completion)
{
    Path url = requestedURL;
    // A folder worked in place that moved or went a moment ago, its report still on its way:
    // taken now, before anything is written into it. A moved one is saved where it went.
    if (container_->projectDirectoryIsOrigin() && fileURL() && !isFileGone()) {
        const Path before = *fileURL();
        if (takeFileDepartureNow() && url == before)
            url = *fileURL();
    }
    takeWorkingCopyOfGoneFolder();
    auto session = std::make_shared<SaveSession>();
    session->url = url;
    session->type = type;
    session->operation = operation;
    session->completion = std::move(completion);
    session->hadNoFileURL = !fileURL();
    session->atFile = (operation == SaveOperation::save || operation == SaveOperation::autosaveInPlace) && fileURL() && url == *fileURL();
    if (container_->projectDirectoryIsOrigin() && url == container_->projectDirectory())
        preventChangedByOtherAppErrorOnSave();
    session->cancellable = isAutosave(operation) && autosavingIsImplicitlyCancellable();
    session->number = saveCount_++;
    logSave(session->number, std::string("Started, operation: ") + std::string(saveOperationName(operation))
                                 + (session->cancellable ? ", implicitly cancellable" : ""));

    bool startWrite = true;
    if (containerWritingCount_ != 0) {
        session->pending = !session->cancellable;
        startWrite = !session->cancellable;
    } else {
        session->pending = true;
    }
    if (startWrite)
        writePendingChanges(session);
    if (session->cancellable && fileArchive_) {
        logSave(session->number, "Not autosaving to archive, implicitly cancellable");
        session->finish(KVDocumentError::cancellableAutosaveCancelled());
        return;
    }
    logSave(session->number, "Before waitUsingRecursiveRunLoop");
    RunLoopWait::waitUsingRecursiveRunloop([session] { return session->pending; }, session->cancellable ? 0.15 : double(changesWaitSeconds),
                                           [weak = weakThis(), session] {
                                               if (auto self = weak.lock())
                                                   self->saveWrittenChanges(session);
                                               else
                                                   session->finish(KVDocumentError::cancellableAutosaveCancelled());
                                           });
}

void KVDocument::writePendingChanges(const std::shared_ptr<SaveSession>& session)
{
    logSave(session->number, "Before container.writeChanges");
    ++containerWritingCount_;
    container_->writeChanges([session, weak = weakThis(), writing = std::weak_ptr<KVDocumentContainer>(container_)](
                                 std::optional<KVDocumentError> error) {
        session->pending = false;
        session->writeError = error;
        auto self = weak.lock();
        if (!self)
            return;
        // A container replaced meanwhile has its own error and started the count again.
        if (writing.lock() == self->container_) {
            self->lastWriteError_ = error;
            if (self->containerWritingCount_ > 0)
                --self->containerWritingCount_;
        }
        // The page handed over its document (or had nothing to hand over).
        if (!error)
            self->roundsWithoutPageDocument_ = 0;
        self->logSave(session->number, "Completed container.writeChanges");
    });
}

void KVDocument::saveWrittenChanges(const std::shared_ptr<SaveSession>& session)
{
    logSave(session->number, "Completed waitUsingRecursiveRunLoop");
    if (!session->cancellable && session->pending) {
        session->finish(changesNotInTimeError().error());
        return;
    }
    // The latest changes could not be written (a full disk): saving the folder as it is would
    // report a success without them. An autosave that could not get them from the page (a busy
    // or hanging page) keeps what the working folder holds all the same, and the document stays
    // edited for the next round; it still fails with the page's reason, since the latest edit
    // is only in the page (quitting or closing must not take it for saved).
    bool withoutPageData = false;
    if (const auto& writeError = session->writeError) {
        if (!isAutosave(session->operation) || !isPageFailure(*writeError)) {
            logSave(session->number, "Not saving: " + writeError->error().localizedDescription);
            session->finish(writeError->error());
            return;
        }
        logSave(session->number, "Saving what the working folder holds, without the page's latest changes: "
                                     + writeError->error().localizedDescription);
        RKLog("Autosaving " + displayName() + " without the editor's latest changes: " + writeError->error().localizedDescription,
              RKLogKind::general);
        withoutPageData = true;
    }
    // The file moved while its pending changes were written (the main loop turns meanwhile): it
    // is saved where it went.
    if (session->atFile && fileURL() && session->url != *fileURL())
        session->url = *fileURL();
    isSavingWithoutPageData_ = withoutPageData;
    Document::save(session->url, session->type, session->operation,
                   [weak = weakThis(), session, withoutPageData](std::optional<Error> error) {
                       if (auto self = weak.lock())
                           self->saveDidFinish(*session, withoutPageData, std::move(error));
                       else
                           session->finish(std::move(error));
                   });
}

KVDocumentError KVDocument::changesNotInTimeError() const
{
    // Mostly the page is the one that has not answered (busy, or hanging): the user hears so,
    // not that more changes came.
    if (documentJSONSource()->isAwaitingProvider())
        return KVDocumentError(KVDocumentError::Code::containerHasUnwrittenChanges, NimbetError::error(NimbetError::Code::pageNotAnswering));
    // The page did answer: what took so long is writing it out.
    return unwrittenBecause("Writing the latest changes took longer than " + std::to_string(changesWaitSeconds)
                                + " seconds: the disk or the computer is busy.",
                            "Your changes are still in the open document. Try saving again.");
}

std::optional<KVDocumentError> KVDocument::answerAwaitedError() const
{
    const std::string path(KVDocumentArchive::relativePathForDocumentJSON);
    if (!container_->isDataSourceHeld(path))
        return std::nullopt;
    return unwrittenBecause("The project " + quotedDisplayName() + " waits for your answer about another application\u2019s version of \u201C"
                                + path + "\u201D.",
                            "Choose Keep My Changes or Use the Version on Disk in its window, then save again.");
}

void KVDocument::saveDidFinish(SaveSession& session, bool withoutPageData, std::optional<Error> error)
{
    logSave(session.number, "Completed super.save");
    isSavingWithoutPageData_ = false;
    // Written without what the page holds: not saved for the user.
    if (withoutPageData) {
        updateChangeCount(ChangeKind::done);
        if (!error)
            error = session.writeError->error();
    }
    if (!error && session.operation == SaveOperation::saveAs)
        tellFilesLeftBehind();
    session.finish(std::move(error));
    if (session.hadNoFileURL && fileURL()) {
        const auto projectId = metricsProjectId();
        KorvelTracking::shared().track("app_save_project", {{"context", {{"projectId", projectId ? nlohmann::json(*projectId) : nlohmann::json()}}}});
    }
}

// ---- Writing ----

void KVDocument::writeSafely(const Path& url, const std::string& type, SaveOperation operation)
{
    if (!MainQueue::isMainThread()) {
        RKLog("KVDocument: writeSafely off the main thread", RKLogKind::general);
        std::abort();
    }
    const bool cancellable = isAutosave(operation) && autosavingIsImplicitlyCancellable();
    // A draft copy takes the pending changes from the page itself (writeDraftCopy).
    if (!cancellable && !isSavingWithoutPageData_ && !isDuplicating_ && container_->hasUnwrittenChanges()) {
        // Unwritten because writing failed: that is the reason, not a cancel.
        if (lastWriteError_)
            throw *lastWriteError_;
        // Held back until the user answers about another program's version: the reason too. An
        // autosave is declined with it, a cancel that says why: the timer tries again after the
        // answer, quitting tells it.
        if (auto waiting = answerAwaitedError()) {
            if (!isAutosave(operation))
                throw *waiting;
            Error declined = userCancelledError();
            declined.localizedDescription = waiting->underlying()->localizedDescription;
            declined.localizedRecoverySuggestion = waiting->underlying()->localizedRecoverySuggestion;
            throw declined;
        }
        if (isAutosave(operation))
            throw KVDocumentError::cancellableAutosaveCancelled();
        throw KVDocumentError(KVDocumentError::Code::containerHasUnwrittenChanges);
    }
    savedAsArchive_.reset();
    switch (operation) {
    case SaveOperation::save:
        writeToFileArchive(url);
        return;
    case SaveOperation::saveAs:
        saveAs(url, type);
        return;
    case SaveOperation::saveTo:
    case SaveOperation::autosaveAs:
        throw KVDocumentError(KVDocumentError::Code::notImplemented);
    case SaveOperation::autosaveElsewhere: {
        std::optional<std::string> uuid;
        auto relation = KVDocumentContainer::ArchiveRelation::copy();
        if (!isDuplicating_) {
            uuid = container_->uuid();
            // An untitled document's draft is what its working folder mirrors; so is the draft
            // of one whose file went, which is all that holds its work now, and that of a folder
            // back that does not hold the work yet.
            if (!fileURL() || isFileGone() || isFolderAwaitingWork())
                relation = KVDocumentContainer::ArchiveRelation::origin(true);
        }
        try {
            saveContainer(std::make_shared<KVDocumentArchive>(url, type, true, uuid, true), relation,
                          isDuplicating_ ? draftCopyContents_ : KVDocumentArchive::Contents());
        } catch (const KVDocumentArchiveError& error) {
            // What kept the draft from the disk comes with the advice that fits it, as for the
            // changes that a save could not write.
            if (auto cause = draftFailureCause(error))
                throw KVDocumentError(KVDocumentError::Code::containerHasUnwrittenChanges, *cause);
            throw;
        }
        return;
    }
    case SaveOperation::autosaveInPlace:
        // Declined autosaves must not count as saved: the change count stays for the next one.
        if (cancellable)
            throw KVDocumentError::cancellableAutosaveCancelled();
        writeToFileArchive(url);
        return;
    }
}

void KVDocument::writeToFileArchive(const Path& url)
{
    if (!fileArchive_)
        throw KVDocumentError(KVDocumentError::Code::archiveIsNil);
    if (fileArchive_->backing()->url() != url)
        throw KVDocumentError(KVDocumentError::Code::archiveHasIncorrectFileURL);
    if (isFolderAwaitingWork())
        writeWorkIntoFolder(url);
    else
        saveContainer(fileArchive_, KVDocumentContainer::ArchiveRelation::origin(false));
}

void KVDocument::saveContainer(std::shared_ptr<KVDocumentArchive> archive, KVDocumentContainer::ArchiveRelation relation,
                               KVDocumentArchive::Contents replacing)
{
    // The package is written by a worker while the main loop goes on; one write at a time.
    while (archiveWriteInProgress_)
        g_main_context_iteration(nullptr, TRUE);
    archiveWriteInProgress_ = true;
    bool done = false;
    std::exception_ptr failure;
    std::weak_ptr<KVDocument> weak = weakThis();
    container_->saveInBackground(
        std::move(archive), relation,
        [weak, &done, &failure](std::exception_ptr error) {
            failure = error;
            done = true;
            if (auto self = weak.lock())
                self->archiveWriteInProgress_ = false;
        },
        std::move(replacing));
    while (!done)
        g_main_context_iteration(nullptr, TRUE);
    if (failure)
        std::rethrow_exception(failure);
}

void KVDocument::saveAs(const Path& url, const std::string& type)
{
    const std::optional<std::string> uuid = !isDuplicating_ && !fileArchive_ ? std::optional(container_->uuid()) : std::nullopt;
    const bool isFolder = type == projectFolderType;
    std::error_code ec;
    const bool existed = fs::exists(fs::symlink_status(url, ec));
    if (isFolder && !mayBecomeProjectFolder(url))
        throw KVDocumentError(KVDocumentError::Code::containerIsNotDirectory,
                              Error("KVDocumentErrorDomain", 3, "The folder \u201C" + url.filename().string() + "\u201D is not a project folder.",
                                    "", "Choose a new or empty folder, or a project folder."));
    if (isFolder) {
        // Another instance working in that folder keeps it: nothing is written into it.
        std::shared_ptr<KVContainerLockFile> lock;
        auto archive = std::make_shared<KVDocumentArchive>(url, type, true, uuid, false);
        try {
            lock = KVContainerLockFile::acquire(url);
            saveContainer(archive, KVDocumentContainer::ArchiveRelation::origin(false));
            // The save put a new version of the folder in place: the lock is taken there again.
            lock->refresh();
            saveAsFolder(url, archive);
        } catch (...) {
            lock.reset();
            removeIfMade(url, existed);
            throw;
        }
        return;
    }
    auto archive = std::make_shared<KVDocumentArchive>(url, type, true, uuid, true);
    try {
        saveContainer(archive, KVDocumentContainer::ArchiveRelation::origin(false));
        // A folder edited in place must not stay the working folder of a zip document: later
        // edits, the lock, the log and discarded files would land in the original project.
        if (container_->projectDirectoryIsOrigin())
            switchToWorkingCopyOf(archive);
    } catch (...) {
        removeIfMade(url, existed);
        throw;
    }
    savedAsArchive_ = archive;
}

void KVDocument::saveAsFolder(const Path&, std::shared_ptr<KVDocumentArchive> archive)
{
    // The new working folder is made and read before the old one goes: a failure leaves the
    // document as it was.
    auto container = KVDocumentContainer::make(archive);
    container->addDataSource(documentJSONSource(),
                             std::string(KVDocumentArchive::relativePathForDocumentJSON));
    container->keepAwaitedNamesOf(*container_);
    // What the page changed since the save took its document is not in the new folder: reading
    // it leaves that to be asked for again.
    const bool pageHasMore = documentJSONSource()->dataNeedsToBeProvided();
    try {
        container->read(*archive, KVDocumentContainer::ArchiveRelation::origin(false));
    } catch (...) {
        container->invalidate();
        throw;
    }
    auto old = container_;
    fileArchive_ = archive;
    setContainer(container);
    didChangeContainer();
    if (pageHasMore)
        documentJSONSource()->setDataNeedsToBeProvided(true);
    wantsVersioningCheck_ = true;
    try {
        old->deleteContainer(false);
    } catch (const std::exception& error) {
        RKLog(std::string("The old working folder stays: ") + error.what(), RKLogKind::general);
    } catch (const Error& error) {
        RKLog("The old working folder stays: " + error.localizedDescription, RKLogKind::general);
    }
    scheduleAlerts();
}

void KVDocument::switchToWorkingCopyOf(std::shared_ptr<KVDocumentArchive> archive)
{
    auto container = makeContainer(archive, false, archive->backing()->url());
    container->addDataSource(documentJSONSource(),
                             std::string(KVDocumentArchive::relativePathForDocumentJSON));
    container->keepAwaitedNamesOf(*container_);
    const bool pageHasMore = documentJSONSource()->dataNeedsToBeProvided();
    try {
        container->read(*archive, KVDocumentContainer::ArchiveRelation::origin(false));
    } catch (...) {
        try {
            container->deleteContainer(false);
        } catch (...) {
        }
        throw;
    }
    setContainer(container);
    didChangeContainer();
    if (pageHasMore)
        documentJSONSource()->setDataNeedsToBeProvided(true);
}

void KVDocument::updateChangeCount(const ChangeCountToken& token, SaveOperation operation)
{
    switch (operation) {
    case SaveOperation::autosaveElsewhere:
        Document::updateChangeCount(token, operation);
        return;
    case SaveOperation::save:
    case SaveOperation::saveAs:
    case SaveOperation::autosaveInPlace:
        // The container says what is saved, and what changed since the save took it (an edit
        // made while the package was written stays one); its observation sets the change count.
        if (container_->isValid())
            container_->markSaved();
        return;
    case SaveOperation::saveTo:
    case SaveOperation::autosaveAs:
        return;
    }
}

void KVDocument::preventChangedByOtherAppErrorOnSave()
{
    // The folder is edited in place all the time: its version now is the document's own, and
    // the save must not take it for another program's.
    if (!fileURL() || fileType().empty())
        return;
    isPreventingChangedByOtherAppErrorOnSave_ = true;
    setFileIdentity(FileIdentity::of(*fileURL()));
    isPreventingChangedByOtherAppErrorOnSave_ = false;
}

// ---- Revert, duplicate, close ----

void KVDocument::revert(const Path& url, const std::string& type)
{
    isReverting_ = true;
    try {
        Document::revert(url, type);
    } catch (...) {
        isReverting_ = false;
        throw;
    }
    isReverting_ = false;
    // The editor shows what was read: its page starts again from the project.
    if (!isPreventingChangedByOtherAppErrorOnSave_)
        nimbetViewController()->webViewController().reload();
}

Document::Path KVDocument::writeDraftCopy(const std::string& name)
{
    takeWorkingCopyOfGoneFolder();
    // The copy takes what the editor shows, as the page hands it over, beside the working
    // folder's other files. Nothing is written into the folder first: it may be the user's own,
    // on a full disk, or hold another program's version that the user has not decided on.
    KVDocumentArchive::Contents contents;
    if (container_->isValid() && container_->hasUnwrittenChanges()) {
        // Inside another wait this one could not finish before that one does.
        if (RunLoopWait::isWaiting())
            throw unwrittenBecause("The latest changes could not be asked for while the application already waits for a page "
                                   "(a save, say).",
                                   "Your changes are still in the open document. Try again in a moment.");
        struct Provided {
            KVDocumentArchive::Contents contents;
            std::optional<KVDocumentError> error;
        };
        auto provided = std::make_shared<std::optional<Provided>>();
        container_->provideChanges([provided](KVDocumentArchive::Contents contents, std::optional<KVDocumentError> error) {
            *provided = Provided{std::move(contents), std::move(error)};
        });
        bool waited = false;
        RunLoopWait::waitUsingRecursiveRunloop([provided] { return !provided->has_value(); }, changesWaitSeconds, [&waited] { waited = true; });
        while (!waited)
            g_main_context_iteration(nullptr, TRUE);
        if (!*provided)
            throw changesNotInTimeError();
        if ((*provided)->error)
            throw *(*provided)->error;
        contents = std::move((*provided)->contents);
    }
    // A copy of its own: a new identity, nothing of it points back to this file.
    isDuplicating_ = true;
    draftCopyContents_ = std::move(contents);
    auto reset = [this] {
        isDuplicating_ = false;
        draftCopyContents_.clear();
    };
    try {
        auto draft = Document::writeDraftCopy(name);
        reset();
        if (!filesLeftBehind_.empty())
            RKLog("The draft " + draft.string() + " of " + displayName() + " lacks what went with its folder. " + whatWentWithFile(),
                  RKLogKind::general);
        return draft;
    } catch (...) {
        reset();
        throw;
    }
}

std::optional<Error> KVDocument::autosaveFailureToTell(const Error& error)
{
    if (!lastWriteError_ || !pageHadNoDocument(*lastWriteError_) || error != lastWriteError_->error()) {
        roundsWithoutPageDocument_ = 0;
        return error;
    }
    // An autosave while the page loads (also again, after its process ended) fails with the
    // page's reason; the document stays edited, the next round writes it, and closing or
    // quitting still asks. Told at once, it would stand on the window after that round saved it.
    // A page that stays without its document is told (once, until an autosave holds the page's
    // document again).
    if (++roundsWithoutPageDocument_ < roundsWithoutPageDocumentToTell)
        return std::nullopt;
    Error told = error;
    told.localizedDescription = "The latest changes to " + quotedDisplayName() + " have not been saved for some time. " + error.localizedDescription;
    told.localizedRecoverySuggestion = "Your work is kept as it was the last time the editor handed over the document. The changes made "
                                       "since are only in the editor, and are saved once it has its document again.";
    return told;
}

bool KVDocument::draftCanTakeUnsavedChanges() const
{
    // A draft asks the page again for what only it holds: a page still asked, or one that did
    // not hand it over to the last write (hanging, gone, too large), is asked in vain.
    if (!container_->isValid() || !container_->hasUnwrittenChanges())
        return true;
    const auto* cause = lastWriteError_ && lastWriteError_->underlying() ? &*lastWriteError_->underlying() : nullptr;
    return !documentJSONSource()->isAwaitingProvider() && !(cause && cause->domain == NimbetError::domain);
}

void KVDocument::close()
{
    auto keepAlive = shared_from_this();
    if (auto* server = serverController())
        server->stop();
    std::shared_ptr<KVDocumentContainer> toDelete;
    // An untitled document's working folder goes with it; its draft is the lasting copy. So
    // does the working copy of a folder that went: the user kept or let go of what it held. So
    // does that of a folder that came back, unless the work the folder lacks stays, as its
    // draft does (opened as that folder's work at the next launch).
    if (container_->isValid() && (!fileURL() || !fileArchive_ || (isFolderAwaitingWork() && !keepsWorkAtClose())))
        toDelete = container_;
    awaitingFolderLock_.reset();
    setContainer(KVDocumentContainer::placeholder());
    PDBaseDocument::close();
    if (toDelete) {
        try {
            toDelete->deleteContainer(false);
        } catch (...) {
        }
    }
}

} // namespace kx
