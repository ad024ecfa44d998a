// Reading from and saving to the user's file, and the origin record.
#include "App/documents/container/KVDocumentContainer.h"

#include <cmath>
#include <dirent.h>
#include <unistd.h>

#include "App/archive/KVDocumentArchiveError.h"
#include "App/documents/container/KVContainerFiles.h"
#include "App/documents/container/KVContainerLockFile.h"
#include "App/documents/container/KVContainerOriginInfo.h"
#include "App/documents/container/KVContainerPrecondition.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

std::string dateText(DateFormat::Clock::time_point date)
{
    return DateFormat::iso8601(date);
}

std::string describe(const std::exception& error)
{
    if (const auto* archiveError = dynamic_cast<const KVDocumentArchiveError*>(&error))
        return archiveError->error().localizedDescription;
    return error.what();
}

} // namespace

bool KVDocumentContainer::shouldKeepContents(const KVDocumentArchive& archive, ArchiveRelation relation,
                                             std::optional<ManifestEntries>& recorded)
{
    if (projectDirectoryIsOrigin_)
        return true;
    if (relation.kind == ArchiveRelation::Kind::copy)
        return false;
    // A working copy whose work waits for this very folder (a hand-over cut short) holds more
    // than the folder: it is kept as it is, and the owner says it differs.
    const auto awaited = awaitedFolder();
    if (const auto real = awaited ? FileSystem::realPath(*awaited) : std::nullopt; real && real == FileSystem::realPath(archive.backing()->url())) {
        log("Detecting changes: this working copy holds work that waits for " + awaited->string());
        return true;
    }
    std::optional<KVContainerOriginInfo> info;
    try {
        info = KVContainerOriginInfo::read(uuidDirectory_ / "info");
    } catch (const std::exception& error) {
        log("Detecting changes — unexpected origin metadata: " + describe(error));
        return false;
    }
    if (!info)
        return false;
    auto resolved = KVContainerOriginInfo::resolveBookmark(info->bookmarkData);
    if (!resolved || resolved != FileSystem::realPath(archive.backing()->url()))
        return false;
    auto date = archive.contentModificationDate();
    if (!date)
        return false;
    log("Detecting changes: origin last modified on " + dateText(*date) + ", project last modified on " + dateText(info->modificationDate));
    auto apart = *date > info->modificationDate ? *date - info->modificationDate : info->modificationDate - *date;
    if (apart >= std::chrono::milliseconds(100))
        return false;
    // Dates alone are not enough: copies, rsync, unzip and sync clients keep them while the
    // content changes. The file list with its digests has to be the recorded one too.
    if (!info->manifest.files || !archive.manifest() || !archive.manifest()->files || *archive.manifest() != info->manifest) {
        log("Detecting changes: the origin’s files differ from those recorded");
        return false;
    }
    recorded = *info->manifest.files;
    return true;
}

void KVDocumentContainer::read(const KVDocumentArchive& archive, ArchiveRelation relation)
{
    containerOnMainThread("read runs on the main thread");
    containerPrecondition(isValid_, "read needs a valid container");
    sources_.makeFinal();
    // On every way out, also by error.
    struct ScheduleBackup {
        KVDocumentContainer* container;
        ~ScheduleBackup()
        {
            if (container->isValid_)
                container->scheduleBackup();
        }
    } scheduleBackupOnExit{this};

    std::optional<ManifestEntries> recorded;
    bool keep = shouldKeepContents(archive, relation, recorded);
    bool manifestIsCurrent = false;
    if (keep && !projectDirectoryIsOrigin_) {
        // A working copy that lost its files (a cache cleaner) is no copy to keep.
        try {
            projectDirectoryArchive_->regenerateManifest();
            manifestIsCurrent = true;
        } catch (const std::exception& error) {
            log(std::string("Couldn’t read the working copy: ") + describe(error));
        }
        const auto& fresh = projectDirectoryArchive_->manifest();
        if (!manifestIsCurrent || !fresh || !fresh->files || (fresh->files->empty() && recorded && !recorded->empty())) {
            keep = false;
            manifestIsCurrent = false;
        }
    }
    log("Reading from " + archive.backing()->url().string() + " (" + relation.description()
        + "); preserving existing contents of project folder: " + (keep ? "true" : "false"));

    if (!keep) {
        // The copy is made in a staged folder beside the project folder and takes its place
        // only once complete: a failed read leaves the folder as it was.
        watch_.stop();
        try {
            projectDirectoryArchive_->reflect(archive);
        } catch (const std::exception& error) {
            log("Error reading: " + describe(error));
            if (workingFolder_ == WorkingFolder::mirrored)
                startMonitoring();
            throw;
        }
        manifestIsCurrent = true;
        // The lock went along with the folder; where it could not, it is taken again.
        try {
            if (lock_)
                lock_->refresh();
        } catch (const KVDocumentError&) {
            log("Couldn’t keep the lock file of the project folder");
        }
        if (relation.kind == ArchiveRelation::Kind::origin)
            reflectOrigin(&archive, relation.isDraft);
        else
            reflectOrigin(nullptr, false);
    }

    addMissingCachedImages(manifestIsCurrent);
    log("Done reading");

    ManifestEntries files;
    if (const auto& manifest = projectDirectoryArchive_->manifest(); manifest && manifest->files)
        files = *manifest->files;
    // A kept working copy may hold work never saved (a crash came first): it is compared with
    // what the origin held when it was recorded.
    originManifestEntries_ = keep && recorded ? *recorded : files;
    projectManifestEntries_ = std::move(files);
    watch_.supersedeReads();
    updateHasManifestChanges();
    sources_.load(projectDirectory_);
    documentWasLoaded();
    workingFolder_ = WorkingFolder::mirrored;
    startMonitoring();
}

