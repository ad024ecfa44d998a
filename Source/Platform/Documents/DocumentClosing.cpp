// Closing, with the questions about unsaved work.
#include "Platform/Documents/Document.h"

#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/UI/Alert.h"

namespace kx {

void Document::canClose(std::function<void(bool shouldClose)> completion)
{
    if (closed_) {
        completion(false);
        return;
    }
    // An untitled document with content of its own (edits, or a draft: a duplicate, work
    // autosaved before) never goes without the question, also when its draft holds it all.
    if (!fileURL_ && (isDocumentEdited() || autosavedContentsFileURL())) {
        askToKeepUntitled(std::move(completion));
        return;
    }
    if (!isDocumentEdited()) {
        completion(true);
        return;
    }
    std::weak_ptr<Document> weak = weak_from_this();
    auto couldNotSave = [weak, completion](const Error& error) {
        auto self = weak.lock();
        if (!self) {
            completion(false);
            return;
        }
        auto alert = Alert::make();
        alert->setMessageText("Your changes to the document " + self->quotedDisplayName() + " could not be saved.");
        alert->setInformativeText(error.localizedDescription + (error.informativeText().empty() ? "" : " " + error.informativeText()));
        alert->addButton("Cancel");
        alert->addButton("Close Without Saving");
        alert->beginSheetModal(self->windowForSheet(), [completion](Alert::ModalResponse response) {
            completion(response == Alert::secondButtonReturn);
        });
    };
    if (autosavesInPlace()) {
        // Edits of a document with a file are autosaved in place: closing saves them.
        save(*fileURL_, fileType_, SaveOperation::autosaveInPlace, [completion, couldNotSave](std::optional<Error> error) {
            // A plain cancel was the user's own answer; anything else (another program's file
            // kept, a full disk) is said, with the choice to close anyway.
            if (!error)
                completion(true);
            else if (isUserCancelled(*error) && *error != changedElsewhereError())
                completion(false);
            else
                couldNotSave(*error);
        });
        return;
    }
    auto alert = Alert::make();
    alert->setMessageText("Do you want to save the changes made to the document " + quotedDisplayName() + "?");
    alert->setInformativeText("Your changes will be lost if you don\u2019t save them.");
    alert->addButton("Save");
    alert->addButton("Don't Save");
    alert->addButton("Cancel");
    alert->beginSheetModal(windowForSheet(), [weak, completion](Alert::ModalResponse response) {
        auto self = weak.lock();
        if (!self || response == Alert::thirdButtonReturn || response == Alert::abortResponse) {
            completion(false);
            return;
        }
        if (response == Alert::secondButtonReturn) {
            completion(true);
            return;
        }
        self->saveDocument([completion](std::optional<Error> error) { completion(!error); });
    });
}

void Document::askToKeepUntitled(std::function<void(bool shouldClose)> completion)
{
    auto alert = Alert::make();
    alert->setMessageText("Do you want to keep this new document " + quotedDisplayName() + "?");
    alert->setInformativeText("You can choose to save your changes, or delete this document immediately. You can\u2019t undo this action.");
    alert->addButton("Save\u2026");
    alert->addButton("Delete");
    alert->addButton("Cancel");
    std::weak_ptr<Document> weak = weak_from_this();
    alert->beginSheetModal(windowForSheet(), [weak, completion](Alert::ModalResponse response) {
        auto self = weak.lock();
        if (!self || response == Alert::thirdButtonReturn || response == Alert::abortResponse) {
            completion(false);
            return;
        }
        if (response == Alert::secondButtonReturn) {
            if (auto draft = self->autosavedContentsFileURL())
                self->deleteDraft(*draft);
            self->setAutosavedContentsFileURL(std::nullopt);
            completion(true);
            return;
        }
        self->saveDocumentAs([completion](std::optional<Error> error) { completion(!error); });
    });
}

void Document::performClose()
{
    if (closing_ || closed_)
        return;
    closing_ = true;
    std::weak_ptr<Document> weak = weak_from_this();
    canClose([weak](bool shouldClose) {
        auto self = weak.lock();
        if (!self)
            return;
        self->closing_ = false;
        // Not from inside the event that asked (a key press of the window that goes).
        if (shouldClose)
            MainQueue::async([weak] {
                if (auto document = weak.lock())
                    document->close();
            });
    });
}

void Document::closeKeepingDraft()
{
    keepsDraftWhenClosed_ = true;
    close();
}

void Document::close()
{
    if (closed_)
        return;
    closed_ = true;
    auto keepAlive = shared_from_this();
    if (autosaveTimer_) {
        autosaveTimer_->cancel();
        autosaveTimer_.reset();
    }
    fileWatcher_.reset();
    auto* controller = this->controller();
    // An untitled document that closes leaves no draft behind; one closed by quitting keeps
    // it for the next launch, one closed to be opened again for that.
    if (!fileURL_ && !keepsDraftWhenClosed_ && !(controller && controller->isTerminating())) {
        if (auto draft = autosavedContentsFileURL())
            deleteDraft(*draft);
    }
    windowConnections_.clear();
    windowObservers_.clear();
    auto windows = std::move(windows_);
    windows_.clear();
    for (const auto& window : windows)
        window->close();
    if (controller)
        controller->removeDocument(*this);
}

} // namespace kx
