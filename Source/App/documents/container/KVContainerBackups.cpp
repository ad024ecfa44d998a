// The timed zip backups of a project folder.
#include "App/documents/container/KVContainerBackups.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <variant>

#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVZipArchiveBacking.h"
#include "App/documents/container/KVContainerFiles.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace fs = std::filesystem;
using Clock = DateFormat::Clock;

namespace {

constexpr std::string_view backupPattern = "yyyy'-'MM'-'dd' 'HH'.'mm'.'ss";
constexpr auto backupInterval = std::chrono::seconds(60);
std::optional<std::chrono::milliseconds> backupIntervalOverride;
// Hidden, so no archive and no save ever looks into it.
const std::string backupStagingFolder = ".cache/backups";

bool isBackedUp(const std::string& path)
{
    return path == KVDocumentArchive::relativePathForDocumentJSON || path.starts_with(KVDocumentArchive::relativePathForCode);
}

// Moves the staged zip into `folder` under the first free name from `date` on: a backup never
// replaces another (two within one second, say), and a later one takes the next second, so that
// names stay dates in the order the backups were made. The name it got, or the error's text.
std::variant<fs::path, std::string> placeBackup(const fs::path& staged, const fs::path& folder, Clock::time_point date)
{
    for (int attempt = 0; attempt < 120; ++attempt, date += std::chrono::seconds(1)) {
        const fs::path file = folder / (KVContainerBackups::backupName(date) + ".zip");
        if (::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, file.c_str(), RENAME_NOREPLACE) == 0)
            return file;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return Error::fromErrno(errno, "Cannot write " + file.string()).localizedDescription;
        // A file system without the no-replace rename: a hard link fails the same way on a name
        // that is taken.
        if (::link(staged.c_str(), file.c_str()) == 0) {
            ::unlink(staged.c_str());
            return file;
        }
        if (errno != EEXIST)
            return Error::fromErrno(errno, "Cannot write " + file.string()).localizedDescription;
    }
    return "Cannot write a backup into " + folder.string() + ": every name of the next two minutes is taken";
}

// Writes the zip and keeps the newest backups; the error's text, if any. The zip is made in a
// hidden folder and renamed into ".backups" whole: a save walking the project meanwhile (every
// file under ".backups" travels with it) never meets a half-written backup.
std::optional<std::string> writeBackup(const std::shared_ptr<KVDocumentArchive>& view, const fs::path& folder, Clock::time_point date)
{
    const fs::path project = folder.parent_path();
    if (auto error = KVContainerFiles::makeFolders(project, folder.filename().string()))
        return error->localizedDescription;
    if (auto error = KVContainerFiles::makeFolders(project, backupStagingFolder))
        return error->localizedDescription;
    std::string staging = (project / backupStagingFolder / "XXXXXX").string();
    if (!::mkdtemp(staging.data()))
        return Error::fromErrno(errno, "Cannot create a folder in " + (project / backupStagingFolder).string()).localizedDescription;
    std::optional<std::string> failure;
    fs::path file;
    try {
        const fs::path staged = fs::path(staging) / "backup.zip";
        auto backing = std::make_shared<KVZipArchiveBacking>(staged, true, false);
        KVDocumentArchive archive(backing, std::nullopt);
        archive.reflect(*view);
        auto placed = placeBackup(staged, folder, date);
        if (auto* error = std::get_if<std::string>(&placed))
            failure = *error;
        else
            file = std::get<fs::path>(placed);
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
        return Error::fromErrno(errno, "Cannot list " + folder.string()).localizedDescription;
    std::vector<std::string> items;
    while (auto* item = ::readdir(listing))
        if (item->d_name[0] != '.')
            items.emplace_back(item->d_name);
    ::closedir(listing);
    if (items.size() <= static_cast<size_t>(KVContainerBackups::maximumBackups))
        return std::nullopt;
    auto dateOf = [](const std::string& name) {
        auto dot = name.rfind('.');
        return DateFormat::parse(dot == std::string::npos ? name : name.substr(0, dot), backupPattern, DateFormat::Zone::local);
    };
    // Newest first; names that are not dates after every dated one.
    std::stable_sort(items.begin(), items.end(), [&](const std::string& a, const std::string& b) {
        auto dateA = dateOf(a), dateB = dateOf(b);
        if (dateA && dateB)
            return *dateA > *dateB;
        return dateA.has_value() && !dateB.has_value();
    });
    for (size_t index = KVContainerBackups::maximumBackups; index < items.size(); ++index) {
        const fs::path item = folder / items[index];
        if (item.extension() == ".zip" && item != file)
            ::unlink(item.c_str());
    }
    return std::nullopt;
}

} // namespace

KVContainerBackups::KVContainerBackups(fs::path projectDirectory)
    : projectDirectory_(std::move(projectDirectory))
{
}

std::string KVContainerBackups::backupName(Clock::time_point date)
{
    return DateFormat::format(date, backupPattern, DateFormat::Zone::local);
}

std::chrono::milliseconds KVContainerBackups::interval()
{
    return backupIntervalOverride.value_or(std::chrono::duration_cast<std::chrono::milliseconds>(backupInterval));
}

void KVContainerBackups::setIntervalForTesting(std::optional<std::chrono::milliseconds> interval)
{
    backupIntervalOverride = interval;
}

void KVContainerBackups::removeStaleStaging() const
{
    std::error_code ec;
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(10);
    for (const auto& item : fs::directory_iterator(projectDirectory_ / backupStagingFolder, ec))
        if (item.last_write_time(ec) < old && !ec)
            fs::remove_all(item.path(), ec);
}

fs::path KVContainerBackups::folder() const
{
    return projectDirectory_ / KVDocumentArchive::relativePathForBackups;
}

std::shared_ptr<KVDocumentArchive> KVContainerBackups::view(const KVDocumentArchive& project)
{
    return std::make_shared<KVDocumentArchive>(project, [](const std::string& path) { return isBackedUp(path); });
}

void KVContainerBackups::list(std::shared_ptr<KVDocumentArchive> view, std::function<void(Listing)> done)
{
    ThreadPool::global().async([view = std::move(view), done = std::move(done)]() mutable {
        Listing listing;
        try {
            view->backing()->forEach([&](const std::string& path, KVDataReader&) { listing.paths.push_back(path); });
        } catch (const std::exception& error) {
            listing.error = error.what();
        }
        MainQueue::async([listing = std::move(listing), done = std::move(done)]() mutable { done(std::move(listing)); });
    });
}

bool KVContainerBackups::recordAttempt(ManifestEntries state)
{
    if (state == lastBackupManifestEntries_)
        return false;
    lastBackupManifestEntries_ = std::move(state);
    return true;
}

void KVContainerBackups::write(std::shared_ptr<KVDocumentArchive> view, Clock::time_point date, Done done) const
{
    ThreadPool::global().async([view = std::move(view), folder = folder(), date, done = std::move(done)]() mutable {
        auto error = writeBackup(view, folder, date);
        MainQueue::async([error = std::move(error), done = std::move(done)] { done(error); });
    });
}

} // namespace kx
