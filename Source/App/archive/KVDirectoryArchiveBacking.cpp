#include "App/archive/KVDirectoryArchiveBacking.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVFileDataReader.h"
#include "App/archive/KVSaveStaging.h"
#include "App/archive/KVStagedFolder.h"
#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace fs = std::filesystem;
using Clock = DateFormat::Clock;

namespace {

void writeAll(int fd, std::span<const std::byte> bytes, const fs::path& path)
{
    if (const int failure = kx::writeAll(fd, bytes.data(), bytes.size()))
        KVDocumentArchiveError::throwErrno(failure, "Cannot write " + path.string());
}

// The whole new version is staged before the old one goes: it must fit beside it.
void checkFreeSpace(const fs::path& folder, std::uint64_t needed, const fs::path& target)
{
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0)
        return;
    std::uint64_t available = std::uint64_t(info.f_bavail) * info.f_frsize;
    if (needed <= available)
        return;
    auto megabytes = [](std::uint64_t bytes) { return std::to_string((bytes + 999'999) / 1'000'000) + " MB"; };
    throw KVDocumentArchiveError::unknown(Error(
        KVDocumentArchiveError::domain, static_cast<int>(KVDocumentArchiveError::Code::unknown),
        "The project “" + KVArchivePath::displayName(target.filename().string()) + "” can’t be saved because the disk is too full.",
        "The project needs " + megabytes(needed) + "; " + megabytes(available) + " are available.",
        "Free some space on the disk and save again."));
}

} // namespace

KVDirectoryArchiveBacking::KVDirectoryArchiveBacking(fs::path directory, bool assumeExists, bool writesManifest)
    : url_(std::move(directory))
    , writesManifest_(writesManifest)
{
    if (assumeExists)
        return;
    KVSaveStaging::recover(KVSaveStaging::resolve(url_));
    struct stat info {};
    if (::stat(url_.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw KVDocumentArchiveError::notFound(url_.string());
        KVDocumentArchiveError::throwErrno(errno, "Cannot open " + url_.string());
    }
    if (!S_ISDIR(info.st_mode))
        throw KVDocumentArchiveError::invalidBacking(url_.string(), "The project is not a folder.");
}

std::shared_ptr<KVDirectoryArchiveBacking> KVDirectoryArchiveBacking::create(fs::path directory, bool writesManifest)
{
    const fs::path target = KVSaveStaging::resolve(directory);
    KVSaveStaging::recover(target);
    std::error_code ec;
    if (target.has_parent_path())
        fs::create_directories(target.parent_path(), ec);
    if (ec)
        KVDocumentArchiveError::throwErrno(ec.value(), "Cannot create " + directory.string());
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0)
        return std::make_shared<KVDirectoryArchiveBacking>(std::move(directory), false, writesManifest);
    auto backing = std::make_shared<KVDirectoryArchiveBacking>(std::move(directory), true, writesManifest);
    backing->readsMissingAsEmpty_ = true;
    return backing;
}

bool KVDirectoryArchiveBacking::isMissingAndEmpty() const
{
    struct stat info {};
    return readsMissingAsEmpty_ && ::stat(url_.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

std::shared_ptr<KVDocumentArchiveBacking> KVDirectoryArchiveBacking::moved(const fs::path& to) const
{
    return std::make_shared<KVDirectoryArchiveBacking>(to, true, writesManifest_);
}

std::unique_ptr<KVDataReader> KVDirectoryArchiveBacking::dataReader(const std::string& relativePath) const
{
    if (!KVArchivePath::isSafeRelativePath(relativePath) || relativePath.back() == '/' || isMissingAndEmpty())
        throw KVDocumentArchiveError::notFound(relativePath);
    return std::make_unique<KVFileDataReader>(url_, relativePath);
}

std::vector<std::string> KVDirectoryArchiveBacking::includedFiles(std::vector<std::string>* folders) const
{
    std::vector<std::string> files;
    if (isMissingAndEmpty())
        return files;
    std::error_code ec;
    fs::recursive_directory_iterator walk(url_, fs::directory_options::none, ec);
    for (; !ec && walk != fs::recursive_directory_iterator(); walk.increment(ec)) {
        std::string path = walk->path().lexically_relative(url_).generic_string();
        // Hidden items are never looked at (nor entered): other programs' temporary files
        // come and go there, and one gone by now must not fail the walk.
        if (!KVDocumentArchive::shouldInclude(path) && !KVDocumentArchive::shouldInclude(path + "/_")) {
            walk.disable_recursion_pending();
            continue;
        }
        auto status = walk->symlink_status(ec);
        if (ec == std::errc::no_such_file_or_directory) {
            // Removed since the folder was read: it is not part of the package.
            ec.clear();
            walk.disable_recursion_pending();
            continue;
        }
        if (ec)
            break;
        if (fs::is_directory(status)) {
            // A folder none of whose files could be included is not entered (".cache").
            if (!KVDocumentArchive::shouldInclude(path + "/_"))
                walk.disable_recursion_pending();
            else if (folders)
                folders->push_back(path);
        } else if (fs::is_regular_file(status) && KVDocumentArchive::shouldInclude(path)) {
            if (!KVArchivePath::isSafeRelativePath(path))
                throw KVDocumentArchiveError::unknown(KVArchivePath::unstorableNameError(path));
            files.push_back(std::move(path));
        }
    }
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory && !fs::exists(url_))
            throw KVDocumentArchiveError::notFound(url_.string());
        KVDocumentArchiveError::throwErrno(ec.value(), "Cannot list " + url_.string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void KVDirectoryArchiveBacking::forEach(const Body& body) const
{
    for (const auto& path : includedFiles()) {
        KVFileDataReader reader(url_, path);
        body(path, reader);
    }
}

void KVDirectoryArchiveBacking::forEachConcurrently(const Body& body) const
{
    auto files = includedFiles();
    ThreadPool::bulk().forEachIndex(files.size(), [&](std::size_t index) {
        KVFileDataReader reader(url_, files[index]);
        body(files[index], reader);
    });
}

void KVDirectoryArchiveBacking::reflect(const KVDocumentArchive& contentsOf, const KVDocumentArchiveManifest& updating,
                                        KVDocumentArchiveManifest& updatedManifest)
{
    const fs::path target = KVSaveStaging::resolve(url_);
    KVSaveStaging::recover(target);
    // Every name, the manifest's length and the space needed are checked before anything is written.
    auto source = contentsOf.backing();
    std::vector<std::string> paths;
    std::uint64_t bytes = 0, manifestLength = 0;
    source->forEach([&](const std::string& path, KVDataReader& reader) {
        if (!KVArchivePath::isSafeRelativePath(path) || path.back() == '/')
            throw KVDocumentArchiveError::invalidBacking(source->url().string(), "The file name “" + KVArchivePath::displayName(path)
                                                                                     + "” leads outside the project.");
        bytes += reader.expectedSize().value_or(0);
        manifestLength += KVDocumentArchive::manifestLengthPerFile(path);
        paths.push_back(path);
    });
    if (writesManifest_)
        KVDocumentArchive::checkManifestLength(manifestLength, target);
    checkFreeSpace(target.has_parent_path() ? target.parent_path() : fs::path("."), bytes, target);

    KVSaveStaging staging(target, KVSaveStaging::Kind::folder);
    KVStagedFolder folder(staging.fileDescriptor(), target);
    KVDocumentArchiveManifest written{updating.uuid, KVDocumentArchiveManifest::Files()};
    // Files are read (a zip's inflated and checked) and written on every processor; the first
    // failure stops the others, and the staged folder goes with it.
    std::vector<KVDocumentArchiveManifest::Entry> entries(paths.size());
    ThreadPool::bulk().forEachIndex(paths.size(), [&](std::size_t index) {
        const auto& path = paths[index];
        auto reader = source->dataReader(path);
        folder.write(path, [&](int fd) {
            entries[index] = KVDocumentArchiveManifest::Entry(*reader, [&](std::span<const std::byte> chunk) { writeAll(fd, chunk, target / path); });
        });
    });
    for (std::size_t index = 0; index < paths.size(); ++index)
        written.files->insert_or_assign(paths[index], std::move(entries[index]));
    if (writesManifest_) {
        std::string text = KVDocumentArchive::manifestText(written, target);
        folder.write(std::string(KVDocumentArchive::relativePathForManifest), [&](int fd) {
            writeAll(fd, std::as_bytes(std::span(text.data(), text.size())), target / KVDocumentArchive::relativePathForManifest);
        });
    }
    folder.carryOver();
    // Everything staged reaches the disk before any name switches to it.
    folder.flush();
    try {
        staging.commit();
    } catch (const KVDocumentArchiveError& error) {
        if (error.newVersionInPlace())
            updatedManifest = std::move(written);
        throw;
    }
    updatedManifest = std::move(written);
}

std::optional<Clock::time_point> KVDirectoryArchiveBacking::contentModificationDate() const
{
    std::vector<std::string> folders;
    std::vector<std::string> files;
    try {
        files = includedFiles(&folders);
    } catch (const KVDocumentArchiveError&) {
        return std::nullopt;
    }
    files.insert(files.end(), folders.begin(), folders.end());
    files.push_back(".");
    std::optional<Clock::time_point> latest;
    for (const auto& path : files) {
        struct stat info {};
        if (::lstat((url_ / path).c_str(), &info) == 0) {
            auto time = timeOf(info.st_mtim);
            if (!latest || time > *latest)
                latest = time;
        }
    }
    return latest;
}

} // namespace kx
