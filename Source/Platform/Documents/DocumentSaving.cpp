// Saving, autosaving, writing safely, reverting and duplicating.
#include "Platform/Documents/Document.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/UI/Alert.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

// A completion that runs at most once, whoever calls it.
Document::Completion once(Document::Completion completion)
{
    auto shared = std::make_shared<Document::Completion>(std::move(completion));
    return [shared](std::optional<Error> error) {
        if (!*shared)
            return;
        auto call = std::exchange(*shared, nullptr);
        call(std::move(error));
    };
}

bool samePath(const fs::path& a, const fs::path& b)
{
    if (a.lexically_normal() == b.lexically_normal())
        return true;
    auto realA = FileSystem::realPath(a);
    auto realB = FileSystem::realPath(b);
    return realA && realB && *realA == *realB;
}

} // namespace

// ---- Saving ----

void Document::save(const Path& requestedURL, const std::string& type, SaveOperation operation, Completion completion)
{
    auto finish = once(std::move(completion));
    if (operation != SaveOperation::autosaveInPlace && operation != SaveOperation::autosaveElsewhere)
        autosavingIsImplicitlyCancellable_ = false;
    // A copy: the URL asked for may be the document's own, which a move changes.
    Path url = requestedURL;
    // A file sent to the Trash a moment ago may not be reported yet: the write would put it
    // back at its old place. A file moved is saved where it is now.
    if ((operation == SaveOperation::save || operation == SaveOperation::autosaveInPlace) && fileURL_ && samePath(url, *fileURL_)
        && takeFileDepartureNow())
        url = *fileURL_;
    // The file went to the Trash or was deleted: writing it again at its old place would
    // quietly undo that. The user says where (Save As); until then the work stays unsaved.
    if (fileGone_ && fileURL_ && samePath(url, *fileURL_)
        && (operation == SaveOperation::save || operation == SaveOperation::autosaveInPlace)) {
        finish(fileGoneError());
        return;
    }
    const bool overwritesFile = (operation == SaveOperation::save || operation == SaveOperation::autosaveInPlace)
        && fileURL_ && samePath(url, *fileURL_);
    if (overwritesFile && fileIdentity_ && checksFileBeforeOverwriting(url)) {
        auto current = FileIdentity::of(url);
        if (current && !(*current == *fileIdentity_)) {
            std::weak_ptr<Document> weak = weak_from_this();
            askToOverwriteChangedFile(operation, [weak, url, type, operation, finish](bool overwrite) {
                auto self = weak.lock();
                if (!self || !overwrite) {
                    // The user keeps the other version for now: autosaves stop asking until
                    // the user saves (or reverts).
                    if (self)
                        self->overwriteDeclinedForAutosave_ = true;
                    finish(changedElsewhereError());
                    return;
                }
                self->saveAfterChecks(url, type, operation, finish);
            });
            return;
        }
    }
    saveAfterChecks(url, type, operation, finish);
}

bool Document::checksFileBeforeOverwriting(const Path& url) const
{
    auto identity = FileIdentity::of(url);
    return !identity || !identity->isDirectory;
}

void Document::askToOverwriteChangedFile(SaveOperation operation, std::function<void(bool overwrite)> answer)
{
    // One question at a time; an autosave meanwhile waits for the next round.
    if (overwriteQuestionShown_) {
        answer(false);
        return;
    }
    overwriteQuestionShown_ = true;
    auto alert = Alert::make();
    alert->setMessageText(quotedDisplayName() + " was changed by another application since you opened or saved it.");
    alert->setInformativeText(std::string("Saving now replaces that application\u2019s version of the file. ")
                              + (operation == SaveOperation::autosaveInPlace ? "Until you choose, your changes are kept but not written to the file." : ""));
    alert->addButton("Save Anyway");
    alert->addButton("Cancel");
    std::weak_ptr<Document> weak = weak_from_this();
    alert->beginSheetModal(windowForSheet(), [weak, answer](Alert::ModalResponse response) {
        if (auto self = weak.lock())
            self->overwriteQuestionShown_ = false;
        answer(response == Alert::firstButtonReturn);
    });
}

