// Closing, with the questions about unsaved work.
#include "Platform/Documents/Document.h"

#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/UI/Alert.h"

namespace kx {

// A question before closing a document with unsaved work. Its first button keeps the work (by
// `save`), the second lets it go (after `discard`, when there is one); the third, Cancel, and
// a sheet that goes unanswered keep the document open.
struct Document::ClosingQuestion {
    std::string message;
    std::string information;
    std::string saveButton;
    std::string discardButton;
    void (Document::*save)(Completion completion);
    void (Document::*discard)();
};

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
    // Edits of a document with a file are autosaved in place: closing saves them.
    if (autosavesInPlace()) {
        autosaveBeforeClosing(std::move(completion));
        return;
    }
    askBeforeClosing({"Do you want to save the changes made to the document " + quotedDisplayName() + "?",
                      "Your changes will be lost if you don\u2019t save them.", "Save", "Don't Save",
                      &Document::saveDocument, nullptr},
                     std::move(completion));
}

void Document::autosaveBeforeClosing(std::function<void(bool shouldClose)> completion)
{
    save(*fileURL_, fileType_, SaveOperation::autosaveInPlace, [weak = weak_from_this(), completion](std::optional<Error> error) {
        // A plain cancel was the user's own answer; anything else (another program's file
        // kept, a full disk) is said, with the choice to close anyway.
        if (!error)
            completion(true);
        else if (isUserCancelled(*error) && *error != changedElsewhereError())
            completion(false);
        else if (auto self = weak.lock())
            self->askToCloseUnsaved(*error, completion);
        else
            completion(false);
    });
}

void Document::askToCloseUnsaved(const Error& error, std::function<void(bool shouldClose)> completion)
{
    auto alert = Alert::make();
    alert->setMessageText("Your changes to the document " + quotedDisplayName() + " could not be saved.");
    alert->setInformativeText(error.localizedDescription + (error.informativeText().empty() ? "" : " " + error.informativeText()));
    alert->addButton("Cancel");
    alert->addButton("Close Without Saving");
    alert->beginSheetModal(windowForSheet(), [completion](Alert::ModalResponse response) {
        completion(response == Alert::secondButtonReturn);
    });
}

void Document::askToKeepUntitled(std::function<void(bool shouldClose)> completion)
{
    askBeforeClosing({"Do you want to keep this new document " + quotedDisplayName() + "?",
                      "You can choose to save your changes, or delete this document immediately. You can\u2019t undo this action.",
                      "Save\u2026", "Delete", &Document::saveDocumentAs, &Document::discardDraft},
                     std::move(completion));
}

void Document::discardDraft()
{
    if (auto draft = autosavedContentsFileURL())
        deleteDraft(*draft);
    setAutosavedContentsFileURL(std::nullopt);
}

void Document::askBeforeClosing(const ClosingQuestion& question, std::function<void(bool shouldClose)> completion)
{
    auto alert = Alert::make();
    alert->setMessageText(question.message);
    alert->setInformativeText(question.information);
    alert->addButton(question.saveButton);
    alert->addButton(question.discardButton);
    alert->addButton("Cancel");
    alert->beginSheetModal(windowForSheet(), [weak = weak_from_this(), save = question.save, discard = question.discard,
                                              completion](Alert::ModalResponse response) {
        auto self = weak.lock();
        if (!self || response == Alert::thirdButtonReturn || response == Alert::abortResponse) {
            completion(false);
            return;
        }
        if (response == Alert::secondButtonReturn) {
            if (discard)
                (*self.*discard)();
            completion(true);
            return;
        }
        (*self.*save)([completion](std::optional<Error> error) { completion(!error); });
    });
}

void Document::performClose()
{
    if (closing_ || closed_)
        return;
    closing_ = true;
    canClose(ifAlive(weak_from_this(), &Document::closeIfAllowed));
}

void Document::closeIfAllowed(bool shouldClose)
{
    closing_ = false;
    // Not from inside the event that asked (a key press of the window that goes).
    if (shouldClose)
        MainQueue::async(ifAlive(weak_from_this(), &Document::close));
}

void Document::closeKeepingDraft()
{
    keepsDraftWhenClosed_ = true;
    close();
}

bool Document::keepsWorkAtClose() const
{
    // An untitled document that closes leaves no draft behind, nor does one whose file went;
    // one closed by quitting keeps it for the next launch, one closed to be opened again for
    // that. A file back out of the Trash whose draft the next save would have removed: closed
    // by the user, or unedited (the file holds all of it), its draft goes too.
    if (keepsDraftWhenClosed_)
        return true;
    const auto* controller = this->controller();
    return controller && controller->isTerminating() && (!fileURL_ || fileGone_ || isDocumentEdited());
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
    if (!keepsWorkAtClose()) {
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
