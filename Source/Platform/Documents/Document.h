// The base of an application's documents: a file (or folder) URL and type, change counts,
// autosaving, the save operations, reverting, duplicating and closing, with the questions and
// error alerts that go with them. It knows nothing of what a document holds: subclasses read
// and write, and may replace any step.
//
// Autosaving: once a document becomes edited, it is autosaved after the controller's delay
// (in place when the subclass autosaves in place and the document has a file, else into a
// draft in the controller's drafts folder), again after each delay for as long as it stays
// edited. Such an autosave is implicitly cancellable while the user typed in its windows less
// than `typingQuietPeriod` ago: the subclass may then decline it with the user-cancelled
// error, and it is tried again later.
//
// The document's file is watched: when it is renamed or moved within its folder, the URL
// follows. Before the file is overwritten in place, its identity (modification date, size,
// inode) is compared with what the document last read or wrote; a file changed by another
// program is overwritten only when the user says so. Folders are not compared: a folder's own
// date says nothing about its content.
//
// Main thread only. Documents are owned by shared_ptrs (the controller holds the open ones);
// asynchronous steps hold them weakly.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include "Platform/Documents/DocumentClock.h"
#include "Platform/Documents/DocumentFileWatcher.h"
#include "Platform/Documents/FileIdentity.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Responder.h"
#include "Platform/UI/Window.h"

namespace kx {

class DocumentControllerBase;

enum class SaveOperation {
    save = 0,
    saveAs = 1,
    saveTo = 2,
    autosaveElsewhere = 3,
    autosaveInPlace = 4,
    autosaveAs = 5,
};
// "saveOperation", "saveAsOperation", ... as logs name them.
std::string_view saveOperationName(SaveOperation operation);

enum class ChangeKind { done, undone, redone, cleared };

class Document : public Responder, public std::enable_shared_from_this<Document> {
public:
    using Completion = std::function<void(std::optional<Error> error)>;
    using Path = std::filesystem::path;

    // A user who typed this recently is still typing: an autosave now may be declined.
    static constexpr std::chrono::milliseconds typingQuietPeriod{2000};

    // The user-cancelled error (a declined autosave, a question answered Cancel): never shown.
    static Error userCancelledError();
    // The cancel of a save whose file another program changed, when the user (or an autosave
    // that may not ask) kept that program's version: a cancel that says why.
    static Error changedElsewhereError();
    static bool isUserCancelled(const Error& error);

    ~Document() override;

    // ---- Identity ----

    const std::optional<Path>& fileURL() const { return fileURL_; }
    // Runs `fileURLDidChange` after every change and watches the new file.
    void setFileURL(std::optional<Path> url);
    const std::string& fileType() const { return fileType_; }
    void setFileType(std::string type) { fileType_ = std::move(type); }
    // The file as the document last read or wrote it.
    const std::optional<FileIdentity>& fileIdentity() const { return fileIdentity_; }
    void setFileIdentity(std::optional<FileIdentity> identity) { fileIdentity_ = std::move(identity); }
    std::optional<std::chrono::system_clock::time_point> fileModificationDate() const;
    // Where the document's draft lies (untitled documents, duplicates); none before the first.
    virtual std::optional<Path> autosavedContentsFileURL() const { return autosavedContentsFileURL_; }
    virtual void setAutosavedContentsFileURL(std::optional<Path> url) { autosavedContentsFileURL_ = std::move(url); }

    // Whether the file went to the Trash or was deleted since it was last saved. Its work is then
    // autosaved as a draft, as an untitled document's is, until the file comes back out of the
    // Trash or the user saves it elsewhere. A draft kept from then on goes with the first save
    // in place that holds all the work.
    bool isFileGone() const { return fileGone_.has_value(); }

    // The name given, else the file's name without its extension, else "Untitled" (numbered
    // by the controller).
    std::string displayName() const;
    // The display name in typographic quotes, as the document's alerts name it.
    std::string quotedDisplayName() const;
    void setDisplayName(std::optional<std::string> name);

