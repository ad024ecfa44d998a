// A folder worked in place that moves, or goes to the Trash or away, while it is open.
#include "App/documents/container/KVDocumentContainer.h"

#include <cerrno>

#include "App/documents/container/KVContainerFiles.h"
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
    if (lock_)
        lock_->folderDidMove(to);
    followProjectDirectory(to);
    log("The project folder moved from " + from.string() + " to " + to.string());
}

void KVDocumentContainer::projectDirectoryDidComeBack(const fs::path& to)
{
    containerOnMainThread("a project folder is followed on the main thread");
    if (!projectDirectoryIsOrigin_ || !projectDirectoryIsGone_)
        return;
    // Its lock file names this process, a stale lock: taken again, unless another instance
    // opened the folder meanwhile.
    lock_ = KVContainerLockFile::acquire(to);
    projectDirectoryIsGone_ = false;
    followProjectDirectory(to);
    log("The project folder came back, to " + to.string());
}

void KVDocumentContainer::followProjectDirectory(const fs::path& to)
{
    relocate(to);
    logger_->moveTo(to / std::string(KVDocumentArchive::relativePathForProjectLog));
    backups_.projectDirectoryDidMove(to);
    images_.projectDirectoryDidMove(to);
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

void KVDocumentContainer::copyWorkInto(const fs::path& folder, bool dataSources) const
{
    containerOnMainThread("files are copied on the main thread");
    const std::string backups = std::string(KVDocumentArchive::relativePathForBackups) + "/";
    std::error_code ec;
    // Links are not followed: a project holds files, and a link in a working copy leads nowhere
    // the folder should be given.
    fs::recursive_directory_iterator it(projectDirectory_, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string relative = it->path().lexically_relative(projectDirectory_).generic_string();
        std::error_code statusError;
        const auto status = it->symlink_status(statusError);
        if (!KVDocumentArchive::shouldInclude(relative) || relative.starts_with(backups)) {
            if (fs::is_directory(status))
                it.disable_recursion_pending();
            continue;
        }
        // Discardable items too: the page may name an image in what it has not handed over yet.
        const bool isDataSource = sources_.contains(relative);
        if (!fs::is_regular_file(status) || (isDataSource && !dataSources))
            continue;
        const fs::path target = folder / relative;
        if (!isDataSource && fs::exists(fs::symlink_status(target, statusError)))
            continue;
        if (auto error = KVContainerFiles::makeFolders(folder, fs::path(relative).parent_path().generic_string()))
            throw *error;
        if (isDataSource) {
            auto read = KVContainerFiles::readRegularFile(it->path(), KVContainerDataSources::maximumDataSourceLength);
            if (!read.data)
                throw read.error;
            if (auto error = KVContainerFiles::replaceFile(target, *read.data, true))
                throw *error;
        } else if (auto error = KVContainerFiles::copyNewFile(it->path(), target); error && error->code != EEXIST) {
            throw *error;
        }
    }
    if (ec)
        throw Error::fromErrno(ec.value(), "Cannot read " + projectDirectory_.string());
}

} // namespace kx
