// Identity, change counts, autosave scheduling, windows and errors of a document.
#include "Platform/Documents/Document.h"

#include <glib.h>

#include <algorithm>

#include "Platform/Documents/DocumentControllerBase.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/UI/SheetNotification.h"

namespace kx {

namespace fs = std::filesystem;

std::string_view saveOperationName(SaveOperation operation)
{
    switch (operation) {
    case SaveOperation::save:
        return "saveOperation";
    case SaveOperation::saveAs:
        return "saveAsOperation";
    case SaveOperation::saveTo:
        return "saveToOperation";
    case SaveOperation::autosaveElsewhere:
        return "autosaveElsewhereOperation";
    case SaveOperation::autosaveInPlace:
        return "autosaveInPlaceOperation";
    case SaveOperation::autosaveAs:
        return "autosaveAsOperation";
    }
    return "saveOperation";
}

Error Document::userCancelledError()
{
    return Error("NSCocoaErrorDomain", 3072, "The operation was cancelled.");
}

Error Document::changedElsewhereError()
{
    return Error("NSCocoaErrorDomain", 3072, "Its file was changed by another application, and the changes were not written over it.");
}

bool Document::isUserCancelled(const Error& error)
{
    return error.domain == "NSCocoaErrorDomain" && error.code == 3072;
}

Document::Document()
{
    addAction("saveDocument:", [this](Sender) { saveDocument(); });
    addAction("saveDocumentAs:", [this](Sender) { saveDocumentAs(); });
    addAction("revertDocumentToSaved:", [this](Sender) { revertDocumentToSaved(); });
    addAction("duplicateDocument:", [this](Sender) {
        try {
            duplicate();
        } catch (...) {
            presentError(errorFromException(std::current_exception()));
        }
    });
    addAction("performClose:", [this](Sender) { performClose(); });
}

Document::~Document()
{
    if (autosaveTimer_)
        autosaveTimer_->cancel();
}

DocumentControllerBase* Document::controller() const
{
    return DocumentControllerBase::shared();
}

// ---- Identity ----

void Document::setFileURL(std::optional<Path> url)
{
    if (url == fileURL_)
        return;
    // A name given to the untitled document (an example's, a draft's) is no name of a file: a
    // document saved or moved to a file is called after that file.
    if (url)
        displayName_.reset();
    auto old = std::exchange(fileURL_, std::move(url));
    watchFile();
    fileURLDidChange(old);
    updateWindowTitles();
}

std::optional<std::chrono::system_clock::time_point> Document::fileModificationDate() const
{
    if (!fileIdentity_)
        return std::nullopt;
    return fileIdentity_->modificationDate();
}

std::string Document::displayName() const
{
    if (displayName_)
        return *displayName_;
    if (fileURL_) {
        fs::path name = fileURL_->filename();
        if (name.empty())
            name = fileURL_->parent_path().filename();
        return name.stem().string().empty() ? name.string() : name.stem().string();
    }
    if (!untitledName_)
        untitledName_ = controller() ? controller()->nextUntitledName() : std::string("Untitled");
    return *untitledName_;
}

std::string Document::quotedDisplayName() const
{
    return "\u201C" + displayName() + "\u201D";
}

void Document::setDisplayName(std::optional<std::string> name)
{
    displayName_ = std::move(name);
    updateWindowTitles();
}

std::string Document::draftExtension() const
{
    if (auto* table = controller() ? &controller()->documentTypes() : nullptr)
        if (const DocumentType* type = table->type(fileType_); type && !type->extensions.empty())
            return type->extensions.front();
    return {};
}

// ---- Change count ----

void Document::updateChangeCount(ChangeKind kind)
{
    const bool wasEdited = isDocumentEdited();
    const bool hadUnautosaved = hasUnautosavedChanges();
    switch (kind) {
    case ChangeKind::done:
    case ChangeKind::redone:
        ++changeCount_;
        ++autosaveChangeCount_;
        break;
    case ChangeKind::undone:
        --changeCount_;
        ++autosaveChangeCount_;
        break;
    case ChangeKind::cleared:
        changeCount_ = 0;
        autosaveChangeCount_ = 0;
        break;
    }
    editedStateMayHaveChanged(wasEdited, hadUnautosaved);
}

void Document::updateChangeCount(const ChangeCountToken& token, SaveOperation operation)
{
    const bool wasEdited = isDocumentEdited();
    const bool hadUnautosaved = hasUnautosavedChanges();
    // Changes made while the save ran stay counted.
    auto covered = [](std::int64_t now, std::int64_t atStart) { return now == atStart ? 0 : now - atStart; };
    switch (operation) {
    case SaveOperation::save:
    case SaveOperation::saveAs:
    case SaveOperation::autosaveInPlace:
        changeCount_ = covered(changeCount_, token.changeCount);
        autosaveChangeCount_ = covered(autosaveChangeCount_, token.autosaveChangeCount);
        break;
    case SaveOperation::autosaveElsewhere:
        autosaveChangeCount_ = covered(autosaveChangeCount_, token.autosaveChangeCount);
        break;
    case SaveOperation::saveTo:
    case SaveOperation::autosaveAs:
        break;
    }
    editedStateMayHaveChanged(wasEdited, hadUnautosaved);
}

void Document::editedStateMayHaveChanged(bool wasEdited, bool hadUnautosaved)
{
    if (hasUnautosavedChanges() && !hadUnautosaved)
        scheduleAutosave();
    if (!hasUnautosavedChanges() && !isDocumentEdited() && autosaveTimer_) {
        autosaveTimer_->cancel();
        autosaveTimer_.reset();
    }
    if (wasEdited != isDocumentEdited()) {
        updateWindowTitles();
        documentEditedDidChange();
    }
}

void Document::scheduleAutosave()
{
    if (closed_ || (autosaveTimer_ && !autosaveTimer_->isCancelled()))
        return;
    const auto delay = controller() ? controller()->autosavingDelay() : std::chrono::milliseconds(60'000);
    autosaveTimer_ = DocumentClock::shared().after(delay, ifAlive(weak_from_this(), &Document::autosaveTimerFired));
}

void Document::autosaveTimerFired()
{
    autosaveTimer_.reset();
    if (closed_ || !hasUnautosavedChanges())
        return;
    // A file changed by another program waits for the user's explicit save.
    if (overwriteDeclinedForAutosave_ && fileURL_ && autosavesInPlace())
        return;
    autosave(userIsTyping(), ifAlive(weak_from_this(), &Document::autosaveTimerDidSave));
}

void Document::autosaveTimerDidSave(std::optional<Error> error)
{
    // A real failure (a full disk, a file that cannot be written) is told once, when it first
    // happens, and logged each time; the next success makes it news again.
    if (error && !isUserCancelled(*error)) {
        g_warning("Autosaving %s failed: %s", displayName().c_str(), error->localizedDescription.c_str());
        const auto told = autosaveFailureToTell(*error);
        if (told && !autosaveFailureShown_ && !closed_) {
            autosaveFailureShown_ = true;
            presentError(*told);
        }
    } else if (!error) {
        autosaveFailureShown_ = false;
    }
    // Declined, failed or overtaken by new changes: the next round tries again.
    if (!closed_ && hasUnautosavedChanges())
        scheduleAutosave();
}

bool Document::userIsTyping() const
{
    return lastUserInput_ && DocumentClock::shared().now() - *lastUserInput_ < typingQuietPeriod;
}

// ---- Policy ----

bool Document::isNativeType(const std::string& type) const
{
    const DocumentType* found = controller() ? controller()->documentTypes().type(type) : nullptr;
    return found && found->isEditor;
}

std::vector<std::string> Document::writableTypes() const
{
    std::vector<std::string> types;
    if (!controller())
        return types;
    for (const auto& type : controller()->documentTypes().types())
        if (isNativeType(type.identifier))
            types.push_back(type.identifier);
    return types;
}

bool Document::validateUserInterfaceItem(ValidatedUserInterfaceItem& item)
{
    if (item.action() == "revertDocumentToSaved:")
        return fileURL_.has_value() && isDocumentEdited() && !closed_;
    return !closed_;
}

// ---- Windows ----

void Document::addWindow(std::shared_ptr<Window> window)
{
    if (!window)
        return;
    windows_.push_back(window);
    // Typing and clicks in the window tell autosaving that the user is at work.
    auto note = [noteUserInput = ifAlive(weak_from_this(), &Document::noteUserInput)](GtkWidget*, GdkEvent*) mutable -> gboolean {
        noteUserInput();
        return FALSE;
    };
    windowConnections_.push_back(SignalConnection::connect<gboolean(GtkWidget*, GdkEvent*)>(window->widget(), "key-press-event", note));
    GtkWindow* gtkWindow = window->gtkWindow();
    windowObservers_.push_back(NotificationCenter::defaultCenter().addObserver(
        WindowWillBeginSheetNotification, gtkWindow,
        ifAlive(weak_from_this(), [gtkWindow](Document& self, const Notification&) { self.windowWillBeginSheet(gtkWindow); })));
    if (controller())
        controller()->trackDocumentWindow(*this, *window);
    updateWindowTitles();
}

GtkWindow* Document::windowForSheet() const
{
    return windows_.empty() ? nullptr : windows_.front()->gtkWindow();
}

void Document::showWindows()
{
    for (const auto& window : windows_)
        window->makeKeyAndOrderFront();
}

void Document::updateWindowTitles()
{
    const std::string title = displayName() + (isDocumentEdited() ? " \u2014 Edited" : "");
    for (const auto& window : windows_)
        window->setTitle(title);
    windowTitlesDidUpdate();
}

// ---- File watching ----

void Document::watchFile()
{
    fileWatcher_.reset();
    if (!fileURL_ || closed_)
        return;
    std::weak_ptr<Document> weak = weak_from_this();
    fileWatcher_ = std::make_unique<DocumentFileWatcher>(
        *fileURL_,
        [weak](const Path& to) {
            // Off the watcher's own call: the new URL replaces the watcher.
            MainQueue::async(ifAlive(weak, [to](Document& self) { self.fileWasMoved(to); }));
        },
        [weak](const DocumentFileWatcher::Departure& gone) {
            MainQueue::async(ifAlive(weak, [gone](Document& self) { self.fileWasRemoved(gone); }));
        });
}

void Document::fileWasMoved(const Path& to)
{
    if (closed_ || !fileURL_)
        return;
    // Out of the Trash again: the same file (the watcher knows it by its inode, not by what
    // stands at its path), which the document takes back when it can.
    const bool cameBack = fileGone_.has_value();
    if (cameBack) {
        if (auto why = takeFileBack(to)) {
            FileGone back{"is back at \u201C" + to.string() + "\u201D, but cannot be used yet: " + *why, true};
            if (fileGone_ != back) {
                g_message("The file of %s %s", displayName().c_str(), back.what.c_str());
                fileGone_ = std::move(back);
            }
            return;
        }
    }
    // The file moved: its identity went along (a rename keeps the inode).
    fileGone_.reset();
    const Path from = *fileURL_;
    setFileURL(to);
    if (cameBack) {
        g_message("The file of %s is back, at %s", displayName().c_str(), to.c_str());
        // Back at its old path, the URL stays as it was: the file is watched anew all the same.
        if (from == to)
            watchFile();
    }
    if (auto* controller = this->controller()) {
        controller->recentDocumentURLDidMove(from, to);
        controller->saveRestorationState();
    }
}

void Document::fileWasRemoved(const DocumentFileWatcher::Departure& gone)
{
    if (closed_ || !fileURL_)
        return;
    // Gone already, it may have moved within the Trash, been deleted from there, or gone again
    // after it came back without being taken: only what is said of it changes.
    const bool wasGone = fileGone_.has_value();
    FileGone what{gone.trashed() ? "was moved to the Trash" : "was deleted"};
    if (fileGone_ == what)
        return;
    g_message("The file of %s %s; it is not saved there again", displayName().c_str(), what.what.c_str());
    fileGone_ = std::move(what);
    if (!wasGone)
        fileDidGo(gone.trashedTo);
}

bool Document::takeFileDepartureNow()
{
    if (!fileWatcher_ || !fileURL_ || closed_)
        return false;
    auto gone = fileWatcher_->takeDepartureNow();
    if (!gone)
        return false;
    if (gone->movedTo)
        fileWasMoved(*gone->movedTo);
    else
        fileWasRemoved(*gone);
    return gone->movedTo && !fileGone_;
}

// ---- Errors ----

Error Document::errorFromException(std::exception_ptr exception)
{
    if (auto* controller = DocumentControllerBase::shared())
        return controller->errorFromException(exception);
    return Error::fromException(exception);
}

void Document::presentError(const Error& error, std::function<void()> completion)
{
    if (controller()) {
        controller()->presentError(error, windowForSheet(), std::move(completion));
    } else if (completion) {
        completion();
    }
}

} // namespace kx
