// The project document. A project is a package on disk (a zip file, or a folder the document
// then edits in place), but the editor works on the document's working container: the
// container copies the package in on reading and writes it out on saving, through the project
// archive. Saving is two stages: the container writes its pending data (the editor's
// document JSON among it), then the package is written from the container.
//
// Made by the factories below, which stand for the platform's initialisers; each throws what
// reading throws, and a document whose first read failed leaves no working folder behind.
// Main thread only.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "App/archive/KVDocumentArchive.h"
#include "App/documents/PDBaseDocument.h"
#include "App/documents/container/KVDocumentContainer.h"
#include "Platform/UI/NativeMenu.h"

namespace kx {

class KVContainerLockFile;

class KVDocument final : public PDBaseDocument {
public:
    static constexpr const char* projectZipType = "com.korvel.projectzip";
    static constexpr const char* projectFolderType = "com.korvel.projectfolder";

    // ---- The initialisers ----

    // init(): no content.
    static std::shared_ptr<KVDocument> make();
    // init(type:): a new untitled document from the tutorial being opened, else the template.
    static std::shared_ptr<KVDocument> makeUntitled(const std::string& type);
    // init(type:templateArchive:): a new untitled document filled from `templateArchive`.
    static std::shared_ptr<KVDocument> makeUntitled(const std::string& type, std::shared_ptr<KVDocumentArchive> templateArchive);
    // init(contentsOf:ofType:): opens a document file.
    static std::shared_ptr<KVDocument> make(const std::filesystem::path& url, const std::string& type);
    // init(for:withContentsOf:ofType:): a document whose content is in another file (a draft);
    // `url` none for an untitled draft.
    static std::shared_ptr<KVDocument> make(const std::optional<std::filesystem::path>& url,
                                            const std::filesystem::path& contentsURL, const std::string& type);

    // The application's resource "Template" as a folder archive; none when it is missing.
    static std::shared_ptr<KVDocumentArchive> resourceTemplate();

    ~KVDocument() override;

    // ---- Document ----

    bool autosavesInPlace() const override { return true; }
    // The zip format always; the folder format only while Alt is held at the moment of asking.
    bool isNativeType(const std::string& type) const override;
    void read(const Path& url, const std::string& type) override;
    void save(const Path& requestedURL, const std::string& type, SaveOperation operation, Completion completion) override;
    void writeSafely(const Path& url, const std::string& type, SaveOperation operation) override;
    void updateChangeCount(const ChangeCountToken& token, SaveOperation operation) override;
    using PDBaseDocument::updateChangeCount;
    bool saveHoldsLatestChanges() const override { return !isSavingWithoutPageData_; }
    std::optional<Error> autosaveFailureToTell(const Error& error) override;
    // Autosave rounds in a row that failed only because the page had no document, before the
    // user hears of it.
    static constexpr int roundsWithoutPageDocumentToTell = 3;
    void revert(const Path& url, const std::string& type) override;
    Path writeDraftCopy(const std::string& name) override;
    bool draftCanTakeUnsavedChanges() const override;
    // The work of a folder back out of the Trash lies in its working copy until a save hands it
    // over: kept at the end with its draft, it opens with the folder at the next launch.
    bool keepsUnsavedWorkAtEnd() const override { return isFolderAwaitingWork() && !container_->hasUnwrittenChanges(); }
    void close() override;
    std::string draftExtension() const override { return "korvelx"; }
    // A zip package in a working container of its own, also for a folder project's duplicate:
    // a folder draft would be worked in place, its edits written into it by every backup.
    std::string draftType() const override { return projectZipType; }
    // A folder edited in place has nothing to revert to.
    bool validateUserInterfaceItem(ValidatedUserInterfaceItem& item) override;

    // ---- The project ----

    const std::shared_ptr<KVDocumentContainer>& container() const { return container_; }
    const std::shared_ptr<KVDocumentArchive>& fileArchive() const { return fileArchive_; }
    std::optional<std::filesystem::path> projectURL() const override;
    std::optional<std::string> metricsProjectId() const override;
    bool isInTutorialMode() const { return isInTutorialMode_; }
    bool isInViewingMode() const { return isInTutorialMode_; }
    int saveCount() const { return saveCount_; }
    int containerWritingCount() const { return containerWritingCount_; }
    const std::optional<std::filesystem::path>& migratedDocumentURL() const { return migratedDocumentURL_; }
    void setMigratedDocumentURL(std::optional<std::filesystem::path> url) { migratedDocumentURL_ = std::move(url); }