Error Document::fileGoneError() const
{
    std::string description = "The file of the document " + quotedDisplayName() + " " + (fileGone_ ? fileGone_->what : "was deleted");
    // The cause given may end a sentence of its own.
    if (!description.ends_with('.'))
        description += ".";
    if (const auto lost = whatWentWithFile(); !lost.empty())
        description += " " + lost;
    return Error("NSCocoaErrorDomain", 4, description, "",
                 fileGone_ && fileGone_->isBack ? "Your changes are still in the document. Save again once it can be used, or choose "
                                                  "Save As\u2026 to keep it somewhere else."
                                                : "Your changes are still in the document. Choose Save As\u2026 to keep it somewhere else.");
}

void Document::saveAfterChecks(const Path& url, const std::string& type, SaveOperation operation, Completion completion,
                               bool followingMove)
{
    const ChangeCountToken token = changeCountToken();
    // Taken before the write: a document that moves to the new file (a folder it then works in)
    // may no longer answer for its draft afterwards.
    const auto draft = autosavedContentsFileURL();
    const bool atFile = fileURL_ && samePath(url, *fileURL_);
    const bool overwritesFile = (operation == SaveOperation::save || operation == SaveOperation::autosaveInPlace) && atFile;
    if (atFile && fileWatcher_)
        fileWatcher_->ownWriteBegins();
    const auto writeEnded = [this, atFile] {
        if (atFile && fileWatcher_)
            fileWatcher_->ownWriteEnded();
    };
    try {
        writeSafely(url, type, operation);
    } catch (...) {
        writeEnded();
        // The file left its path while the new version was written, and the write put nothing
        // there: a moved file is saved where it went; a trashed or deleted one is not brought
        // back, and the user hears why.
        if (overwritesFile) {
            takeFileDepartureNow();
            if (fileGone_) {
                completion(fileGoneError());
                return;
            }
            if (fileURL_ && !samePath(url, *fileURL_) && !followingMove) {
                saveAfterChecks(*fileURL_, type, operation, std::move(completion), true);
                return;
            }
        }
        completion(errorFromException(std::current_exception()));
        return;
    }
    writeEnded();
    const bool holdsLatest = saveHoldsLatestChanges();
    lastSaveLackedLatestChanges_ = !holdsLatest;
    auto* controller = this->controller();
    switch (operation) {
    case SaveOperation::save:
    case SaveOperation::saveAs: {
        fileGone_.reset();
        setFileType(type);
        setFileURL(url);
        fileIdentity_ = FileIdentity::of(url);
        overwriteDeclinedForAutosave_ = false;
        // The file is the lasting copy now; the draft goes.
        if (draft && !samePath(*draft, url))
            deleteDraft(*draft);
        setAutosavedContentsFileURL(std::nullopt);
        updateChangeCount(token, operation);
        if (controller) {
            controller->noteNewRecentDocument(*this);
            controller->saveRestorationState();
        }
        break;
    }
    case SaveOperation::autosaveInPlace:
        fileIdentity_ = FileIdentity::of(url);
        updateChangeCount(token, operation);
        // The draft kept while the file was gone: the file holds that work again, unless this
        // autosave could not write the latest of it.
        if (draft && !samePath(*draft, url) && holdsLatest) {
            deleteDraft(*draft);
            setAutosavedContentsFileURL(std::nullopt);
            if (controller)
                controller->saveRestorationState();
        }
        break;
    case SaveOperation::autosaveElsewhere:
        setAutosavedContentsFileURL(url);
        updateChangeCount(token, operation);
        if (controller)
            controller->saveRestorationState();
        break;
    case SaveOperation::saveTo:
    case SaveOperation::autosaveAs:
        break;
    }
    completion(std::nullopt);
}

void Document::deleteDraft(const Path& draft)
{
    if (!controller() || !controller()->isInDraftsDirectory(draft))
        return;
    std::error_code ec;
    fs::remove_all(draft, ec);
}

void Document::read(const Path&, const std::string&)
{
    throw Error("NSCocoaErrorDomain", 256, "This document cannot be read.");
}

