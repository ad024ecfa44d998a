#include "App/archive/KVDocumentArchive.h"

#include <mutex>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDirectoryArchiveBacking.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVDocumentArchiveManifestReader.h"
#include "App/archive/KVFilteredArchiveBacking.h"
#include "App/archive/KVZipArchiveBacking.h"
#include "Platform/Foundation/Uuid.h"

namespace kx {

namespace fs = std::filesystem;

KVDocumentArchive::KVDocumentArchive(const fs::path& url, const std::string& type, bool createIfNeeded,
                                     const std::optional<std::string>& uuidIfNeeded, bool writesManifest)
{
    std::error_code ec;
    auto status = fs::status(url, ec);
    bool exists = fs::exists(status);
    bool isDirectory = fs::is_directory(status);

    if (type == KVDirectoryArchiveBacking::typeIdentifier || (type != KVZipArchiveBacking::typeIdentifier && isDirectory)) {
        if (createIfNeeded && !exists)
            backing_ = KVDirectoryArchiveBacking::create(url, writesManifest);
        else
            backing_ = std::make_shared<KVDirectoryArchiveBacking>(url, false, writesManifest);
    } else if (type == KVZipArchiveBacking::typeIdentifier || type == tutorialTypeIdentifier || exists) {
        backing_ = std::make_shared<KVZipArchiveBacking>(url, createIfNeeded, writesManifest);
    } else {
        throw KVDocumentArchiveError::unsupportedBacking(type);
    }
    readManifest(uuidIfNeeded, true);
}

KVDocumentArchive::KVDocumentArchive(std::shared_ptr<KVDocumentArchiveBacking> backing,
                                     const std::optional<std::string>& uuidIfNeeded)
    : backing_(std::move(backing))
{
    readManifest(uuidIfNeeded, false);
}

KVDocumentArchive::KVDocumentArchive(const KVDocumentArchive& archive, Filter filter, Contents replacing)
    : uuid_(archive.uuid_)
    , manifest_(archive.manifest_)
{
    if (manifest_ && manifest_->files) {
        std::erase_if(*manifest_->files, [&](const auto& item) { return !filter(item.first); });
        for (const auto& [path, content] : replacing)
            if (filter(path) && shouldInclude(path))
                manifest_->files->insert_or_assign(path, Manifest::Entry::of(std::as_bytes(std::span(content->data(), content->size()))));
    }
    backing_ = std::make_shared<KVFilteredArchiveBacking>(archive.backing_, std::move(filter), std::move(replacing));
}

KVDocumentArchive::KVDocumentArchive(std::string uuid, std::optional<Manifest> manifest,
                                     std::shared_ptr<KVDocumentArchiveBacking> backing)
    : uuid_(std::move(uuid))
    , manifest_(std::move(manifest))
    , backing_(std::move(backing))
{
}

void KVDocumentArchive::readManifest(const std::optional<std::string>& uuidIfNeeded, bool alwaysHasManifest)
{
    try {
        auto reader = backing_->dataReader(std::string(relativePathForManifest));
        KVDocumentArchiveManifestReader manifestReader(*reader, maximumManifestLength, manifestFilesWithoutCount, [this] {
            std::uint64_t held = 0;
            backing_->forEach([&](const std::string&, KVDataReader&) { ++held; });
            return held;
        });
        manifest_ = manifestReader.read();
    } catch (const KVDocumentArchiveError& error) {
        if (error.code() != KVDocumentArchiveError::Code::notFound)
            throw;
        if (uuidIfNeeded || alwaysHasManifest)
            manifest_ = Manifest{uuidIfNeeded.value_or(Uuid::make()), std::nullopt};
    }
    uuid_ = manifest_ ? manifest_->uuid : Uuid::make();
}

void KVDocumentArchive::reflect(const KVDocumentArchive& contentsOf)
{
    Manifest updating = manifest_.value_or(Manifest{uuid_, std::nullopt});
    Manifest written;
    try {
        backing_->reflect(contentsOf, updating, written);
    } catch (const KVDocumentArchiveError& error) {
        if (error.newVersionInPlace() && !written.uuid.empty()) {
            manifest_ = std::move(written);
            uuid_ = manifest_->uuid;
        }
        throw;
    }
    manifest_ = std::move(written);
    uuid_ = manifest_->uuid;
}

void KVDocumentArchive::regenerateManifest()
{
    Manifest::Files files;
    std::mutex mutex;
    backing_->forEachConcurrently([&](const std::string& path, KVDataReader& reader) {
        Manifest::Entry entry(reader);
        std::lock_guard lock(mutex);
        files.emplace(path, std::move(entry));
    });
    manifest_ = Manifest{uuid_, std::move(files)};
}

std::optional<KVDocumentArchive::Clock::time_point> KVDocumentArchive::contentModificationDate() const
{
    return backing_->contentModificationDate();
}

const KVArchiveDecoder& KVDocumentArchive::decoder()
{
    static const KVArchiveDecoder decoder;
    return decoder;
}

std::string KVDocumentArchive::encode(const nlohmann::json& value)
{
    // nlohmann's objects keep their keys sorted.
    return value.dump(2);
}

nlohmann::json KVDocumentArchive::encodeDate(Clock::time_point date)
{
    return DateFormat::iso8601(date);
}

bool KVDocumentArchive::shouldInclude(std::string_view path)
{
    if (path.empty() || path == relativePathForManifest)
        return false;
    // Backups travel with the project; other hidden files (caches, lock, log) stay behind.
    if (path.size() > relativePathForBackups.size() && path.starts_with(relativePathForBackups)
        && path[relativePathForBackups.size()] == '/')
        return true;
    return path.front() != '.' && path.find("/.") == std::string_view::npos;
}

std::string KVDocumentArchive::manifestText(const Manifest& manifest, const fs::path& target)
{
    std::string text = encode(manifest.toJSON());
    checkManifestLength(text.size(), target);
    return text;
}

std::uint64_t KVDocumentArchive::manifestLengthPerFile(std::string_view relativePath)
{
    // Pretty printed: the name line, the 28 characters of a SHA-1 in Base64 and the size, with
    // their keys and indentation.
    return relativePath.size() + 78;
}

void KVDocumentArchive::checkManifestLength(std::uint64_t length, const fs::path& target)
{
    if (length <= maximumManifestLength)
        return;
    throw KVDocumentArchiveError::unknown(Error(
        KVDocumentArchiveError::domain, static_cast<int>(KVDocumentArchiveError::Code::unknown),
        "The project “" + KVArchivePath::displayName(target.filename().string()) + "” can’t be saved because it has too many files.",
        "Its list of files would take more than " + std::to_string(maximumManifestLength >> 20)
            + " MB, more than a project can open again; that is about 100,000 files with names of ordinary length.",
        "Remove files from the project, or shorten long folder and file names, and save again."));
}

const std::set<std::string>& KVDocumentArchive::relativePathsIgnoredForManifest()
{
    static const std::set<std::string> paths = {std::string(relativePathForManifest)};
    return paths;
}

} // namespace kx
