// The working container of one project document: the project folder the editor works on, a
// private working copy under the cache folder ("Autosave-UUID/container") or the user's own
// project folder, with its lock file, project log, change tracking, data sources written on
// save, reading from and saving to the user's file, images and assets, cached downscaled
// images, discardable items and backups.
//
// Made and used on the main thread, always owned by a shared_ptr whose last release runs on
// the main thread (a background image job may hold the container last). Nothing here removes
// or overwrites a user's file without a copy of it: reads go through a staged folder that
// replaces the project folder only once complete, and a failed read leaves what was there.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "App/archive/KVDocumentArchive.h"
#include "App/documents/KVDocumentContainerDataSource.h"
#include "App/documents/KVDocumentError.h"
#include "App/documents/KVDocumentLogger.h"
#include "App/documents/Logger.h"
#include "App/documents/container/KVContainerBackups.h"
#include "App/documents/container/KVContainerDataSources.h"
#include "App/documents/container/KVContainerDiscardables.h"
#include "App/documents/container/KVContainerFolderWatch.h"
#include "App/documents/container/KVContainerImages.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Observable.h"

namespace kx {

class KVContainerLockFile;

class KVDocumentContainer : public std::enable_shared_from_this<KVDocumentContainer> {
public:
    using DataSource = KVDocumentContainerDataSource;
    using ManifestEntries = KVDocumentArchive::Manifest::Files;

    // How an archive given to read or save relates to the document.
    struct ArchiveRelation {
        enum class Kind { origin, copy };
        Kind kind = Kind::copy;
        bool isDraft = false; // for origin: the file is an autosaved draft
        static ArchiveRelation origin(bool isDraft) { return {Kind::origin, isDraft}; }
        static ArchiveRelation copy() { return {Kind::copy, false}; }
        // "draft origin", "origin" or "copy".
        std::string description() const;
    };

    // Longest sides of the cached downscaled copies, each in a folder of its own.
    static constexpr std::array<int, 4> cachedImageDimensions = {512, 1024, 2048, 4096};

    // ---- Creation (the working folder, the lock) ----

    // The working folder "Autosave-UUID" of document `uuid` under baseDirectory(), made or
    // reopened, its lock taken. With `requiredOriginIfExists`, a folder that records another
    // origin is refused (containerAlreadyExistsForOtherOrigin). Throws containerAlreadyExists
    // while a valid container of this uuid lives, containerAlreadyInUse when another instance
    // holds the lock, or the file system's error. The placeholder kind is invalid and touches
    // nothing on disk.
    static std::shared_ptr<KVDocumentContainer> make(const std::string& uuid, bool isPlaceholder,
                                                     const std::optional<std::filesystem::path>& requiredOriginIfExists);
    // A container working in place on the folder of `projectDirectoryArchive` (a folder
    // project). Throws containerIsNotDirectory or containerAlreadyInUse.
    static std::shared_ptr<KVDocumentContainer> make(std::shared_ptr<KVDocumentArchive> projectDirectoryArchive);
    // The shared invalid container of documents that have no real one.
    static const std::shared_ptr<KVDocumentContainer>& placeholder();
    // Every registered (live, not deleted) container.
    static std::vector<std::shared_ptr<KVDocumentContainer>> allInstances();
    // Whether this container still holds its folder (also when its last owner was a background
    // job and its destruction waits for the main loop).
    static bool isRegistered(const KVDocumentContainer* container);

    // Removes the working folders that nothing names any more: those that mirror nothing (a
    // crash came before an untitled document's, or a gone project folder's working copy's, first
    // draft) and those whose draft in `draftsDirectory` is gone. One that mirrors a package
    // elsewhere is kept, also when the package cannot be found now (its disk may come back), and
    // so is one in use, here or by another instance. The removal runs in the background.
    static void removeUnnamedWorkingFolders(const std::filesystem::path& draftsDirectory);

    // $XDG_CACHE_HOME/<bundle identifier>, made once.
    static std::filesystem::path baseDirectory();
    static void setBaseDirectoryForTesting(std::optional<std::filesystem::path> directory);

    ~KVDocumentContainer();
    KVDocumentContainer(const KVDocumentContainer&) = delete;
    KVDocumentContainer& operator=(const KVDocumentContainer&) = delete;

    const std::string& uuid() const { return uuid_; }
    const std::filesystem::path& uuidDirectory() const { return uuidDirectory_; }
    const std::filesystem::path& projectDirectory() const { return projectDirectory_; }
    bool projectDirectoryIsOrigin() const { return projectDirectoryIsOrigin_; }
    bool isValid() const { return isValid_; }
    Logger& logger() const { return *logger_; }