    // ---- Change count ----

    bool isDocumentEdited() const { return changeCount_ != 0; }
    bool hasUnautosavedChanges() const { return autosaveChangeCount_ != 0; }
    virtual void updateChangeCount(ChangeKind kind);
    // The counts when a save began; the save clears only what it covered.
    struct ChangeCountToken {
        std::int64_t changeCount = 0;
        std::int64_t autosaveChangeCount = 0;
    };
    ChangeCountToken changeCountToken() const { return {changeCount_, autosaveChangeCount_}; }
    virtual void updateChangeCount(const ChangeCountToken& token, SaveOperation operation);

    // ---- Policy ----

    virtual bool autosavesInPlace() const { return false; }
    // Types this document can write; by default the editor types of the controller's table.
    virtual bool isNativeType(const std::string& type) const;
    std::vector<std::string> writableTypes() const;

    // ---- Reading and writing: the subclass's ----

    virtual void read(const Path& url, const std::string& type);
    virtual void write(const Path& url, const std::string& type);
    // Writes through `write` into a temporary file beside `url` and renames it into place.
    virtual void writeSafely(const Path& url, const std::string& type, SaveOperation operation);

    // ---- Saving ----

    // Writes the document with `operation` (through `writeSafely`) and keeps the books: file
    // URL, type, identity, draft and change counts. `completion` runs once.
    virtual void save(const Path& url, const std::string& type, SaveOperation operation, Completion completion);
    // Save (untitled documents: Save As); Save As with the save panel.
    void saveDocument(Completion completion = {});
    void saveDocumentAs(Completion completion = {});
    // Autosaves in place or into the draft; nothing when there is nothing to autosave.
    void autosave(bool implicitlyCancellable, Completion completion);
    // True during an autosave that the subclass may decline.
    bool autosavingIsImplicitlyCancellable() const { return autosavingIsImplicitlyCancellable_; }
    // Key presses and clicks in the document's windows.
    void noteUserInput() { lastUserInput_ = DocumentClock::shared().now(); }
    bool userIsTyping() const;

    // ---- Reverting, duplicating ----

    // Reads the file again and clears the change count.
    virtual void revert(const Path& url, const std::string& type);
    void revertDocumentToSaved();
    // A new untitled document with this one's content, named "NAME copy", shown.
    virtual std::shared_ptr<Document> duplicate();

    // ---- Windows ----

    virtual void makeWindowControllers() { }
    // What the document's windows need to look as they did, kept for the next launch; null for
    // nothing. The state file lies on disk: `restoreState` takes anything odd in it as nothing.
    virtual nlohmann::json encodeRestorableState() const { return nullptr; }
    // Applied to a document reopened at launch, once its windows are made and shown.
    virtual void restoreState(const nlohmann::json& state) { (void)state; }
    void addWindow(std::shared_ptr<Window> window);
    const std::vector<std::shared_ptr<Window>>& windows() const { return windows_; }
    // The window that sheets belong to: the first one, nullptr without.
    GtkWindow* windowForSheet() const;
    void showWindows();
    // The controller's word that a window of this document became, or stopped being, the main
    // window (the document window that was active last).
    virtual void windowDidBecomeMain(GtkWindow* window) { (void)window; }
    virtual void windowDidResignMain(GtkWindow* window) { (void)window; }
    // A sheet (an alert or a panel modal to the window) is about to show on a window of this
    // document.
    virtual void windowWillBeginSheet(GtkWindow* window) { (void)window; }

    // ---- Closing ----

    // Decides whether the document may close now, asking the user when it holds unsaved work:
    // a titled document autosaved in place closes once that autosave succeeded; an edited
    // untitled one asks whether to save it or delete it.
    void canClose(std::function<void(bool shouldClose)> completion);
    // canClose, then close.
    void performClose();
    virtual void close();
    // Closes as `close` does, but an untitled document's draft stays: the document is to be
    // opened again from it.
    void closeKeepingDraft();
    bool isClosed() const { return closed_; }