void Document::write(const Path&, const std::string&)
{
    throw Error("NSCocoaErrorDomain", 512, "This document cannot be written.");
}

void Document::writeSafely(const Path& url, const std::string& type, SaveOperation)
{
    // The new version is made beside the old one and takes its place in one rename.
    std::string pattern = (url.parent_path() / FileSystem::temporaryPattern(url)).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        throw Error::fromErrno(errno, "Cannot write " + url.string());
    const Path temporaryFolder(buffer.data());
    const Path temporary = temporaryFolder / url.filename();
    auto cleanUp = [&] {
        std::error_code ec;
        fs::remove_all(temporaryFolder, ec);
    };
    try {
        write(temporary, type);
    } catch (...) {
        cleanUp();
        throw;
    }
    std::error_code ec;
    const bool isFolder = fs::is_directory(fs::symlink_status(temporary, ec));
    if (isFolder && fs::is_directory(fs::symlink_status(url, ec))) {
        // A folder cannot be renamed over another: the two swap places in one step.
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, url.c_str(), RENAME_EXCHANGE) != 0) {
            auto error = Error::fromErrno(errno, "Cannot write " + url.string());
            cleanUp();
            throw error;
        }
    } else if (::rename(temporary.c_str(), url.c_str()) != 0) {
        auto error = Error::fromErrno(errno, "Cannot write " + url.string());
        cleanUp();
        throw error;
    }
    cleanUp();
    FileSystem::flushDirectory(url.parent_path());
}

void Document::saveDocument(Completion completion)
{
    auto finish = once(std::move(completion));
    takeFileDepartureNow();
    if (fileURL_ && fileGone_) {
        // The panel offers the old place again: the user hears first why it comes at all.
        presentError(fileGoneError(), [weak = weak_from_this(), finish] {
            if (auto self = weak.lock())
                self->saveDocumentAs(finish);
            else
                finish(userCancelledError());
        });
        return;
    }
    if (!fileURL_) {
        saveDocumentAs(finish);
        return;
    }
    save(*fileURL_, fileType_, SaveOperation::save, presentingErrors(finish));
}

Document::Completion Document::presentingErrors(Completion completion)
{
    return [weak = weak_from_this(), completion = std::move(completion)](std::optional<Error> error) {
        if (auto self = weak.lock(); self && error)
            self->presentError(*error);
        completion(error);
    };
}

void Document::saveDocumentAs(Completion completion)
{
    auto finish = once(std::move(completion));
    auto* controller = this->controller();
    if (!controller) {
        finish(userCancelledError());
        return;
    }
    DocumentControllerBase::PanelRequest request;
    request.kind = DocumentControllerBase::PanelRequest::Kind::save;
    request.title = "Save";
    request.types = writableTypes();
    request.suggestedName = displayName();
    if (fileURL_)
        request.folder = fileURL_->parent_path();
    if (request.types.empty()) {
        finish(userCancelledError());
        return;
    }
    auto chosen = controller->runPanel(request, windowForSheet());
    if (chosen.urls.empty()) {
        finish(userCancelledError());
        return;
    }
    save(chosen.urls.front(), chosen.type, SaveOperation::saveAs, presentingErrors(finish));
}