    // Ends the container's use: files marked discardable go (to the trash, in a user's own
    // folder), and it no longer blocks a new container of its uuid. The folder stays.
    void invalidate();
    // Removes the working folder (to the desktop's trash with `toTrash`) and unregisters. A
    // user's own folder is never removed, nor a working folder that existed before this
    // container and that it never read into or saved from (it may hold the only copy of
    // unsaved work). Throws the file system's error.
    void deleteContainer(bool toTrash);

    // ---- A folder worked in place that moves or goes ----

    // The user's folder moved to `to` (renamed, or moved on the same disk): the container works
    // on in its new place, its archive, path prefix, lock file, log, backups, images and file
    // watch with it.
    void projectDirectoryDidMove(const std::filesystem::path& to);
    // The user's folder went to the Trash (lying at `trashedTo`) or was deleted: nothing is
    // written into it again, nor where it was, also when the container is invalidated. The
    // container still reads from where the folder lies.
    void projectDirectoryDidGo(const std::optional<std::filesystem::path>& trashedTo);
    bool projectDirectoryIsGone() const { return projectDirectoryIsGone_; }
    // The folder that went to the Trash came back out of it, to `to`: the container works in it
    // again, as after a move. Throws containerAlreadyInUse when another instance took it
    // meanwhile (the container then stays as it was).
    void projectDirectoryDidComeBack(const std::filesystem::path& to);
    // How the page's document (the data sources' files) goes with work handed over.
    enum class PageDocument { included, leftOut };
    // Hands the work of this working copy over to the project folder open as `folder` (the
    // folder that came back, the work having gone on here meanwhile; `shown` names it): each
    // file of the project that the folder lacks or holds otherwise, as a save would take it,
    // discardable items too, backups left out, and the data sources' files last, with
    // `included`. Whatever else the folder holds stays as it is. A failure leaves the folder's
    // document as it was (see KVFolderHandOver). Throws the first failure.
    void handWorkOver(int folder, const std::filesystem::path& shown, PageDocument document) const;

    // ---- A working copy whose work waits for its folder ----

    // The name of a working folder, "Autosave-" and the uuid, and of its record of the folder
    // that its work waits for.
    static constexpr std::string_view workingFolderPrefix = "Autosave-";
    static constexpr std::string_view awaitedFolderRecord = "awaits";
    // Records beside the working folder that its work is to go into the project folder at
    // `folder`, which came back (none: no longer). Until the working folder goes with the
    // finished hand-over, a launch finds it (workingCopyAwaiting), no sweep removes it, and a
    // read of that folder keeps what it holds. Throws the file system's error.
    void awaitFolder(const std::optional<std::filesystem::path>& folder);
    struct AwaitingWorkingCopy {
        std::string uuid;
        // Its project folder ("container").
        std::filesystem::path workingCopy;
        // What its origin record names: the draft written of it, if any.
        std::optional<std::filesystem::path> draft;
    };
    // A working folder, in use nowhere in this process, whose work waits for the project folder
    // at `folder` (a hand-over that a crash or the end of the application cut short).
    static std::optional<AwaitingWorkingCopy> workingCopyAwaiting(const std::filesystem::path& folder);
    // Removes such a working folder whose folder holds all its work: set aside at once, unless
    // another instance works in it, then removed in the background.
    static void discardWorkingCopy(const AwaitingWorkingCopy& copy);

    // Asked before pending changes are written into a folder worked in place: the owner makes
    // sure that the folder is still where the container has it (a move or removal whose report
    // is still on its way), and says so through the two calls above.
    std::function<void()> projectDirectoryMayHaveMoved;
    const std::shared_ptr<KVDocumentArchive>& projectDirectoryArchive() const { return projectDirectoryArchive_; }
    // The files of the project as the container knows them: those of the last read or save and
    // those seen since, data sources and discardable items left out.
    std::set<std::string> knownFiles() const;

    // ---- Change tracking, data sources, writing ----

    // Pending data in a data source, or files that differ from the user's file.
    bool hasChanges() const { return hasUnwrittenChanges_ || hasManifestChanges_; }
    bool hasUnwrittenChanges() const { return hasUnwrittenChanges_; }
    // Hears of every change of either part of hasChanges (will and did change).
    [[nodiscard]] Observable<bool>::Token observeHasChanges(Observable<bool>::Handler handler);
    // The document's word: the folder now equals the user's file (false), or differs (true).
    void mark(bool hasChanges);
    // The document's word after a save of its file that succeeded: the file holds the files as
    // the save listed them when it began (a package) or the folder itself (worked in place), and
    // the content its data sources provided. What changed since, in the folder or in a source
    // (an edit made while the package was written), still counts as a change.
    void markSaved();

    // Registers the provider of one file; before the first read or save only, once per path.
    void addDataSource(std::shared_ptr<DataSource> dataSource, const std::string& relativePath);
    bool hasDataSource(const std::string& relativePath) const;

