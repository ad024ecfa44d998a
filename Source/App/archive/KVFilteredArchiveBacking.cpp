#include "App/archive/KVFilteredArchiveBacking.h"

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"

namespace kx {

KVFilteredArchiveBacking::KVFilteredArchiveBacking(std::shared_ptr<KVDocumentArchiveBacking> base, Filter filter, Contents replacing)
    : base_(std::move(base))
    , filter_(std::move(filter))
    , replacing_(std::move(replacing))
{
}

std::shared_ptr<KVDocumentArchiveBacking> KVFilteredArchiveBacking::moved(const std::filesystem::path& to) const
{
    return std::make_shared<KVFilteredArchiveBacking>(base_->moved(to), filter_, replacing_);
}

std::unique_ptr<KVDataReader> KVFilteredArchiveBacking::dataReader(const std::string& relativePath) const
{
    if (!filter_(relativePath))
        throw KVDocumentArchiveError::notFound(relativePath);
    if (auto given = replacing_.find(relativePath); given != replacing_.end())
        return std::make_unique<KVMemoryDataReader>(given->second);
    return base_->dataReader(relativePath);
}

void KVFilteredArchiveBacking::forEachReplaced(const Body& body) const
{
    for (const auto& [path, content] : replacing_) {
        if (!filter_(path) || !KVDocumentArchive::shouldInclude(path))
            continue;
        KVMemoryDataReader reader(content);
        body(path, reader);
    }
}

void KVFilteredArchiveBacking::forEach(const Body& body) const
{
    base_->forEach([&](const std::string& path, KVDataReader& reader) {
        if (filter_(path) && !isReplaced(path))
            body(path, reader);
    });
    forEachReplaced(body);
}

void KVFilteredArchiveBacking::forEachConcurrently(const Body& body) const
{
    base_->forEachConcurrently([&](const std::string& path, KVDataReader& reader) {
        if (filter_(path) && !isReplaced(path))
            body(path, reader);
    });
    forEachReplaced(body);
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