    // ---- Editor callbacks: images and assets go into the container ----

    std::optional<std::string> nimbetDocumentDidReceiveImageData(const std::string& data) override;
    std::optional<std::string> nimbetDocumentDidReceiveAssetData(const std::string& data, const std::string& preferredName) override;
    void nimbetReadImagesFromPasteboard(const std::map<std::string, std::filesystem::path>& images) override;
    // Whether `url` may be copied in as a pasted image: a regular file of one name straight in
    // the images folder of a live working container or open project. The file, opened without
    // following links, or -1.
    static int openPastedImage(const std::filesystem::path& url);

    // ---- Commands and alerts ----

    void makeWindowControllers() override;
    void serverControllerDidReceiveLog(const Notification& notification) override;
    // Adds the project server's library versions to `menu`.
    void updateLibraryVersionMenu(NativeMenu& menu);
    void installKorvelLibrary(Sender sender);
    void showContainerInFinder();
    void showProjectLog();
    void presentMigrationMessageIfNeeded();
    void presentVersioningMessageIfNeeded();
    // The web page about documents converted from the classic format.
    static constexpr const char* classicDocumentsURL = "https://www.korvel.com/korvel-classic/classic-documents";

protected:
    void fileURLDidChange(const std::optional<Path>& oldURL) override;
    // A folder worked in place that went to the Trash or was deleted: the work goes on in a
    // working copy of what is left of it (a turn later: a write may be under way).
    void fileDidGo(const std::optional<Path>& trashedTo) override;
    // A package takes its file back as it is. A folder that went is the document's file again
    // where it is now: worked in at once when nothing of the work is only in its working copy,
    // else once a save wrote that work into it (see isFolderAwaitingWork).
    std::optional<std::string> takeFileBack(const Path& to) override;
    std::string whatWentWithFile() const override;
    // Not where the page is what failed: a draft would ask it in vain, and the working copy holds
    // all it handed over.
    bool draftsWhileSavingInPlaceFails() const override { return isFolderAwaitingWork() && draftCanTakeUnsavedChanges(); }

private:
    KVDocument();
    // What every initialiser does first.
    void initialise(bool awaitsInitialRead);
    void setContainer(std::shared_ptr<KVDocumentContainer> container);
    void containerHasChangesDidChange();
    // Another program changed the document's file in its folder: without unsaved edits the
    // document takes that version, as after a revert; with them the user chooses which stays.
    void fileChangedElsewhere(const std::string& relativePath);
    void takeVersionOnDisk(const std::string& relativePath);
    void checkDocumentVersion(const KVDocumentArchive& archive) const;
    std::shared_ptr<KVDocumentContainer> makeContainer(std::shared_ptr<KVDocumentArchive>& archive, bool isFolder,
                                                        const Path& url);
    void saveAs(const Path& url, const std::string& type);
    void saveAsFolder(const Path& url, std::shared_ptr<KVDocumentArchive> archive);
    void switchToWorkingCopyOf(std::shared_ptr<KVDocumentArchive> archive);
    // The folder worked in place is gone: a working copy of what can still be read of it takes
    // its place, with the page's document as the one that counts; what could not be copied is
    // remembered to be told. Nothing when the folder is not gone or was replaced already.
    void takeWorkingCopyOfGoneFolder();
    void takeWorkingCopyOfGoneFolderSoon();
    // The folder that came back is the document's file, but the work done while it was away is
    // still only in the working copy: saves write the working copy into the folder, and the
    // first that holds the page's document hands the work over to the folder. Until then the
    // working copy and the draft stay, and a folder that goes again leaves the document as if
    // it had never come back.
    bool isFolderAwaitingWork() const;
    // Records beside the working copy the folder its work waits for (`folder`, else the file's),
    // or that it waits for none when the folder does not await it.
    void recordAwaitedFolder(const std::optional<Path>& folder = std::nullopt);
    // How the work of the working copy gets into the folder that came back before the document
    // works in it: handed over now (all but the page's document: the working copy holds nothing
    // else the folder lacks), or by the save that just wrote it there (which then settles the
    // change counts).
    enum class HandOver { now, doneBySave };
    // The folder that came back is at `to` and holds all the work: the document works in it from
    // now on, the working copy goes. Throws when it cannot (the folder in use by another
    // instance, files that cannot be copied, another folder put at `to` meanwhile).
    void followFolderBack(const Path& to, HandOver handOver);
    // Hands the working copy's work over to the folder at `to`, through the folder the watch
    // follows (see KVFolderHandOver).
    void handWorkOver(const Path& to, KVDocumentContainer::PageDocument document);
    // A save's write of the folder that came back: the work of the working copy goes into it
    // (the page's document last, and every file the folder lacks or holds otherwise), and the
    // document works in it from then on. Nothing without the page's document.
    void writeWorkIntoFolder(const Path& url);
    // Opening the project folder at `url` whose work lies in a working copy that waits for it (a
    // hand-over that a crash or the end of the application cut short): a copy that holds
    // nothing the folder lacks goes with its draft; one that does is worked in, the folder its
    // file, edited, as before that end. True when the document took the working copy.
    bool resumeHandOver(const Path& url, const std::shared_ptr<KVDocumentArchive>& archive);
    // Tells, after a save as, which files went with the old folder and are not in the new file.
    void tellFilesLeftBehind();
    void writeToFileArchive(const Path& url);
    // Writes the container into `archive` off the main thread, the main loop turning meanwhile;
    // the files in `replacing` with that content.
    void saveContainer(std::shared_ptr<KVDocumentArchive> archive, KVDocumentContainer::ArchiveRelation relation,
                       KVDocumentArchive::Contents replacing = {});
    void preventChangedByOtherAppErrorOnSave();
    std::weak_ptr<KVDocument> weakThis();
    // The steps of a save, in turn.
    struct SaveSession;
    void writePendingChanges(const std::shared_ptr<SaveSession>& session);
    void saveWrittenChanges(const std::shared_ptr<SaveSession>& session);
    void saveDidFinish(SaveSession& session, bool withoutPageData, std::optional<Error> error);
    // Pending changes that did not come in time, with the page as the cause when it still has
    // the question.
    KVDocumentError changesNotInTimeError() const;
    // The pending changes held back while the user decides about another program's version of
    // the document's file; none when nothing is held.
    std::optional<KVDocumentError> answerAwaitedError() const;
    void logSave(int session, const std::string& text) const;
    void scheduleAlerts();

