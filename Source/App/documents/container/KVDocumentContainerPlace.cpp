// A folder worked in place that moves, or goes to the Trash or away, while it is open.
#include "App/documents/container/KVDocumentContainer.h"

#include "App/documents/container/KVContainerLockFile.h"
#include "App/documents/container/KVContainerPrecondition.h"

namespace kx {

namespace fs = std::filesystem;

void KVDocumentContainer::projectDirectoryDidMove(const fs::path& to)
{
    containerOnMainThread("a project folder is followed on the main thread");
    containerPrecondition(projectDirectoryIsOrigin_, "only a folder worked in place moves with the document's file");
    if (projectDirectoryIsGone_ || to == projectDirectory_)
        return;
    const fs::path from = projectDirectory_;
    relocate(to);
    if (lock_)
        lock_->folderDidMove(to);
    logger_->moveTo(to / std::string(KVDocumentArchive::relativePathForProjectLog));
    backups_.projectDirectoryDidMove(to);
    images_.projectDirectoryDidMove(to);
    log("The project folder moved from " + from.string() + " to " + to.string());
    if (!isValid_)
        return;
    // The kernel's watches went along with the folders, but a folder made from now on would be
    // looked for where it was, and what changed while it moved may have gone unseen: watched
    // again at its new place, and its file list read again before the next write.
    startMonitoring();
    watch_.setEventsWereLost(true);
    // The links of the smaller copies of the images name the full-size images by their path.
    linkCachedImages(projectManifestEntries_);
}

void KVDocumentContainer::projectDirectoryDidGo(const std::optional<fs::path>& trashedTo)
{
    containerOnMainThread("a project folder's end is taken on the main thread");
    if (!projectDirectoryIsOrigin_ || projectDirectoryIsGone_)
        return;
    log(trashedTo ? "The project folder was moved to the Trash: nothing is written into it any more"
                  : "The project folder was deleted: nothing is written where it was");
    projectDirectoryIsGone_ = true;
    watch_.stop();
    // Nothing of ours is written there again, not even the log; the lock file stays as it is
    // (it names this process, which takes it for stale should the folder come back).
    logger_->moveTo(std::nullopt);
    lock_.reset();
    // What is still there is read from where it lies now.
    if (trashedTo)
        relocate(*trashedTo);
}

void KVDocumentContainer::relocate(const fs::path& to)
{
    projectDirectory_ = to;
    projectDirectoryPathPrefix_ = to.string();
    if (!projectDirectoryPathPrefix_.ends_with('/'))
        projectDirectoryPathPrefix_ += '/';
    // The same project, with its identity and file list, at its new place.
    projectDirectoryArchive_ = std::make_shared<KVDocumentArchive>(projectDirectoryArchive_->uuid(), projectDirectoryArchive_->manifest(),
                                                                   projectDirectoryArchive_->backing()->moved(to));
}

std::set<std::string> KVDocumentContainer::knownFiles() const
{
    std::set<std::string> files;
    for (const auto* entries : {&originManifestEntries_, &projectManifestEntries_})
        for (const auto& entry : *entries)
            files.insert(entry.first);
    const auto& discarded = projectRelativePathsToDiscard();
    std::erase_if(files, [&](const std::string& path) {
        return sources_.contains(path) || discarded.contains(path) || !KVDocumentArchive::shouldInclude(path)
            || path.starts_with(KVDocumentArchive::relativePathForBackups);
    });
    return files;
}

} // namespace kx