    // Writes the content of every data source whose owner reported changes into the project
    // folder (a source with nothing pending is not written again: its file may since hold
    // another program's version), then updates the discardable items. `completion` runs once on
    // the main loop, after every provider answered, with containerHasUnwrittenChanges when
    // some content could not be written: it carries the cause (a provider's error, a full
    // disk) and the content stays marked as unwritten.
    using WriteCompletion = std::function<void(std::optional<KVDocumentError> error)>;
    void writeChanges(WriteCompletion completion);
    // Called once for the first failed write after a successful one (an autosave's failure is
    // logged always and shown to the user once).
    std::function<void(const KVDocumentError& error)> writeFailureHandler;
    // Asks every data source with pending content for it, as writeChanges does, and writes
    // nothing: for a copy made beside the project folder, which may be on a full disk or hold
    // another program's version not decided on. `completion` runs once on the main loop with
    // the contents by path, or with containerHasUnwrittenChanges carrying a provider's error.
    using ProvideCompletion = std::function<void(KVDocumentArchive::Contents contents, std::optional<KVDocumentError> error)>;
    void provideChanges(ProvideCompletion completion);

    // One file of the project folder may have changed: its manifest entry is read again.
    void didChange(const std::string& relativePath);
    // In a folder project worked in place, the file of a data source now holds what was neither
    // read nor written here: another program changed it (a pull, a sync client). Called on the
    // main loop, once per such change. From then on the source's pending content is held back
    // (no write puts it over the other version) until the owner decides with one of the two
    // calls below.
    std::function<void(const std::string& relativePath)> dataSourceFileChangedElsewhere;
    // Takes the version on disk: reads the file again and hands its content to the source, as a
    // read does; pending content is dropped.
    void reloadDataSource(const std::string& relativePath);
    // Keeps the source's own content: the next write puts it over the other version.
    void keepDataSource(const std::string& relativePath);
    bool isDataSourceHeld(const std::string& relativePath) const { return sources_.isHeld(relativePath); }
    // The same for a URL, when it lies inside the project folder and belongs in an archive.
    void presentedSubitemDidChange(const std::filesystem::path& url);

    // ---- Reading, saving, origin ----

    // Fills the project folder from `archive` (or keeps it when it still mirrors that very
    // file) and loads the data sources. The folder is replaced only by a complete copy.
    void read(const KVDocumentArchive& archive, ArchiveRelation relation);
    // Writes the project folder, without its discardable files, into `archive`.
    void save(KVDocumentArchive& archive, ArchiveRelation relation);
    // The same, with the package written by a worker thread while the main loop goes on (a
    // large package takes seconds). The folder's file list is taken now; `completion` runs
    // once on the main loop with the failure or none, after the origin was recorded. Saves in
    // the background run one at a time, in order. The files in `replacing` are saved with that
    // content instead of the folder's (what provideChanges gave).
    using SaveCompletion = std::function<void(std::exception_ptr failure)>;
    void saveInBackground(std::shared_ptr<KVDocumentArchive> archive, ArchiveRelation relation, SaveCompletion completion,
                          KVDocumentArchive::Contents replacing = {});

    // ---- Images and assets ----

    // Stores image bytes once per content under "design/images" (a PDF page as a PNG
    // rendering) and returns the file name. Throws unsupportedImageFormat or a Error.
    std::string addImage(const std::string& data);
    // Copies an image file in under `name` (a plain file name); an existing file of that name
    // is kept. Throws a Error.
    void addImage(const std::string& name, const std::filesystem::path& url);
    // The same from a file already opened (and checked) by the caller; `url` names it in errors.
    void addImage(const std::string& name, int sourceDescriptor, const std::filesystem::path& url);
    // Stores an asset under "design/assets", named after `preferredName` (a plain file name)
    // with " (n)" added while another content holds the name; returns its relative path.
    std::string addAsset(const std::string& data, const std::string& preferredName, int count = 0);

    // Background image jobs started and not yet handed back to the main loop.
    std::size_t pendingCachedImageJobs() const { return images_.pendingCachedImageJobs(); }
    // Called on the main loop as each job ends.
    std::function<void(const std::string& imageName)> cachedImagesDidFinish;

    // ---- Discardable items, backups ----