    std::shared_ptr<KVDocumentContainer> container_;
    Observable<bool>::Token containerObserver_;
    int containerWritingCount_ = 0;
    std::shared_ptr<KVDocumentArchive> fileArchive_;
    std::shared_ptr<KVDocumentArchive> savedAsArchive_;
    bool isAwaitingInitialRead_ = false;
    bool isReadingTemplate_ = false;
    bool isRestoringDraft_ = false;
    bool isDuplicating_ = false;
    // While a draft copy is written: the pending changes the page handed over for it.
    KVDocumentArchive::Contents draftCopyContents_;
    bool isReverting_ = false;
    bool isPreventingChangedByOtherAppErrorOnSave_ = false;
    int saveCount_ = 0;
    bool archiveWriteInProgress_ = false;
    std::optional<std::filesystem::path> migratedDocumentURL_;
    bool wantsVersioningCheck_ = false;
    SignalConnection windowDidBecomeKeyObserver_;
    bool isInTutorialMode_ = false;
    bool containerHasChanges_ = false;
    bool isAskingAboutChangeElsewhere_ = false;
    // Why the last write of pending changes into the working folder failed (a full disk), until
    // one succeeds: a save then fails with that cause instead of a vaguer one.
    std::optional<KVDocumentError> lastWriteError_;
    // Autosave rounds in a row that failed only because the page had no document.
    int roundsWithoutPageDocument_ = 0;
    // An autosave writes the package from the working folder without the page's latest data.
    bool isSavingWithoutPageData_ = false;
    // A save is handing the work over to the folder that came back: the change counts are the
    // save's to settle, not the new container's.
    bool isHandingOverToFolder_ = false;
    // The lock of the folder that came back while the work is still in the working copy: no
    // other instance opens it meanwhile.
    std::shared_ptr<KVContainerLockFile> awaitingFolderLock_;
    // Files of a folder worked in place that went with it (deleted, moved to another disk) and
    // could not be copied into its working copy; told at the next save as.
    std::vector<std::string> filesLeftBehind_;
    std::vector<std::shared_ptr<MainQueue::Timer>> pendingAlerts_;
};

} // namespace kx
