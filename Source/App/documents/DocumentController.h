// The application's document controller: the project types (a zip package "korvelx", a project
// folder, tutorial archives "korveltutorial" and legacy "korvel" folders, which become new
// untitled documents), the sign-in gate on every document made, the start window closed before
// a document opens, starting a tutorial or editing it, recovery from a document written by a
// later version, and reopening the documents after a close-all.
//
// The application reaches it through its hook files and tells it, through `Hooks`, how to
// reach the application back (start window, update check, recent documents). Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/archive/KVDocumentArchive.h"
#include "Platform/Documents/DocumentControllerBase.h"

namespace kx {

class DocumentController final : public DocumentControllerBase {
public:
    static constexpr const char* projectZipTypeIdentifier = "com.korvel.projectzip";
    static constexpr const char* projectFolderTypeIdentifier = "com.korvel.projectfolder";
    static constexpr const char* tutorialTypeIdentifier = "com.korvel.tutorial";
    static constexpr const char* legacyTypeIdentifier = "com.korvel.legacyproject";
    static constexpr auto autosavingDelay = std::chrono::seconds(60);
    // The delay of the controllers made from now on, a minute unless a test shortens it.
    static void setAutosavingDelayForTesting(std::optional<std::chrono::milliseconds> delay);

    // What the documents ask of the application; each may be left empty.
    struct Hooks {
        std::function<void()> closeStartWindow;
        // The last document closed.
        std::function<void()> showStartWindow;
        // An open from the panel failed and no document is open: the start window in any case,
        // also for a user who turned it off at start-up.
        std::function<void()> openFromPanelDidFail;
        std::function<void()> checkForUpdates;
        std::function<void(const std::filesystem::path& url)> noteRecentDocument;
        std::function<void(const std::filesystem::path& from, const std::filesystem::path& to)> recentDocumentMoved;
    };

    // The shared controller: the first made; nullptr before.
    static DocumentController* shared();
    DocumentController();
    ~DocumentController() override;

    Hooks& hooks() { return hooks_; }
    // Whether documents may be made now: signed in with the login window away. Tests replace it.
    std::function<bool()> shouldOpenDocuments;

    // The type table of projects.
    static DocumentTypeTable projectTypes();
    // A folder holds a project when it has the manifest or the design's document.
    static bool isProjectFolder(const std::filesystem::path& folder);

    // The tutorial being started, for the document made meanwhile; none at other times.
    static std::shared_ptr<KVDocumentArchive> openingTutorialArchive();
    static void setOpeningTutorialArchive(std::shared_ptr<KVDocumentArchive> archive);

    std::string typeForContentsOfURL(const Path& url) override;
    std::shared_ptr<Document> makeUntitledDocumentOfType(const std::string& type) override;
    std::shared_ptr<Document> makeDocumentWithContentsOfURL(const Path& url, const std::string& type) override;
    std::shared_ptr<Document> makeDocumentForURL(const std::optional<Path>& url, const Path& contentsURL,
                                                 const std::string& type) override;
    void openDocumentWithContentsOfURL(const Path& url, bool display, OpenCompletion completion) override;
    std::shared_ptr<Document> openUntitledDocumentAndDisplay(bool display) override;
    // A new untitled document whose contents come from the package at `url` (an example),
    // named `displayName`, shown; the error when none was made.
    std::optional<Error> openTemplate(const Path& url, const std::string& displayName);
    void newDocument(Sender sender) override;
    void openDocument(Sender sender) override;
    void openFolder(Sender sender) override;
    bool validateUserInterfaceItem(ValidatedUserInterfaceItem& item) override;
    void noteNewRecentDocumentURL(const Path& url) override;
    void recentDocumentURLDidMove(const Path& from, const Path& to) override;
    // A project is saved only under a name that a project can store, the rule of every name
    // that comes in (no backslash, valid UTF-8).
    std::optional<Error> errorForSaveName(const Path& url) const override;

    Error errorFromException(std::exception_ptr exception) const override;
    std::vector<std::string> recoveryOptions(const Error& error) const override;
    bool attemptRecoveryFromError(const Error& error, int index) override;

    // The experiments' reopen: the open documents are closed (those with a file asking as
    // closing does; untitled ones keep their work in their drafts, unasked) and those that
    // closed open again, from their files or drafts. When the user cancels one, the others
    // that closed before it open again all the same.
    std::vector<std::shared_ptr<Document>> documentsToReopen;
    void closeAndReopenDocuments();
    void documentControllerDidCloseAll(bool didCloseAll);

    // Store links: shown in the open document whose window lies furthest back, brought to the
    // front (false when none is open); or in a new untitled document made for the link (false
    // when none could be made).
    bool showStoreInLastDocument(const std::string& url);
    bool showStoreInNewDocument(const std::string& url);

protected:
    void lastDocumentDidClose() override;
    void willOpenDocument() override;
    // Working folders that mirror no file nor draft any more (a crash left them) go.
    void didRestoreDocuments() override;

private:
    void startTutorial(const Path& url, OpenCompletion completion);
    void checkSignIn() const;
    // Opens what the user chooses in the panel; when nothing opens and no document is open,
    // the hook openFromPanelDidFail.
    void openFromPanel(const PanelRequest& request);
    static Error openError(const Path& url, const Error& error);

    Hooks hooks_;
};

} // namespace kx