    // Paths left out of every save and removed on invalidation.
    const std::set<std::string>& projectRelativePathsToDiscard() const { return discardables_.projectRelativePathsToDiscard(); }
    // Before the first read, in a container that takes the document over from `previous` (a
    // save as into another folder or format): the images and assets that `previous` keeps
    // until the document names one of them are kept here too.
    void keepAwaitedNamesOf(const KVDocumentContainer& previous);
    // One backup cycle now, as the 60-second timer runs it; `completion` (tests) when it ended.
    void backup(std::function<void()> completion = {});

private:
    KVDocumentContainer(const std::string& uuid, bool isPlaceholder, const std::optional<std::filesystem::path>& requiredOrigin);
    explicit KVDocumentContainer(std::shared_ptr<KVDocumentArchive> projectDirectoryArchive);
    static std::shared_ptr<KVDocumentContainer> adopt(KVDocumentContainer* container);
    // Sets the working folder `folder` aside to be removed, unless a container of this process
    // or another instance works in it: where it lies then.
    static std::optional<std::filesystem::path> setAsideWorkingFolder(const std::filesystem::path& folder);
    static void removeInBackground(std::vector<std::filesystem::path> folders);
    // The project folder this working copy's work waits for, as recorded.
    std::optional<std::filesystem::path> awaitedFolder() const;
    // The project folder, its path prefix and archive, at `to`.
    void relocate(const std::filesystem::path& to);
    // The folder worked in place is at `to` now (moved, or back): everything kept in it follows.
    void followProjectDirectory(const std::filesystem::path& to);
    void finishCreation();
    void checkOrigin(const std::filesystem::path& requiredOrigin) const;
    void addServerStateObserver();
    void log(const std::string& message) const;

    // Changes
    void setFlags(std::optional<bool> unwritten, std::optional<bool> manifest);
    void updateHasManifestChanges();
    bool manifestDiffersFromOrigin() const;
    void updateHasUnwrittenChanges();
    bool manifestFilterIncludes(const std::string& relativePath) const;
    void remove(const std::string& relativePath);
    void subtreeDidChange(const std::string& relativeFolder);
    // Takes what a read of a changed file found (`notFound`: the file is gone).
    void didRead(const std::string& relativePath, std::optional<KVDocumentArchive::Manifest::Entry> read, bool notFound);
    void startMonitoring();
    void resyncIfEventsWereLost();

    // Reading and saving
    bool shouldKeepContents(const KVDocumentArchive& archive, ArchiveRelation relation, std::optional<ManifestEntries>& recorded);
    void reflectOrigin(const KVDocumentArchive* origin, bool isDraft);

    // Images
    void addCachedImageDimensionDirectories();
    // With `flushImage`, the job first makes the full-size image durable. With
    // `linkInBackground` the links are made by the job too (a read links thousands of images:
    // that is no work for the main loop); otherwise they exist when this returns.
    void addMissingCachedImages(const std::string& name, const ManifestEntries& manifest, bool flushImage, bool linkInBackground);
    void addMissingCachedImages(bool manifestIsCurrent);
    // Links and copies for each image of `files` straight in the images folder, in the background.
    void linkCachedImages(const ManifestEntries& files);

    // Discardable items
    // Reads the document on a worker and marks the images and assets it no longer names; then
    // `then` on the main thread.
    void detectDiscardableItems(std::function<void()> then);
    // After the document's data source was loaded: one read from an empty file keeps every image
    // and asset of the project until the document names one of them.
    void documentWasLoaded();

    // Backups
    void scheduleBackup();
    void backupListed(std::shared_ptr<KVDocumentArchive> view, KVContainerBackups::Listing listing, std::function<void()> completion);

    std::string uuid_;
    std::filesystem::path uuidDirectory_;
    std::filesystem::path projectDirectory_;
    bool projectDirectoryIsOrigin_ = false;
    bool projectDirectoryIsGone_ = false;
    // The working folder's history, as far as its removal goes: one this container found and
    // never filled may hold the only copy of earlier work.
    enum class WorkingFolder {
        found,    // there before this container (also a user's own folder)
        madeHere, // made by this container
        mirrored, // a read or save went through
    };
    WorkingFolder workingFolder_ = WorkingFolder::found;
    bool serverHasDoneFirstInstall_ = false;
    NotificationCenter::Token serverStateObserver_;
    KVContainerDataSources sources_;
    std::string projectDirectoryPathPrefix_;
    std::shared_ptr<KVDocumentArchive> projectDirectoryArchive_;
    std::unique_ptr<KVDocumentLogger> logger_;
    std::shared_ptr<KVContainerLockFile> lock_;
    KVContainerFolderWatch watch_;
    bool hasManifestChanges_ = false;
    ManifestEntries originManifestEntries_;
    ManifestEntries projectManifestEntries_;
    // The files as the last save of the user's file (not a draft) listed them, until marked saved.
    std::optional<ManifestEntries> savedEntries_;
    KVContainerDiscardables discardables_;
    KVContainerBackups backups_{{}};
    bool hasUnwrittenChanges_ = false;
    bool isValid_ = false;
    bool isRegistered_ = false;
    Observable<bool> hasChangesObservable_{false};
    KVContainerImages images_{{}};
};

} // namespace kx