    // Revert needs a file and changes to throw away; the rest is always available.
    bool validateUserInterfaceItem(ValidatedUserInterfaceItem& item) override;

    // ---- Errors ----

    // The error of an exception thrown by a subclass, as the controller reads it (without a
    // controller, Error::fromException).
    static Error errorFromException(std::exception_ptr exception);
    void presentError(const Error& error, std::function<void()> completion = {});

    // How the subclass names the document type of a draft's file (by default the type's first
    // extension).
    virtual std::string draftExtension() const;
    // Writes a copy of the document, as it is now, into the drafts folder under `name` and
    // returns its path: a duplicate's content, and what quitting keeps of a document that could
    // not be saved. Throws what writing throws.
    virtual Path writeDraftCopy(const std::string& name);
    // Whether a draft written now would hold the unsaved changes: not where only a part that did
    // not answer holds them (an editor page that did not hand them over to a save).
    virtual bool draftCanTakeUnsavedChanges() const { return true; }

    // Whether the unsaved work outlives the end of the application without a draft copy of it:
    // kept beside the file, it is taken up when the file opens at the next launch.
    virtual bool keepsUnsavedWorkAtEnd() const { return false; }

    // The type a draft is written in (the document's own by default): a draft is one file that
    // the drafts folder holds whole, whatever format the document's file has.
    virtual std::string draftType() const { return fileType_; }

protected:
    Document();
    DocumentControllerBase* controller() const;

    // After every change of the file URL, with the URL before.
    virtual void fileURLDidChange(const std::optional<Path>& oldURL) { (void)oldURL; }
    // The file went to the Trash (lying there at `trashedTo`, when known) or was deleted: no
    // save writes it again. Called once, after the document took note.
    virtual void fileDidGo(const std::optional<Path>& trashedTo) { (void)trashedTo; }
    // The file that went to the Trash is out of it again, at `to` (its old path, or another):
    // the document works with it again from now on, or says why it cannot (another instance
    // holds it, say), and stays without a file; the next save asks again.
    virtual std::optional<std::string> takeFileBack(const Path& to) { (void)to; return std::nullopt; }
    // Whether the save under way writes all the document's work: not an autosave that could
    // only write what a part of the document had handed over before (an editor page that did
    // not answer). Such a save leaves the draft where it is.
    virtual bool saveHoldsLatestChanges() const { return true; }
    // Whether an autosave whose save in place failed writes the draft as well, as while the file
    // was away: where the work lies only beside the file until a save in place takes it (a
    // folder back out of the Trash), so that a crash meanwhile loses no more than it would have.
    virtual bool draftsWhileSavingInPlaceFails() const { return false; }
    // What a failed autosave of the timer's tells the user, asked for each such failure: the
    // failure itself by default; none for one whose cause passes by itself before the next
    // round, which the log keeps. Told once, until an autosave succeeds.
    virtual std::optional<Error> autosaveFailureToTell(const Error& error) { return error; }
    // What went with the file and is no longer in the document, said after why no save writes
    // the file (empty: nothing).
    virtual std::string whatWentWithFile() const { return {}; }
    // Before a write at the file's path: takes a move or removal that the monitor has not
    // reported yet, or the file's way back out of the Trash. True when the file moved or came
    // back (fileURL() is where it is now).
    bool takeFileDepartureNow();
    // Whether what stands at `path` now is the document's file as its watch follows it, not an
    // item another program put there since.
    bool isFileAt(const Path& path) const { return fileWatcher_ && fileWatcher_->holdsItemAt(path); }
    // The document's file, a folder, opened where its watch follows it (see
    // DocumentFileWatcher::openHeldFolder); none otherwise.
    FileDescriptor openFileFolder() const { return fileWatcher_ ? fileWatcher_->openHeldFolder() : FileDescriptor(); }
    // Whether the work kept beside the file (the draft; a subclass's own copies with it) stays
    // when the document closes now: for the next launch, when the application ends with work
    // that only it holds, or for a document closed to be opened again from its draft.
    bool keepsWorkAtClose() const;
    // Removes a draft: only ever something of the drafts folder, never a file the user chose.
    void deleteDraft(const Path& draft);
    virtual void documentEditedDidChange() { }
    // Whether a save to `url` must first check that nobody else changed the file.
    virtual bool checksFileBeforeOverwriting(const Path& url) const;
    // The windows' titles follow the display name and the edited state.
    void updateWindowTitles();
    // After each update of the titles: for windows of the document that it does not hold.
    virtual void windowTitlesDidUpdate() { }

private:
    // `completion`, after the error of a failed save was shown.
    Completion presentingErrors(Completion completion);
    // `followingMove`: a second try, at the place the file moved to while the first one wrote.
    void saveAfterChecks(const Path& url, const std::string& type, SaveOperation operation, Completion completion,
                         bool followingMove = false);
    void askToOverwriteChangedFile(SaveOperation operation, std::function<void(bool overwrite)> answer);
    void editedStateMayHaveChanged(bool wasEdited, bool hadUnautosaved);
    void scheduleAutosave();
    void autosaveTimerFired();
    void autosaveTimerDidSave(std::optional<Error> error);
    void watchFile();
    void fileWasMoved(const Path& to);
    void fileWasRemoved(const DocumentFileWatcher::Departure& gone);
    // Why no save writes the file where it was (see fileGone_), as the user hears it.
    Error fileGoneError() const;
    // The steps of closing with unsaved work.
    struct ClosingQuestion;
    void askBeforeClosing(const ClosingQuestion& question, std::function<void(bool shouldClose)> completion);
    void askToKeepUntitled(std::function<void(bool shouldClose)> completion);
    void discardDraft();
    void autosaveBeforeClosing(std::function<void(bool shouldClose)> completion);
    void askToCloseUnsaved(const Error& error, std::function<void(bool shouldClose)> completion);
    void closeIfAllowed(bool shouldClose);
    // Autosaves into the draft (made when there is none yet).
    void autosaveIntoDraft(Completion done);

