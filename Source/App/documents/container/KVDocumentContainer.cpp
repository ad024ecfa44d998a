// Creation, the registry of live containers, invalidation, deletion and destruction.
#include "App/documents/container/KVDocumentContainer.h"

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>

#include "App/archive/KVDirectoryArchiveBacking.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/documents/KVDocumentLogger.h"
#include "App/documents/container/KVContainerLockFile.h"
#include "App/documents/container/KVContainerOriginInfo.h"
#include "App/documents/container/KVContainerPrecondition.h"
#include "App/server/ServerController.h"
#include "App/shell/RKLog.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"
#include "Platform/Foundation/Uuid.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

std::set<KVDocumentContainer*>& liveContainers()
{
    static std::set<KVDocumentContainer*> containers;
    return containers;
}

std::optional<fs::path>& baseDirectoryOverride()
{
    static std::optional<fs::path> directory;
    return directory;
}

// The names of working folders set aside to be removed.
constexpr std::string_view setAsidePrefix = ".Unnamed-";

std::string upperCased(std::string text)
{
    for (auto& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

Error fileError(const std::error_code& ec, const std::string& what)
{
    return Error::fromErrno(ec.value(), what);
}

// Whether the working folder `folder` mirrors a file or draft that still names it (see
// removeUnnamedWorkingFolders).
bool isNamed(const fs::path& folder, const fs::path& drafts)
{
    // Its work waits for a project folder that came back: it goes once handed over.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(folder / KVDocumentContainer::awaitedFolderRecord, ec)))
        return true;
    std::optional<KVContainerOriginInfo> info;
    try {
        info = KVContainerOriginInfo::read(folder / "info");
    } catch (const std::exception&) {
        return true; // not ours to judge
    }
    if (!info)
        return false;
    if (KVContainerOriginInfo::resolveBookmark(info->bookmarkData))
        return true;
    const auto origin = KVContainerOriginInfo::bookmarkedPath(info->bookmarkData);
    return !origin || origin->parent_path().lexically_normal() != drafts;
}

} // namespace

std::string KVDocumentContainer::ArchiveRelation::description() const
{
    if (kind == Kind::copy)
        return "copy";
    return isDraft ? "draft origin" : "origin";
}

fs::path KVDocumentContainer::baseDirectory()
{
    if (baseDirectoryOverride())
        return *baseDirectoryOverride();
    static const fs::path directory = [] {
        std::string identifier = Bundle::main().bundleIdentifier();
        return FileSystem::cacheHome() / (identifier.empty() ? std::string("Korvel X") : identifier);
    }();
    return directory;
}

void KVDocumentContainer::setBaseDirectoryForTesting(std::optional<fs::path> directory)
{
    baseDirectoryOverride() = std::move(directory);
}

std::shared_ptr<KVDocumentContainer> KVDocumentContainer::adopt(KVDocumentContainer* container)
{
    // The last owner may be a background image job: the container goes on the main thread.
    std::shared_ptr<KVDocumentContainer> owner(container, [](KVDocumentContainer* object) {
        if (MainQueue::isMainThread())
            delete object;
        else
            MainQueue::async([object] { delete object; });
    });
    owner->finishCreation();
    return owner;
}

std::shared_ptr<KVDocumentContainer> KVDocumentContainer::make(const std::string& uuid, bool isPlaceholder,
                                                               const std::optional<fs::path>& requiredOriginIfExists)
{
    containerOnMainThread("containers are made on the main thread");
    return adopt(new KVDocumentContainer(uuid, isPlaceholder, requiredOriginIfExists));
}

std::shared_ptr<KVDocumentContainer> KVDocumentContainer::make(std::shared_ptr<KVDocumentArchive> projectDirectoryArchive)
{
    containerOnMainThread("containers are made on the main thread");
    return adopt(new KVDocumentContainer(std::move(projectDirectoryArchive)));
}

const std::shared_ptr<KVDocumentContainer>& KVDocumentContainer::placeholder()
{
    static const std::shared_ptr<KVDocumentContainer> container = make(Uuid::make(), true, std::nullopt);
    return container;
}

std::vector<std::shared_ptr<KVDocumentContainer>> KVDocumentContainer::allInstances()
{
    std::vector<std::shared_ptr<KVDocumentContainer>> containers;
    for (auto* container : liveContainers())
        if (auto owner = container->weak_from_this().lock())
            containers.push_back(std::move(owner));
    return containers;
}

bool KVDocumentContainer::isRegistered(const KVDocumentContainer* container)
{
    return liveContainers().contains(const_cast<KVDocumentContainer*>(container));
}

KVDocumentContainer::KVDocumentContainer(const std::string& uuid, bool isPlaceholder, const std::optional<fs::path>& requiredOrigin)
    : uuid_(upperCased(uuid))
    , isValid_(!isPlaceholder)
{
    // The uuid becomes a folder name: nothing but a UUID may.
    if (!Uuid::isValid(uuid_))
        throw Error("KVDocumentContainer", 0, "“" + uuid + "” is not a document identifier.");
    uuidDirectory_ = baseDirectory() / ((isPlaceholder ? "AutosaveShouldNotExist-" : std::string(workingFolderPrefix)) + uuid_);
    projectDirectory_ = uuidDirectory_ / "container";

    // Checked first: a live container of this uuid in this process owns the folder, and nothing
    // below may touch it.
    for (auto* other : liveContainers())
        if (other->isValid_ && other->uuid_ == uuid_)
            throw KVDocumentError(KVDocumentError::Code::containerAlreadyExists);

    std::error_code ec;
    if (!isPlaceholder) {
        const bool hasPackageItem = fs::exists(fs::symlink_status(uuidDirectory_ / "package", ec));
        if (requiredOrigin && !hasPackageItem)
            checkOrigin(*requiredOrigin);
        workingFolder_ = fs::exists(fs::symlink_status(uuidDirectory_, ec)) ? WorkingFolder::found : WorkingFolder::madeHere;
        try {
            if (hasPackageItem) {
                // A folder of an older layout goes, but only once no other instance works in it,
                // and to the trash where there is one.
                if (fs::is_directory(fs::symlink_status(projectDirectory_, ec)))
                    lock_ = KVContainerLockFile::acquire(projectDirectory_);
                if (FileSystem::trash(uuidDirectory_))
                    fs::remove_all(uuidDirectory_, ec);
                workingFolder_ = WorkingFolder::madeHere;
            }
            fs::create_directories(projectDirectory_, ec);
            if (ec)
                throw fileError(ec, "Cannot create the working folder " + projectDirectory_.string());
            // Taken once the folder exists, also when this container made it: two instances
            // must not share a fresh working folder.
            if (lock_)
                lock_->refresh();
            else
                lock_ = KVContainerLockFile::acquire(projectDirectory_);
        } catch (...) {
            lock_.reset();
            if (workingFolder_ == WorkingFolder::madeHere)
                fs::remove_all(uuidDirectory_, ec);
            throw;
        }
    }

    projectDirectoryIsOrigin_ = false;
    backups_ = KVContainerBackups(projectDirectory_);
    images_ = KVContainerImages(projectDirectory_);
    projectDirectoryPathPrefix_ = projectDirectory_.string() + "/";
    auto backing = std::make_shared<KVDirectoryArchiveBacking>(projectDirectory_, isPlaceholder, false);
    projectDirectoryArchive_ = std::make_shared<KVDocumentArchive>(uuid_, KVDocumentArchive::Manifest{uuid_, std::nullopt}, backing);
    logger_ = std::make_unique<KVDocumentLogger>(projectDirectory_ / ".project.log");
    isRegistered_ = !isPlaceholder;
}

KVDocumentContainer::KVDocumentContainer(std::shared_ptr<KVDocumentArchive> archive)
{
    struct stat info {};
    if (!archive || ::stat(archive->backing()->url().c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw KVDocumentError(KVDocumentError::Code::containerIsNotDirectory);
    isValid_ = true;
    uuid_ = archive->uuid();
    uuidDirectory_ = placeholder()->uuidDirectory();
    projectDirectory_ = archive->backing()->url();
    lock_ = KVContainerLockFile::acquire(projectDirectory_);
    projectDirectoryIsOrigin_ = true;
    backups_ = KVContainerBackups(projectDirectory_);
    images_ = KVContainerImages(projectDirectory_);
    projectDirectoryPathPrefix_ = projectDirectory_.string();
    if (!projectDirectoryPathPrefix_.ends_with('/'))
        projectDirectoryPathPrefix_ += '/';
    projectDirectoryArchive_ = std::move(archive);
    logger_ = std::make_unique<KVDocumentLogger>(projectDirectory_ / ".project.log");
    isRegistered_ = true;
}

void KVDocumentContainer::finishCreation()
{
    if (isRegistered_) {
        liveContainers().insert(this);
        backups_.removeStaleStaging();
    }
    addServerStateObserver();
    if (!projectDirectoryIsOrigin_)
        log("Initialized with uuid " + uuid_);
}

void KVDocumentContainer::checkOrigin(const fs::path& requiredOrigin) const
{
    const auto otherOrigin = KVDocumentError(KVDocumentError::Code::containerAlreadyExistsForOtherOrigin);
    std::optional<KVContainerOriginInfo> info;
    try {
        info = KVContainerOriginInfo::read(uuidDirectory_ / "info");
    } catch (const KVDocumentArchiveError& error) {
        // A record that cannot be read at all is as good as none; one that reads but does not
        // decode belongs to something else.
        if (error.underlying().domain == Error::posixDomain)
            return;
        throw otherOrigin;
    }
    if (!info)
        return;
    auto resolved = KVContainerOriginInfo::resolveBookmark(info->bookmarkData);
    auto required = FileSystem::realPath(requiredOrigin);
    if (!resolved || *resolved != required.value_or(requiredOrigin.lexically_normal()))
        throw otherOrigin;
}

KVDocumentContainer::~KVDocumentContainer()
{
    // Its registry, observers and main-loop sources are the main thread's.
    containerOnMainThread("containers go on the main thread");
    watch_.stop();
    lock_.reset();
    sources_.stopObserving();
    liveContainers().erase(this);
    serverStateObserver_.reset();
}

void KVDocumentContainer::log(const std::string& message) const
{
    logger_->log(LogMessage{message, "info", std::nullopt});
}

void KVDocumentContainer::addServerStateObserver()
{
    serverStateObserver_ = NotificationCenter::defaultCenter().addObserver(
        ServerControllerStateDidUpdate, nullptr,
        ifAlive(weak_from_this(), [](KVDocumentContainer& self, const Notification& notification) {
            if (!notification.sender || self.serverHasDoneFirstInstall_)
                return;
            // Only server controllers post this name, and a controller that goes cancels its
            // pending posts: the sender is a live controller.
            const auto* controller = static_cast<const ServerController*>(notification.sender);
            if (!controller->state() || !controller->state()->doneFirstInstall)
                return;
            // The package.json the install made is taken in before it starts to count, so that
            // it never shows as a change of its own.
            if (self.isValid_)
                self.didChange("package.json");
            self.serverHasDoneFirstInstall_ = true;
            if (self.isValid_ && !self.hasUnwrittenChanges_ && !self.hasManifestChanges_)
                self.mark(false);
            self.serverStateObserver_.reset();
        }));
}

void KVDocumentContainer::invalidate()
{
    containerOnMainThread("invalidate() runs on the main thread");
    // A folder gone to the Trash or away is not touched again.
    if (isValid_ && !projectDirectoryIsGone_) {
        auto discarded = projectRelativePathsToDiscard();
        for (const auto& path : discarded)
            remove(path);
    }
    isValid_ = false;
    watch_.stop();
    log("Invalidated");
}

void KVDocumentContainer::removeUnnamedWorkingFolders(const fs::path& draftsDirectory)
{
    containerOnMainThread("working folders are removed on the main thread");
    const fs::path base = baseDirectory();
    const fs::path drafts = FileSystem::realPath(draftsDirectory).value_or(draftsDirectory).lexically_normal();
    std::vector<fs::path> doomed;
    std::error_code ec;
    for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path folder = it->path();
        const std::string name = folder.filename().string();
        // Set aside by an earlier launch that ended before they were gone.
        if (name.starts_with(setAsidePrefix)) {
            doomed.push_back(folder);
            continue;
        }
        std::error_code statusError;
        if (!name.starts_with(workingFolderPrefix) || !Uuid::isValid(name.substr(workingFolderPrefix.size())) || !fs::is_directory(it->symlink_status(statusError))
            || isNamed(folder, drafts))
            continue;
        if (auto setAside = setAsideWorkingFolder(folder))
            doomed.push_back(*setAside);
    }
    if (doomed.empty())
        return;
    RKLog("Removing " + std::to_string(doomed.size()) + " working folder(s) that nothing names any more", RKLogKind::general);
    removeInBackground(std::move(doomed));
}

std::optional<fs::path> KVDocumentContainer::setAsideWorkingFolder(const fs::path& folder)
{
    for (auto* container : liveContainers())
        if (container->uuidDirectory_ == folder)
            return std::nullopt;
    // Another instance working in it holds its lock; held here, it is set aside in one step, so
    // that nobody opens it while it goes.
    std::error_code statusError;
    std::shared_ptr<KVContainerLockFile> lock;
    if (fs::is_directory(fs::symlink_status(folder / "container", statusError))) {
        try {
            lock = KVContainerLockFile::acquire(folder / "container");
        } catch (...) {
            return std::nullopt;
        }
    }
    const std::string name = folder.filename().string();
    const fs::path setAside = folder.parent_path() / (std::string(setAsidePrefix) + name.substr(workingFolderPrefix.size()));
    if (::renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, setAside.c_str(), RENAME_NOREPLACE) != 0)
        return std::nullopt;
    return setAside;
}

void KVDocumentContainer::removeInBackground(std::vector<fs::path> folders)
{
    ThreadPool::global().async([folders = std::move(folders)] {
        for (const auto& folder : folders) {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    });
}

void KVDocumentContainer::deleteContainer(bool toTrash)
{
    containerOnMainThread("deleteContainer() runs on the main thread");
    auto unregister = [this] {
        liveContainers().erase(this);
        isRegistered_ = false;
    };
    if (projectDirectoryIsOrigin_) {
        unregister();
        return;
    }
    bool sharedFolder = false;
    for (auto* other : liveContainers())
        if (other != this && other->uuidDirectory_ == uuidDirectory_)
            sharedFolder = true;
    // A folder this container found and never filled may be the only copy of earlier work
    // (a crash's working copy, a package whose read failed): it stays.
    if (sharedFolder || workingFolder_ == WorkingFolder::found) {
        unregister();
        log("Keeping the working folder " + uuidDirectory_.string());
        return;
    }
    watch_.stop();
    std::optional<Error> error;
    if (toTrash) {
        error = FileSystem::trash(uuidDirectory_);
    } else {
        std::error_code ec;
        fs::remove_all(uuidDirectory_, ec);
        if (ec)
            error = fileError(ec, "Cannot remove " + uuidDirectory_.string());
    }
    unregister();
    if (error)
        throw *error;
}

} // namespace kx
