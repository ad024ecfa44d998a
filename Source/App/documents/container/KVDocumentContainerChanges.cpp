// Change tracking, data sources and writing of pending data.
#include "App/documents/container/KVDocumentContainer.h"

#include <cerrno>
#include <sys/stat.h>

#include "App/archive/KVArchivePath.h"
#include "App/documents/container/KVContainerFiles.h"
#include "App/documents/container/KVContainerPrecondition.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace fs = std::filesystem;

Observable<bool>::Token KVDocumentContainer::observeHasChanges(Observable<bool>::Handler handler)
{
    return hasChangesObservable_.observe(std::move(handler));
}

void KVDocumentContainer::setFlags(std::optional<bool> unwritten, std::optional<bool> manifest)
{
    if (unwritten)
        hasUnwrittenChanges_ = *unwritten;
    if (manifest)
        hasManifestChanges_ = *manifest;
    // Every change of either part is told, also when the union stays.
    hasChangesObservable_.set(hasChanges(), true);
}

void KVDocumentContainer::mark(bool changed)
{
    containerOnMainThread("mark(hasChanges:) runs on the main thread");
    containerPrecondition(isValid_, "mark(hasChanges:) needs a valid container");
    if (changed)
        originManifestEntries_.clear();
    else
        originManifestEntries_ = projectManifestEntries_;
    setFlags(false, changed);
    log(std::string("Marking changed: ") + (changed ? "true" : "false"));
}

void KVDocumentContainer::markSaved()
{
    containerOnMainThread("markSaved() runs on the main thread");
    containerPrecondition(isValid_, "markSaved() needs a valid container");
    // The files as the save listed them are the user's file now; what changed in the folder
    // since, and what the page reported since its content was taken, is not in it.
    if (!projectDirectoryIsOrigin_)
        originManifestEntries_ = std::exchange(savedEntries_, std::nullopt).value_or(projectManifestEntries_);
    const bool unwritten = sources_.haveDataToBeProvided();
    setFlags(unwritten, !projectDirectoryIsOrigin_ && manifestDiffersFromOrigin());
    log(std::string("Marked saved; changes since: ") + (hasChanges() ? "true" : "false"));
}

bool KVDocumentContainer::manifestDiffersFromOrigin() const
{
    // Both lists side by side, without a copy: this runs for every file event.
    auto origin = originManifestEntries_.begin();
    auto project = projectManifestEntries_.begin();
    for (;;) {
        while (origin != originManifestEntries_.end() && !manifestFilterIncludes(origin->first))
            ++origin;
        while (project != projectManifestEntries_.end() && !manifestFilterIncludes(project->first))
            ++project;
        if (origin == originManifestEntries_.end() || project == projectManifestEntries_.end())
            return origin != originManifestEntries_.end() || project != projectManifestEntries_.end();
        if (origin->first != project->first || !(origin->second == project->second))
            return true;
        ++origin;
        ++project;
    }
}

bool KVDocumentContainer::manifestFilterIncludes(const std::string& path) const
{
    if (path == "package.json")
        return serverHasDoneFirstInstall_;
    if (path.starts_with(KVDocumentArchive::relativePathForBackups))
        return false;
    return !KVDocumentArchive::relativePathsIgnoredForManifest().contains(path);
}

void KVDocumentContainer::updateHasManifestChanges()
{
    bool changed = false;
    if (projectDirectoryIsOrigin_) {
        if (!hasManifestChanges_)
            return;
    } else {
        changed = manifestDiffersFromOrigin();
        if (changed == hasManifestChanges_)
            return;
    }
    containerOnMainThread("change flags change on the main thread");
    setFlags(std::nullopt, changed);
}

void KVDocumentContainer::updateHasUnwrittenChanges()
{
    containerOnMainThread("change flags change on the main thread");
    const bool unwritten = sources_.haveDataToBeProvided();
    if (unwritten != hasUnwrittenChanges_)
        setFlags(unwritten, std::nullopt);
}

void KVDocumentContainer::addDataSource(std::shared_ptr<DataSource> dataSource, const std::string& relativePath)
{
    containerOnMainThread("data sources are added on the main thread");
    containerPrecondition(isValid_, "data sources are added to a valid container");
    containerPrecondition(!sources_.areFinal(), "data sources are added before the first read or save");
    containerPrecondition(dataSource != nullptr, "a data source is given");
    containerPrecondition(KVArchivePath::isSafeRelativePath(relativePath) && !relativePath.ends_with('/')
                              && KVDocumentArchive::shouldInclude(relativePath),
                          "a data source's path is a file of the project");
    containerPrecondition(!sources_.contains(relativePath), "one data source per path");
    auto observer = dataSource->observeDataNeedsToBeProvided(
        ifAlive(weak_from_this(), [](KVDocumentContainer& self, Observable<bool>::Phase phase, bool, bool) {
            if (phase == Observable<bool>::Phase::didChange)
                self.updateHasUnwrittenChanges();
        }));
    sources_.add(relativePath, std::move(dataSource), std::move(observer));
}

