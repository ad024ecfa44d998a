// Timed zip backups of the document JSON and the code files, in the project's ".backups".
#include "App/documents/container/KVDocumentContainer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <unistd.h>

#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVZipArchiveBacking.h"
#include "App/documents/container/KVContainerFiles.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace fs = std::filesystem;
using Clock = kx::DateFormat::Clock;

namespace {

constexpr std::string_view backupPattern = "yyyy'-'MM'-'dd' 'HH'.'mm'.'ss";
constexpr auto backupInterval = std::chrono::seconds(60);
// Hidden, so no archive and no save ever looks into it.
const std::string backupStagingFolder = ".cache/backups";

bool isBackedUp(const std::string& path)
{
    return path == KVDocumentArchive::relativePathForDocumentJSON || path.starts_with(KVDocumentArchive::relativePathForCode);
}

// Writes the zip and keeps the newest backups; the error's text, if any. The zip is made in a
// hidden folder and renamed into ".backups" whole: a save walking the project meanwhile (every
// file under ".backups" travels with it) never meets a half-written backup.
std::optional<std::string> writeBackup(const std::shared_ptr<KVDocumentArchive>& view, const fs::path& folder, const fs::path& file)
{
    const fs::path project = folder.parent_path();
    if (auto error = KVContainerFiles::makeFolders(project, folder.filename().string()))
        return error->localizedDescription;
    if (auto error = KVContainerFiles::makeFolders(project, backupStagingFolder))
        return error->localizedDescription;
    std::string staging = (project / backupStagingFolder / "XXXXXX").string();
    if (!::mkdtemp(staging.data()))
        return kx::Error::fromErrno(errno, "Cannot create a folder in " + (project / backupStagingFolder).string()).localizedDescription;
    std::optional<std::string> failure;
    try {
        const fs::path staged = fs::path(staging) / file.filename();
        auto backing = std::make_shared<KVZipArchiveBacking>(staged, true, false);
        KVDocumentArchive archive(backing, std::nullopt);
        archive.reflect(*view);
        if (::rename(staged.c_str(), file.c_str()) != 0)
            failure = kx::Error::fromErrno(errno, "Cannot write " + file.string()).localizedDescription;
    } catch (const KVDocumentArchiveError& error) {
        failure = error.error().localizedDescription;
    } catch (const std::exception& error) {
        failure = std::string(error.what());
    }
    std::error_code ec;
    fs::remove_all(staging, ec);
    if (failure)
        return failure;

    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return kx::Error::fromErrno(errno, "Cannot list " + folder.string()).localizedDescription;
    std::vector<std::string> items;
    while (auto* item = ::readdir(listing))
        if (item->d_name[0] != '.')
            items.emplace_back(item->d_name);
    ::closedir(listing);
    if (items.size() <= static_cast<size_t>(KVDocumentContainer::maximumBackups))
        return std::nullopt;
    auto dateOf = [](const std::string& name) {
        auto dot = name.rfind('.');
        return kx::DateFormat::parse(dot == std::string::npos ? name : name.substr(0, dot), backupPattern, kx::DateFormat::Zone::local);
    };
    // Newest first; names that are not dates after every dated one.
    std::stable_sort(items.begin(), items.end(), [&](const std::string& a, const std::string& b) {
        auto dateA = dateOf(a), dateB = dateOf(b);
        if (dateA && dateB)
            return *dateA > *dateB;
        return dateA.has_value() && !dateB.has_value();
    });
    for (size_t index = KVDocumentContainer::maximumBackups; index < items.size(); ++index) {
        const fs::path item = folder / items[index];
        if (item.extension() == ".zip" && item != file)
            ::unlink(item.c_str());
    }
    return std::nullopt;
}

} // namespace

std::string KVDocumentContainer::backupName(Clock::time_point date)
{
    return kx::DateFormat::format(date, backupPattern, kx::DateFormat::Zone::local);
}

void KVDocumentContainer::scheduleBackup()
{
    if (!isValid_)
        return;
    std::weak_ptr<KVDocumentContainer> weak = weak_from_this();
    kx::MainQueue::after(std::chrono::duration_cast<std::chrono::milliseconds>(backupInterval), [weak] {
        if (auto self = weak.lock(); self && self->isValid_)
            self->backup();
    });
}

void KVDocumentContainer::backup(std::function<void()> completion)
{
    const fs::path folder = projectDirectory_ / KVDocumentArchive::relativePathForBackups;
    writeChanges([self = shared_from_this(), folder, completion = std::move(completion)](std::optional<KVDocumentError>) mutable {
        auto view = std::make_shared<KVDocumentArchive>(*self->projectDirectoryArchive_, [](const std::string& path) { return isBackedUp(path); });
        ManifestEntries state;
        try {
            view->backing()->forEach([&](const std::string& path, KVDataReader&) {
                auto entry = self->projectManifestEntries_.find(path);
                state.emplace(path, entry != self->projectManifestEntries_.end() ? entry->second : KVDocumentArchive::Manifest::Entry::unknown());
            });
        } catch (const std::exception& error) {
            self->log(std::string("Couldn’t back up: ") + error.what());
        }
        if (state == self->lastBackupManifestEntries_) {
            self->scheduleBackup();
            if (completion)
                completion();
            return;
        }
        const fs::path file = folder / (backupName(Clock::now()) + ".zip");
        self->log("Backing up to " + file.string());
        // Recorded now, also for a failed attempt: an unchanged project is not tried again.
        self->lastBackupManifestEntries_ = std::move(state);
        // The zip is written off the main loop; the outcome comes back to it.
        kx::ThreadPool::global().async([self = std::move(self), view, folder, file, completion = std::move(completion)]() mutable {
            auto error = writeBackup(view, folder, file);
            kx::MainQueue::async([self = std::move(self), error, completion = std::move(completion)] {
                if (error)
                    self->log("Couldn’t back up: " + *error);
                self->scheduleBackup();
                if (completion)
                    completion();
            });
        });
    });
}
