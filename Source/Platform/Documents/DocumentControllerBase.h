// The base of an application's document controller: the document types, the open documents,
// making and opening them, the open and save panels, the recent documents, the main document
// window and the order of document windows, error alerts, autosaving drafts, the restoration
// of the open documents at the next launch, and quitting as an autosave of every document.
// The first controller made is the shared one. Main thread only.
#pragma once

#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <nlohmann/json.hpp>

#include "Platform/Documents/Document.h"
#include "Platform/Documents/DocumentType.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/UI/Responder.h"

namespace kx {

class DocumentControllerBase : public Responder {
public:
    using Path = std::filesystem::path;
    // (document or none, whether it was open already, error or none)
    using OpenCompletion = std::function<void(std::shared_ptr<Document> document, bool alreadyOpen, std::optional<Error> error)>;

    // The first controller made and not yet destroyed; nullptr before.
    static DocumentControllerBase* shared();

    explicit DocumentControllerBase(DocumentTypeTable types);
    ~DocumentControllerBase() override;
    DocumentControllerBase(const DocumentControllerBase&) = delete;
    DocumentControllerBase& operator=(const DocumentControllerBase&) = delete;

    // ---- Types ----

    const DocumentTypeTable& documentTypes() const { return types_; }
    // Throws the table's error when nothing fits.
    virtual std::string typeForContentsOfURL(const Path& url);
    std::optional<std::string> defaultType() const { return types_.defaultType(); }
    std::string displayNameForType(const std::string& type) const { return types_.displayName(type); }

    // ---- Documents ----

    const std::vector<std::shared_ptr<Document>>& documents() const { return documents_; }
    virtual void addDocument(std::shared_ptr<Document> document);
    virtual void removeDocument(Document& document);
    // The open document whose file is `url` (compared as canonical paths).
    std::shared_ptr<Document> documentForURL(const Path& url) const;
    std::shared_ptr<Document> documentForWindow(GtkWindow* window) const;
    // The document of the main window: the document window that was active last.
    std::shared_ptr<Document> currentDocument() const;
    GtkWindow* mainWindow() const { return mainWindow_; }
    // The open documents, the one whose window is in front first.
    std::vector<std::shared_ptr<Document>> orderedDocuments() const;

    // ---- Making and opening (throwing ones throw what the documents throw) ----

    virtual std::shared_ptr<Document> makeUntitledDocumentOfType(const std::string& type);
    virtual std::shared_ptr<Document> makeDocumentWithContentsOfURL(const Path& url, const std::string& type);
    // A document whose content comes from `contentsURL` (a draft); `url` none for an untitled one.
    virtual std::shared_ptr<Document> makeDocumentForURL(const std::optional<Path>& url, const Path& contentsURL,
                                                         const std::string& type);
    // Brings an open document of that file to the front, else makes, adds and (with
    // `display`) shows one; notes it among the recent documents. `completion` runs once.
    virtual void openDocumentWithContentsOfURL(const Path& url, bool display, OpenCompletion completion);
    virtual std::shared_ptr<Document> openUntitledDocumentAndDisplay(bool display);
    // Actions: a new untitled document; the open panel for files; the open panel for folders.
    virtual void newDocument(Sender sender);
    virtual void openDocument(Sender sender);
    virtual void openFolder(Sender sender);
    // Opens the first URL and presents its error; `didFail` runs after an error was shown.
    void openChosenURL(const std::vector<Path>& urls, std::function<void()> didFail);

    // ---- Panels ----

    struct PanelRequest {
        enum class Kind { openFiles, openFolders, save };
        Kind kind = Kind::openFiles;
        std::string title;
        std::vector<std::string> types;   // what may be chosen (open) or written (save)
        std::string suggestedName;        // save
        std::optional<Path> folder;       // where it starts
    };
    struct PanelResult {
        std::vector<Path> urls; // empty: cancelled
        std::string type;       // save: the chosen format
    };
    // Runs the panel (a save panel without a folder starts in `defaultSaveFolder`) and
    // remembers the folder of what was chosen. In the save panel the name follows the chosen
    // format, and the name shown is the name saved: one typed without the format's extension
    // gets it (asked about like any name when that file exists).
    PanelResult runPanel(const PanelRequest& request, GtkWindow* parent);
    // The folder of the last answer of a panel while it exists, else the desktop's documents
    // folder, else the home folder.
    Path defaultSaveFolder() const;
    // Where the last folder is kept in the standard user defaults (as a file URI).
    static constexpr const char* lastPanelFolderKey = "KXLastPanelFolder";
    // The file name `name` as the format changes from `from` to `to`: the extension of `from`
    // goes, the first of `to` comes (a folder format has none).
    static std::string nameForFormat(const std::string& name, const DocumentType& from, const DocumentType& to);
    // Why a document cannot be saved under the name of `url`, none when it can: the save panel
    // refuses such a name and stays open. Here every name is taken.
    virtual std::optional<Error> errorForSaveName(const Path& url) const;
    // The process is ending without questions (a signal): the panel on screen closes as if
    // cancelled, and no panel opens any more (see Alert::endAllForTermination).
    static void endPanelsForTermination();
    // Tests answer the panels themselves.
    using PanelRunner = std::function<PanelResult(const PanelRequest& request)>;
    void setPanelRunnerForTesting(PanelRunner runner) { panelRunner_ = std::move(runner); }