void Document::autosave(bool implicitlyCancellable, Completion completion)
{
    auto finish = once(std::move(completion));
    if (closed_ || !hasUnautosavedChanges()) {
        finish(std::nullopt);
        return;
    }
    autosavingIsImplicitlyCancellable_ = implicitlyCancellable;
    // A file that left its place a moment ago goes into a draft, as an untitled document's
    // does, and one back out of the Trash is autosaved in place again.
    if (fileURL_ && autosavesInPlace())
        takeFileDepartureNow();
    std::weak_ptr<Document> weak = weak_from_this();
    lastSaveLackedLatestChanges_ = false;
    auto done = [weak, finish, draftOfGoneFile = fileGone_.has_value()](std::optional<Error> error) {
        if (auto self = weak.lock()) {
            self->autosavingIsImplicitlyCancellable_ = false;
            // The draft is all that holds the work of a document whose file went: its failure is
            // said as that, and so is a draft written without the latest changes.
            if (error && draftOfGoneFile && !isUserCancelled(*error)) {
                Error gone = self->fileGoneError();
                gone.localizedDescription += std::exchange(self->lastSaveLackedLatestChanges_, false)
                    ? " Its draft keeps your work without the latest changes: " + error->localizedDescription
                    : " Its draft could not be written either: " + error->localizedDescription;
                if (const auto advice = error->informativeText(); !advice.empty() && advice != error->localizedDescription)
                    gone.localizedRecoverySuggestion = advice;
                error = gone;
            }
        }
        finish(std::move(error));
    };
    if (fileURL_ && autosavesInPlace() && !fileGone_) {
        save(*fileURL_, fileType_, SaveOperation::autosaveInPlace, [weak, done](std::optional<Error> error) {
            auto self = weak.lock();
            if (!error || isUserCancelled(*error) || !self || self->closed_ || !self->draftsWhileSavingInPlaceFails()) {
                done(std::move(error));
                return;
            }
            // The failure is what the user hears; the draft only keeps the work meanwhile.
            self->autosaveIntoDraft([weak, done, error](std::optional<Error> draftError) {
                auto self = weak.lock();
                if (draftError && self && !isUserCancelled(*draftError))
                    g_warning("The draft of %s could not be written either: %s", self->displayName().c_str(),
                              draftError->localizedDescription.c_str());
                done(error);
            });
        });
        return;
    }
    autosaveIntoDraft(done);
}

void Document::autosaveIntoDraft(Completion done)
{
    auto* controller = this->controller();
    auto draft = autosavedContentsFileURL();
    if (!draft && controller)
        draft = controller->newDraftURL(*this);
    if (!draft) {
        done(Error("NSCocoaErrorDomain", 512, "There is no place for the document\u2019s draft."));
        return;
    }
    save(*draft, draftType(), SaveOperation::autosaveElsewhere, std::move(done));
}

// ---- Reverting, duplicating ----

void Document::revert(const Path& url, const std::string& type)
{
    read(url, type);
    fileIdentity_ = FileIdentity::of(url);
    overwriteDeclinedForAutosave_ = false;
    updateChangeCount(ChangeKind::cleared);
}

void Document::revertDocumentToSaved()
{
    if (!fileURL_)
        return;
    auto alert = Alert::make();
    alert->setMessageText("Do you want to revert to the most recently saved version of the document " + quotedDisplayName() + "?");
    alert->setInformativeText("Your current changes will be lost.");
    alert->addButton("Revert");
    alert->addButton("Cancel");
    alert->beginSheetModal(windowForSheet(), ifAlive(weak_from_this(), [](Document& self, Alert::ModalResponse response) {
        if (response != Alert::firstButtonReturn || !self.fileURL_ || self.closed_)
            return;
        try {
            self.revert(*self.fileURL_, self.fileType_);
        } catch (...) {
            self.presentError(errorFromException(std::current_exception()));
        }
    }));
}

Document::Path Document::writeDraftCopy(const std::string& name)
{
    auto* controller = this->controller();
    if (!controller)
        throw Error("NSCocoaErrorDomain", 256, "The document has no drafts folder.");
    const Path draft = controller->newDraftURL(*this, name);
    writeSafely(draft, draftType(), SaveOperation::autosaveElsewhere);
    return draft;
}

std::shared_ptr<Document> Document::duplicate()
{
    auto* controller = this->controller();
    if (!controller)
        throw Error("NSCocoaErrorDomain", 256, "The document cannot be duplicated.");
    const std::string name = displayName() + " copy";
    const Path draft = writeDraftCopy(name);
    std::shared_ptr<Document> copy;
    try {
        copy = controller->makeDocumentForURL(std::nullopt, draft, draftType());
    } catch (...) {
        deleteDraft(draft);
        throw;
    }
    copy->setDisplayName(name);
    controller->addDocument(copy);
    copy->makeWindowControllers();
    copy->showWindows();
    return copy;
}

} // namespace kx