bool KVDocumentContainer::hasDataSource(const std::string& relativePath) const
{
    return sources_.contains(relativePath);
}

namespace {

// One thread, so that the writes of one file land in the order they were made.
ThreadPool& dataSourceWriter()
{
    static ThreadPool pool(1, "kx-document-writer");
    return pool;
}

} // namespace

void KVDocumentContainer::writeChanges(WriteCompletion completion)
{
    containerOnMainThread("writeChanges runs on the main thread");
    containerPrecondition(isValid_, "writeChanges needs a valid container");
    // A folder worked in place that moved or went a moment ago, its report still on its way: the
    // owner hears of it first (a move is then followed), and nothing is written where it was.
    if (projectDirectoryIsOrigin_ && !projectDirectoryIsGone_ && projectDirectoryMayHaveMoved)
        projectDirectoryMayHaveMoved();
    if (projectDirectoryIsGone_ || !isValid_) {
        auto cause = Error::fromErrno(ENOENT, "The project folder " + projectDirectory_.filename().string() + " is no longer there");
        MainQueue::async([completion = std::move(completion), cause] {
            completion(KVDocumentError(KVDocumentError::Code::containerHasUnwrittenChanges, cause));
        });
        return;
    }
    // What another program wrote a moment ago, not heard of yet, is heard of first: a file of
    // theirs is then held or being read, and not written over below.
    watch_.reportWaitingChanges();

    struct Session {
        size_t remaining = 1;
        std::optional<KVDocumentError> error;
        WriteCompletion completion;
    };
    auto session = std::make_shared<Session>();
    session->completion = std::move(completion);
    session->remaining += sources_.all().size();
    std::weak_ptr<KVDocumentContainer> weak = weak_from_this();

    auto leave = [weak, session] {
        if (--session->remaining > 0)
            return;
        auto finish = [weak, session] {
            if (auto self = weak.lock()) {
                self->updateHasUnwrittenChanges();
                if (session->error) {
                    if (self->writeFailureHandler && self->sources_.isFirstFailure())
                        self->writeFailureHandler(*session->error);
                } else {
                    self->sources_.writeSucceeded();
                }
            }
            if (auto completion = std::exchange(session->completion, nullptr))
                completion(session->error);
        };
        MainQueue::async([weak, finish] {
            auto self = weak.lock();
            if (!self || !self->isValid_)
                return finish();
            self->resyncIfEventsWereLost();
            // What the document names is known before the writer hears it is done: a save then
            // leaves out only what it really no longer names.
            self->detectDiscardableItems(finish);
        });
    };
    auto fail = [session](const Error& cause) {
        if (!session->error)
            session->error = KVDocumentError(KVDocumentError::Code::containerHasUnwrittenChanges, cause);
    };
    // Writes the content into the project folder on the writer thread (a large document's
    // write, flush and hash would stall the main loop); the source counts as written only once
    // the file is there, back on the main thread. Until then the file's changes are our own.
    auto write = [weak, fail, leave](const std::string& path, const std::shared_ptr<DataSource>& source, DataSource::SharedData data,
                                     std::uint64_t generation) {
        auto self = weak.lock();
        if (!self)
            return leave();
        self->sources_.writeBegins(path);
        const fs::path folder = self->projectDirectory_;
        dataSourceWriter().async([weak, fail, leave, folder, path, source, data = std::move(data), generation]() mutable {
            auto error = KVContainerFiles::makeFolders(folder, fs::path(path).parent_path().generic_string());
            if (!error)
                error = KVContainerFiles::replaceFile(folder / path, *data, true);
            std::optional<KVDocumentArchive::Manifest::Entry> entry;
            std::optional<KVContainerDataSources::FileStamp> stamp;
            if (!error) {
                entry = KVDocumentArchive::Manifest::Entry::of(std::as_bytes(std::span(data->data(), data->size())));
                stamp = KVContainerDataSources::FileStamp::of(folder / path);
            }
            data.reset(); // a large document is freed here, unless the source still holds it
            MainQueue::async([weak, fail, leave, path, source, error = std::move(error), entry = std::move(entry), stamp, generation] {
                auto self = weak.lock();
                if (!self)
                    return leave();
                self->sources_.writeEnds(path);
                if (error) {
                    self->log("Cannot writeChanges to " + path + ": " + error->localizedDescription);
                    // What is on disk is older than what the owner holds: it has to be provided again.
                    if (!source->dataNeedsToBeProvided())
                        source->setDataNeedsToBeProvided(true);
                    fail(*error);
                    self->didChange(path);
                    return leave();
                }
                // The file holds the data now. Its entry is taken first, so that a project whose
                // folder differs from the user's file never looks unchanged for a moment while the
                // source's flag clears: writing out pending content is no change undone.
                self->sources_.didWrite(path, *entry, stamp);
                self->projectManifestEntries_.insert_or_assign(path, *entry);
                self->updateHasManifestChanges();
                source->dataWasWritten(generation);
                leave();
            });
        });
    };

    for (const auto& item : sources_.all()) {
        const std::string path = item.first;
        const std::shared_ptr<DataSource> source = item.second;
        // Nothing pending: the file holds the content already, or another program's newer
        // version, which is never overwritten from what was read before.
        if (!source->dataNeedsToBeProvided()) {
            leave();
            continue;
        }
        // Another program's version is on disk and the owner has not decided yet.
        if (sources_.isHeld(path)) {
            log("Not writing " + path + ": another application changed it, and that is not decided yet");
            leave();
            continue;
        }
        // The file changed and is being read: it may be another program's version.
        if (watch_.isReading(path)) {
            log("Not writing " + path + ": it changed on disk and is being read");
            leave();
            continue;
        }
        source->provide([weak, write, fail, leave, path, source](Result<DataSource::SharedData, Error> result, std::uint64_t generation) {
            if (result.isSuccess())
                return write(path, source, std::move(result).value(), generation);
            if (auto self = weak.lock()) {
                self->log("Cannot writeChanges to " + path + ", dataSource returned an error: " + result.error().localizedDescription);
                fail(result.error());
            }
            leave();
        });
    }
    leave();
}

