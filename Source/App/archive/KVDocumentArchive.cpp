#include "App/archive/KVDocumentArchive.h"

#include "App/archive/KVDirectoryArchiveBacking.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVFilteredArchiveBacking.h"
#include "App/archive/KVZipArchiveBacking.h"
#include "Platform/Foundation/Uuid.h"

namespace fs = std::filesystem;

namespace {

// A manifest lists a few thousand files; anything far larger is not one.
constexpr size_t maximumManifestLength = 64 << 20;

std::string readManifestText(KVDataReader& reader)
{
    std::string text;
    for (auto chunk = reader.read(); !chunk.empty(); chunk = reader.read()) {
        if (text.size() + chunk.size() > maximumManifestLength)
            throw KVArchiveDecoder::corrupt("The manifest is too large.");
        text.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    }
    return text;
}

} // namespace

KVDocumentArchive::KVDocumentArchive(const fs::path& url, const std::string& type, bool createIfNeeded,
                                     const std::optional<std::string>& uuidIfNeeded, bool writesManifest)
{
    std::error_code ec;
    auto status = fs::status(url, ec);
    bool exists = fs::exists(status);
    bool isDirectory = fs::is_directory(status);

    if (type == KVDirectoryArchiveBacking::typeIdentifier || (type != KVZipArchiveBacking::typeIdentifier && isDirectory)) {
        if (createIfNeeded && !exists) {
            fs::create_directories(url, ec);
            if (ec)
                throw KVDocumentArchiveError::unknown(kx::Error::fromErrno(ec.value(), "Cannot create " + url.string()));
        }
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

KVDocumentArchive::KVDocumentArchive(const KVDocumentArchive& archive, Filter filter)
    : uuid_(archive.uuid_)
    , manifest_(archive.manifest_)
    , backing_(std::make_shared<KVFilteredArchiveBacking>(archive.backing_, filter))
{
    if (manifest_ && manifest_->files)
        std::erase_if(*manifest_->files, [&](const auto& item) { return !filter(item.first); });
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
        manifest_ = Manifest::fromJSON(decoder().parse(readManifestText(*reader)));
    } catch (const KVDocumentArchiveError& error) {
        if (error.code() != KVDocumentArchiveError::Code::notFound)
            throw;
        if (uuidIfNeeded || alwaysHasManifest)
            manifest_ = Manifest{uuidIfNeeded.value_or(kx::Uuid::make()), std::nullopt};
    }
    uuid_ = manifest_ ? manifest_->uuid : kx::Uuid::make();
}

void KVDocumentArchive::reflect(const KVDocumentArchive& contentsOf)
{
    Manifest updating = manifest_.value_or(Manifest{uuid_, std::nullopt});
    Manifest written;
    backing_->reflect(contentsOf, updating, written);
    manifest_ = std::move(written);
    uuid_ = manifest_->uuid;
}

void KVDocumentArchive::regenerateManifest()
{
    Manifest::Files files;
    backing_->forEach([&](const std::string& path, KVDataReader& reader) { files.emplace(path, Manifest::Entry(reader)); });
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
    return kx::DateFormat::iso8601(date);
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

const std::set<std::string>& KVDocumentArchive::relativePathsIgnoredForManifest()
{
    static const std::set<std::string> paths = {std::string(relativePathForManifest)};
    return paths;
}
