// A folder worked in place that moves, or goes to the Trash or away, while it is open.
#include "App/documents/container/KVDocumentContainer.h"

#include <cerrno>

#include <nlohmann/json.hpp>

#include "App/documents/container/KVContainerFiles.h"
#include "App/documents/container/KVContainerLockFile.h"
#include "App/documents/container/KVContainerPrecondition.h"
#include "App/documents/container/KVContainerOriginInfo.h"
#include "App/documents/container/KVFolderHandOver.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/FileSystemBeneath.h"
#include "Platform/Foundation/Uuid.h"

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

void KVDocumentContainer::handWorkOver(int folder, const fs::path& shown, PageDocument document) const
{
    containerOnMainThread("work is handed over on the main thread");
    // Discardable items too: the page may name an image in what it has not handed over yet.
    std::set<std::string> leftOut;
    if (document == PageDocument::leftOut)
        for (const auto& [path, source] : sources_.all())
            leftOut.insert(path);
    const auto files = KVFolderHandOver::differences(projectDirectory_, folder, leftOut, KVDocumentArchive::relativePathForDocumentJSON);
    KVFolderHandOver::carry(projectDirectory_, folder, shown, files);
    if (!files.empty())
        log("Handed " + std::to_string(files.size()) + " file(s) over to " + shown.string());
}

// ---- A working copy that waits for its folder ----

namespace {

bool sameFolder(const fs::path& a, const fs::path& b)
{
    if (a.lexically_normal() == b.lexically_normal())
        return true;
    const auto realA = FileSystem::realPath(a);
    return realA && realA == FileSystem::realPath(b);
}

// The project folder a working folder's record names; none without a record that reads.
std::optional<fs::path> recordedFolder(const fs::path& workingFolder)
{
    constexpr std::size_t longest = 64 * 1024;
    const auto text = FileSystem::readFileBeneath(workingFolder, KVDocumentContainer::awaitedFolderRecord, longest);
    if (!text)
        return std::nullopt;
    const auto record = nlohmann::json::parse(*text, nullptr, false);
    if (!record.is_object() || !record.contains("folder") || !record["folder"].is_string())
        return std::nullopt;
    fs::path folder(record["folder"].get<std::string>());
    if (!folder.is_absolute())
        return std::nullopt;
    return folder;
}

} // namespace

void KVDocumentContainer::awaitFolder(const std::optional<fs::path>& folder)
{
    containerOnMainThread("a working copy's record is written on the main thread");
    containerPrecondition(!projectDirectoryIsOrigin_ && isValid_, "only a working copy waits for a folder");
    const fs::path record = uuidDirectory_ / awaitedFolderRecord;
    if (!folder) {
        std::error_code ec;
        if (fs::remove(record, ec))
            FileSystem::flushDirectory(uuidDirectory_);
        return;
    }
    std::string text;
    try {
        text = nlohmann::json{{"folder", folder->string()}}.dump();
    } catch (const nlohmann::json::exception&) {
        // A name that is not UTF-8 cannot be recorded: the draft is all a launch finds then.
        throw Error::fromErrno(EILSEQ, "Cannot record the project folder " + folder->string());
    }
    if (auto error = FileSystem::atomicWrite(record, text))
        throw *error;
    log("The work of this working copy waits for the project folder " + folder->string());
}

std::optional<fs::path> KVDocumentContainer::awaitedFolder() const
{
    return projectDirectoryIsOrigin_ ? std::nullopt : recordedFolder(uuidDirectory_);
}

std::optional<KVDocumentContainer::AwaitingWorkingCopy> KVDocumentContainer::workingCopyAwaiting(const fs::path& folder)
{
    containerOnMainThread("working copies are looked for on the main thread");
    std::error_code ec;
    for (fs::directory_iterator it(baseDirectory(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        constexpr auto prefix = workingFolderPrefix;
        if (!name.starts_with(prefix) || !Uuid::isValid(name.substr(prefix.size())))
            continue;
        const auto recorded = recordedFolder(it->path());
        if (!recorded || !sameFolder(*recorded, folder))
            continue;
        bool inUse = false;
        for (const auto& container : allInstances())
            inUse = inUse || container->uuidDirectory_ == it->path();
        if (inUse)
            continue;
        AwaitingWorkingCopy found{name.substr(prefix.size()), it->path() / "container", std::nullopt};
        try {
            if (auto info = KVContainerOriginInfo::read(it->path() / "info"))
                found.draft = KVContainerOriginInfo::bookmarkedPath(info->bookmarkData);
        } catch (const std::exception&) {
            // No draft to go with it: the working copy holds the work all the same.
        }
        return found;
    }
    return std::nullopt;
}

void KVDocumentContainer::discardWorkingCopy(const AwaitingWorkingCopy& copy)
{
    containerOnMainThread("working folders are removed on the main thread");
    if (auto setAside = setAsideWorkingFolder(copy.workingCopy.parent_path()))
        removeInBackground({*setAside});
}

} // namespace kx
