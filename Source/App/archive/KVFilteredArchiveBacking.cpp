#include "App/archive/KVFilteredArchiveBacking.h"

#include "App/archive/KVDocumentArchiveError.h"

namespace kx {

KVFilteredArchiveBacking::KVFilteredArchiveBacking(std::shared_ptr<KVDocumentArchiveBacking> base, Filter filter)
    : base_(std::move(base))
    , filter_(std::move(filter))
{
}

std::shared_ptr<KVDocumentArchiveBacking> KVFilteredArchiveBacking::moved(const std::filesystem::path& to) const
{
    return std::make_shared<KVFilteredArchiveBacking>(base_->moved(to), filter_);
}

std::unique_ptr<KVDataReader> KVFilteredArchiveBacking::dataReader(const std::string& relativePath) const
{
    if (!filter_(relativePath))
        throw KVDocumentArchiveError::notFound(relativePath);
    return base_->dataReader(relativePath);
}

void KVFilteredArchiveBacking::forEach(const Body& body) const
{
    base_->forEach([&](const std::string& path, KVDataReader& reader) {
        if (filter_(path))
            body(path, reader);
    });
}

void KVFilteredArchiveBacking::forEachConcurrently(const Body& body) const
{
    base_->forEachConcurrently([&](const std::string& path, KVDataReader& reader) {
        if (filter_(path))
            body(path, reader);
    });
}

void KVFilteredArchiveBacking::reflect(const KVDocumentArchive&, const KVDocumentArchiveManifest&, KVDocumentArchiveManifest&)
{
    throw KVDocumentArchiveError::unsupportedBacking("filtered view of " + base_->documentTypeIdentifier());
}

std::optional<DateFormat::Clock::time_point> KVFilteredArchiveBacking::contentModificationDate() const
{
    return base_->contentModificationDate();
}

} // namespace kx