void KVDocumentContainer::provideChanges(ProvideCompletion completion)
{
    containerOnMainThread("provideChanges runs on the main thread");
    containerPrecondition(isValid_, "provideChanges needs a valid container");
    struct Session {
        size_t remaining = 1;
        KVDocumentArchive::Contents contents;
        std::optional<KVDocumentError> error;
        ProvideCompletion completion;
    };
    auto session = std::make_shared<Session>();
    session->completion = std::move(completion);
    auto leave = [session] {
        if (--session->remaining == 0)
            MainQueue::async([session] { session->completion(std::move(session->contents), std::move(session->error)); });
    };
    for (const auto& [path, source] : sources_.all()) {
        // Held sources too: what the owner holds is the copy's, whatever another program wrote.
        if (!source->dataNeedsToBeProvided())
            continue;
        ++session->remaining;
        source->provide([session, leave, path = path](Result<DataSource::SharedData, Error> result, std::uint64_t) {
            if (result.isSuccess())
                session->contents.insert_or_assign(path, std::move(result).value());
            else if (!session->error)
                session->error = KVDocumentError(KVDocumentError::Code::containerHasUnwrittenChanges, result.error());
            leave();
        });
    }
    leave();
}

void KVDocumentContainer::didChange(const std::string& relativePath)
{
    // Our own write of a data source, under way or done and untouched since: nothing to read
    // (a document of megabytes would be read and hashed again on the main thread).
    if (sources_.isBeingWritten(relativePath))
        return;
    if (auto known = sources_.unchangedSinceWrite(projectDirectory_, relativePath)) {
        projectManifestEntries_.insert_or_assign(relativePath, *known);
        updateHasManifestChanges();
        return;
    }
    // This report is the latest: a read still under way for the file no longer counts.
    watch_.supersedeRead(relativePath);
    struct stat status {};
    if (::stat((projectDirectory_ / relativePath).c_str(), &status) == 0 && S_ISREG(status.st_mode)
        && std::uint64_t(status.st_size) >= KVContainerFolderWatch::largeChangedFileSize) {
        // Its entry is taken when it comes back, unless the file was reported changed again
        // meanwhile or the whole list was read again.
        watch_.startRead(projectDirectoryArchive_->backing(), relativePath,
                         ifAlive(weak_from_this(), [relativePath](KVDocumentContainer& self, std::uint64_t number,
                                                                      std::optional<KVDocumentArchive::Manifest::Entry> read, bool notFound) {
                             if (self.isValid_ && self.watch_.finishRead(relativePath, number))
                                 self.didRead(relativePath, std::move(read), notFound);
                         }));
        return;
    }
    bool notFound = false;
    auto read = KVContainerFolderWatch::readEntry(*projectDirectoryArchive_->backing(), relativePath, notFound);
    didRead(relativePath, std::move(read), notFound);
}