void KVDocumentContainer::save(KVDocumentArchive& archive, ArchiveRelation relation)
{
    containerOnMainThread("save runs on the main thread");
    containerPrecondition(isValid_, "save needs a valid container");
    sources_.makeFinal();
    if (projectDirectoryIsOrigin_) {
        auto target = FileSystem::realPath(archive.backing()->url());
        if (archive.backing()->url() == projectDirectory_ || (target && target == FileSystem::realPath(projectDirectory_)))
            return;
    }
    resyncIfEventsWereLost();
    log("Saving to " + archive.backing()->url().string() + " (" + relation.description() + ")");
    auto discarded = projectRelativePathsToDiscard();
    KVDocumentArchive view(*projectDirectoryArchive_, [discarded](const std::string& path) { return !discarded.contains(path); });
    try {
        archive.reflect(view);
    } catch (const std::exception& error) {
        log("Error saving: " + describe(error));
        throw;
    }
    log("Done saving");
    workingFolder_ = WorkingFolder::mirrored;
    if (relation.kind == ArchiveRelation::Kind::origin)
        reflectOrigin(&archive, relation.isDraft);
}

void KVDocumentContainer::saveInBackground(std::shared_ptr<KVDocumentArchive> archive, ArchiveRelation relation,
                                           SaveCompletion completion, KVDocumentArchive::Contents replacing)
{
    containerOnMainThread("save runs on the main thread");
    containerPrecondition(isValid_, "save needs a valid container");
    sources_.makeFinal();
    if (projectDirectoryIsOrigin_) {
        auto target = FileSystem::realPath(archive->backing()->url());
        if (archive->backing()->url() == projectDirectory_ || (target && target == FileSystem::realPath(projectDirectory_))) {
            MainQueue::async([completion] { completion(nullptr); });
            return;
        }
    }
    resyncIfEventsWereLost();
    log("Saving to " + archive->backing()->url().string() + " (" + relation.description() + ")");
    // What is left out was found from the folder's document; content given in its place may
    // name it again.
    auto discarded = replacing.empty() ? projectRelativePathsToDiscard() : std::set<std::string>();
    auto view = std::make_shared<KVDocumentArchive>(
        *projectDirectoryArchive_, [discarded](const std::string& path) { return !discarded.contains(path); }, std::move(replacing));
    // One writer thread for every container: packages are written one after the other.
    static ThreadPool writer(1, "kx-package-writer");
    std::shared_ptr<KVDocumentContainer> self = shared_from_this();
    savedEntries_.reset();
    writer.async([self, archive, view, relation, completion, listed = projectManifestEntries_] {
        std::exception_ptr failure;
        try {
            archive->reflect(*view);
        } catch (...) {
            failure = std::current_exception();
        }
        MainQueue::async([self, archive, relation, completion, failure, listed = std::move(listed)]() mutable {
            if (failure) {
                try {
                    std::rethrow_exception(failure);
                } catch (const std::exception& error) {
                    self->log("Error saving: " + describe(error));
                } catch (...) {
                    self->log("Error saving");
                }
            } else {
                self->log("Done saving");
                self->workingFolder_ = WorkingFolder::mirrored;
                // A container closed meanwhile records no origin: its folder is no one's now.
                if (relation.kind == ArchiveRelation::Kind::origin && self->isValid_) {
                    self->reflectOrigin(archive.get(), relation.isDraft);
                    if (!relation.isDraft)
                        self->savedEntries_ = std::move(listed);
                }
            }
            completion(failure);
        });
    });
}

void KVDocumentContainer::reflectOrigin(const KVDocumentArchive* origin, bool isDraft)
{
    containerPrecondition(isValid_, "the origin is recorded by a valid container");
    if (projectDirectoryIsOrigin_)
        return;
    if (DIR* folder = ::opendir(uuidDirectory_.c_str())) {
        std::vector<std::string> stale;
        while (auto* item = ::readdir(folder)) {
            std::string name = item->d_name;
            if (name.starts_with('.'))
                continue;
            if (name == "info" || (name.size() >= 3 && name.starts_with("---") && name.ends_with("---")))
                stale.push_back(name);
        }
        ::closedir(folder);
        // Links and files only: unlink never follows a link, and a folder of that name stays.
        for (const auto& name : stale)
            ::unlink((uuidDirectory_ / name).c_str());
    }
    if (!origin)
        return;
    const fs::path url = origin->backing()->url();
    auto bookmark = KVContainerOriginInfo::makeBookmark(url);
    if (!bookmark)
        return;
    if (!isDraft) {
        // The bookmark file is a link to the user's file, for whoever looks into the folder.
        auto target = FileSystem::realPath(url);
        std::string name = "--- " + url.filename().string() + " ---";
        if (target && KVContainerFiles::isPlainFileName(name))
            [[maybe_unused]] int ignored = ::symlink(target->c_str(), (uuidDirectory_ / name).c_str());
    }
    KVContainerOriginInfo info;
    info.bookmarkData = *bookmark;
    info.manifest = origin->manifest().value_or(KVDocumentArchive::Manifest{origin->uuid(), std::nullopt});
    info.modificationDate = origin->contentModificationDate().value_or(DateFormat::Clock::now());
    try {
        KVContainerFiles::replaceFile(uuidDirectory_ / "info", KVDocumentArchive::encode(info.toJSON()), true);
    } catch (const std::exception&) {
        // A name that is not UTF-8 cannot be encoded; the folder is then simply not kept next time.
    }
    log("Updating origin: " + url.string() + ", last modified on: " + dateText(info.modificationDate));
}

} // namespace kx