    std::optional<Path> fileURL_;
    std::string fileType_;
    std::optional<FileIdentity> fileIdentity_;
    std::optional<Path> autosavedContentsFileURL_;
    std::optional<std::string> displayName_;
    mutable std::optional<std::string> untitledName_;
    std::int64_t changeCount_ = 0;
    std::int64_t autosaveChangeCount_ = 0;
    bool autosavingIsImplicitlyCancellable_ = false;
    bool overwriteDeclinedForAutosave_ = false;
    bool overwriteQuestionShown_ = false;
    std::optional<DocumentClock::TimePoint> lastUserInput_;
    std::shared_ptr<MainQueue::Timer> autosaveTimer_;
    std::unique_ptr<DocumentFileWatcher> fileWatcher_;
    std::vector<std::shared_ptr<Window>> windows_;
    std::vector<SignalConnection> windowConnections_;
    std::vector<NotificationCenter::Token> windowObservers_;
    bool closed_ = false;
    bool autosaveFailureShown_ = false;
    // Why the file is no longer where the document has it (moved to the Trash, deleted, or back
    // out of the Trash but not usable yet): no save recreates it there; an explicit save asks
    // where to put it.
    struct FileGone {
        std::string what; // as said after "The file of the document …"
        bool isBack = false;
        friend bool operator==(const FileGone&, const FileGone&) = default;
    };
    std::optional<FileGone> fileGone_;
    bool closing_ = false;
    bool keepsDraftWhenClosed_ = false;
    // The last save that succeeded wrote without the latest changes (saveHoldsLatestChanges).
    bool lastSaveLackedLatestChanges_ = false;
};

} // namespace kx