void KVDocumentContainer::didRead(const std::string& relativePath, std::optional<KVDocumentArchive::Manifest::Entry> read, bool notFound)
{
    if (read)
        projectManifestEntries_.insert_or_assign(relativePath, *read);
    else if (notFound)
        projectManifestEntries_.erase(relativePath);
    updateHasManifestChanges();

    // The user's own folder: a data source's file that holds something new came from another
    // program. (A file removed is left to the next write.)
    if (!read || !projectDirectoryIsOrigin_ || !sources_.isOtherVersion(relativePath, *read))
        return;
    log("The file " + relativePath + " was changed by another application");
    if (dataSourceFileChangedElsewhere)
        sources_.hold(relativePath);
    MainQueue::async(ifAlive(weak_from_this(), [relativePath](KVDocumentContainer& self) {
        if (self.isValid_ && self.dataSourceFileChangedElsewhere)
            self.dataSourceFileChangedElsewhere(relativePath);
    }));
}

void KVDocumentContainer::reloadDataSource(const std::string& relativePath)
{
    containerOnMainThread("data sources are loaded on the main thread");
    if (!isValid_ || !sources_.contains(relativePath))
        return;
    if (auto failure = sources_.reload(projectDirectory_, relativePath))
        log("Couldn’t read " + relativePath + " again: " + *failure);
    else
        documentWasLoaded();
}

void KVDocumentContainer::keepDataSource(const std::string& relativePath)
{
    containerOnMainThread("data sources are decided on the main thread");
    sources_.release(relativePath);
    auto source = sources_.find(relativePath);
    // What the owner holds goes out at the next write, also when it had nothing pending.
    if (isValid_ && source && !source->dataNeedsToBeProvided())
        source->setDataNeedsToBeProvided(true);
}

void KVDocumentContainer::subtreeDidChange(const std::string& relativeFolder)
{
    const std::string prefix = relativeFolder + "/";
    std::vector<std::string> paths;
    for (auto it = projectManifestEntries_.lower_bound(prefix); it != projectManifestEntries_.end() && it->first.starts_with(prefix); ++it)
        paths.push_back(it->first);
    for (const auto& path : paths)
        didChange(path);
}

void KVDocumentContainer::presentedSubitemDidChange(const fs::path& url)
{
    if (!isValid_)
        return;
    const std::string path = url.string();
    auto at = path.rfind(projectDirectoryPathPrefix_);
    if (at == std::string::npos)
        return;
    const std::string relative = path.substr(at + projectDirectoryPathPrefix_.size());
    if (KVDocumentArchive::shouldInclude(relative))
        didChange(relative);
}

void KVDocumentContainer::remove(const std::string& relativePath)
{
    const fs::path path = projectDirectory_ / relativePath;
    const bool userFile = projectDirectoryIsOrigin_ && !relativePath.starts_with(KVDocumentArchive::relativePathForImageCaches);
    if (userFile) {
        // The user's own folder: what the design no longer uses goes to the trash, not away.
        std::error_code ec;
        if (fs::exists(fs::symlink_status(path, ec))) {
            if (auto error = FileSystem::trash(path)) {
                log("Couldn’t move " + relativePath + " to the trash: " + error->localizedDescription);
                return;
            }
        }
    } else {
        std::error_code ec;
        fs::remove(path, ec);
    }
    projectManifestEntries_.erase(relativePath);
    updateHasManifestChanges();
}

void KVDocumentContainer::startMonitoring()
{
    watch_.stop();
    if (!isValid_)
        return;
    watch_.start(
        projectDirectory_,
        [this](const std::string& path, bool subtree) {
            if (!isValid_)
                return;
            if (subtree)
                subtreeDidChange(path);
            else if (KVDocumentArchive::shouldInclude(path))
                didChange(path);
        },
        [this](const std::string& message) { log(message); });
}

void KVDocumentContainer::resyncIfEventsWereLost()
{
    if (!watch_.eventsWereLost() || !isValid_)
        return;
    watch_.setEventsWereLost(false);
    // Watched again from scratch first, so that what changes while the list is read is seen.
    startMonitoring();
    try {
        projectDirectoryArchive_->regenerateManifest();
        if (const auto& manifest = projectDirectoryArchive_->manifest(); manifest && manifest->files) {
            projectManifestEntries_ = *manifest->files;
            watch_.supersedeReads(); // the list just read is newer
        }
    } catch (const std::exception& error) {
        watch_.setEventsWereLost(true);
        log(std::string("Couldn’t read the project folder’s file list: ") + error.what());
    }
    updateHasManifestChanges();
}

} // namespace kx