    // Whether the Alt (Option) key is held now, as the keyboard says at this moment.
    static bool optionKeyIsDown();
    static void setOptionKeyIsDownForTesting(std::optional<bool> down);

    // ---- Recent documents ----

    virtual void noteNewRecentDocumentURL(const Path& url) { (void)url; }
    // A document's file moved: the list names it where it is now, in the same place.
    virtual void recentDocumentURLDidMove(const Path& from, const Path& to)
    {
        (void)from;
        (void)to;
    }
    void noteNewRecentDocument(const Document& document);

    // ---- Autosaving and drafts ----

    std::chrono::milliseconds autosavingDelay() const { return autosavingDelay_; }
    void setAutosavingDelay(std::chrono::milliseconds delay) { autosavingDelay_ = delay; }
    // $XDG_DATA_HOME/<bundle identifier>/Drafts: the lasting copies of untitled documents.
    Path draftsDirectory() const;
    void setDataDirectoryForTesting(std::optional<Path> directory) { dataDirectoryOverride_ = std::move(directory); }
    Path dataDirectory() const;
    // A new, unused path in the drafts folder for a draft of `document`, named after it (or
    // after `name`).
    Path newDraftURL(const Document& document, const std::optional<std::string>& name = std::nullopt) const;
    bool isInDraftsDirectory(const Path& url) const;
    // "Untitled", then "Untitled 2", ...
    std::string nextUntitledName();

    // ---- Errors ----

    // The error of an exception thrown while making, reading or writing a document: here
    // Error::fromException; a subclass reads its own exceptions first.
    virtual Error errorFromException(std::exception_ptr exception) const;
    // The buttons that offer a recovery from `error` (none: "OK").
    virtual std::vector<std::string> recoveryOptions(const Error& error) const;
    // The user chose option `index`; true when the recovery was done.
    virtual bool attemptRecoveryFromError(const Error& error, int index);
    // An alert for the error, as a sheet on `window` when given; a user-cancelled error is not
    // shown. `completion` runs once it is answered.
    void presentError(const Error& error, GtkWindow* window = nullptr, std::function<void()> completion = {});

    // ---- Window tracking (documents call these) ----

    void trackDocumentWindow(Document& document, Window& window);

    // ---- Restoration and quitting ----

    // The open documents (files and drafts) at the next launch: reopens what the state file
    // lists and every draft left in the drafts folder; `completion` gets the documents made.
    void restoreDocuments(std::function<void(std::vector<std::shared_ptr<Document>> restored)> completion = {});
    void saveRestorationState() const;
    Path restorationStateFile() const;
    // Autosaves every document that needs it (not cancellable), keeps the list for the next
    // launch and closes them. False when a document could not be saved and the user chose to
    // stay; then nothing is closed. Without `ask` (the session or a signal ends the process)
    // nobody is asked and the process always ends.
    bool reviewDocumentsBeforeQuitting(bool ask = true);
    bool isTerminating() const { return terminating_; }
    // Closes every document that may close (asking as closing does); `completion` says whether
    // all closed. With `keepingDrafts` the documents are to be opened again: an untitled one
    // is autosaved into its draft and closes without the question, keeping the draft (one
    // that holds nothing closes as it is; one whose autosave fails is asked about as usual).
    void closeAllDocuments(std::function<void(bool allClosed)> completion, bool keepingDrafts = false);
    // Opens the untitled document whose work is in `draft` (a file of the drafts folder) and
    // shows it, named `displayName` when that is not empty; `type` empty or unknown: the
    // type of the file. None when it is open already, or when it cannot be read (the error is
    // shown; the draft stays).
    std::shared_ptr<Document> openDraft(const Path& draft, const std::string& type, const std::string& displayName);

protected:
    // After the last open document closed (not while quitting).
    virtual void lastDocumentDidClose() { }
    // Before a document is made for an open; the application closes its start window here.
    virtual void willOpenDocument() { }
    // At the end of restoreDocuments, once everything it offers is open: what nothing names
    // any more may go.
    virtual void didRestoreDocuments() { }

private:
    PanelResult runFileChooser(const PanelRequest& request, GtkWindow* parent);
    PanelResult runSavePanel(const PanelRequest& request, const std::vector<const DocumentType*>& types, GtkWindow* parent);
    void windowActivityChanged(GtkWindow* window);
    void windowWentAway(GtkWindow* window);
    void restoreEntry(const nlohmann::json& entry, std::vector<std::shared_ptr<Document>>& restored);

    DocumentTypeTable types_;
    std::vector<std::shared_ptr<Document>> documents_;
    std::chrono::milliseconds autosavingDelay_{60'000};
    std::optional<Path> dataDirectoryOverride_;
    int untitledCount_ = 0;
    PanelRunner panelRunner_;
    GtkWindow* mainWindow_ = nullptr;
    std::vector<GtkWindow*> activationOrder_; // most recently active first
    std::vector<SignalConnection> windowConnections_;
    bool terminating_ = false;
    bool restoring_ = false;
};

} // namespace kx
