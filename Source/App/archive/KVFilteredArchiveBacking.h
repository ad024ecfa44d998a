// A read-only view of another backing that shows only the files a filter accepts; nothing is
// copied. Made by KVDocumentArchive's filtering initialiser.
#pragma once

#include "App/archive/KVDocumentArchiveBacking.h"

namespace kx {

class KVFilteredArchiveBacking : public KVDocumentArchiveBacking {
public:
    using Filter = std::function<bool(const std::string& relativePath)>;

    KVFilteredArchiveBacking(std::shared_ptr<KVDocumentArchiveBacking> base, Filter filter);

    const std::filesystem::path& url() const override { return base_->url(); }
    std::string documentTypeIdentifier() const override { return base_->documentTypeIdentifier(); }
    std::shared_ptr<KVDocumentArchiveBacking> moved(const std::filesystem::path& to) const override;
    // A path the filter refuses is notFound.
    std::unique_ptr<KVDataReader> dataReader(const std::string& relativePath) const override;
    void forEach(const Body& body) const override;
    void forEachConcurrently(const Body& body) const override;
    // A view cannot be written: throws unsupportedBacking.
    void reflect(const KVDocumentArchive& contentsOf, const KVDocumentArchiveManifest& updating,
                 KVDocumentArchiveManifest& updatedManifest) override;
    std::optional<DateFormat::Clock::time_point> contentModificationDate() const override;

private:
    std::shared_ptr<KVDocumentArchiveBacking> base_;
    Filter filter_;
};

} // namespace kx
