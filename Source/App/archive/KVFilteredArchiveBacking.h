// A read-only view of another backing that shows only the files a filter accepts, some of them
// with content held in memory in place of the backing's; nothing is copied. Made by
// KVDocumentArchive's filtering initialiser.
#pragma once

#include <map>
#include <string>

#include "App/archive/KVDocumentArchiveBacking.h"

namespace kx {

class KVFilteredArchiveBacking : public KVDocumentArchiveBacking {
public:
    using Filter = std::function<bool(const std::string& relativePath)>;
    // Content by relative path, shown in place of the base's file (or beside its files).
    using Contents = std::map<std::string, std::shared_ptr<const std::string>>;

    KVFilteredArchiveBacking(std::shared_ptr<KVDocumentArchiveBacking> base, Filter filter, Contents replacing = {});

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
    bool isReplaced(const std::string& relativePath) const { return replacing_.contains(relativePath); }
    // Calls `body` for each replaced file that the filter accepts.
    void forEachReplaced(const Body& body) const;

    std::shared_ptr<KVDocumentArchiveBacking> base_;
    Filter filter_;
    Contents replacing_;
};

} // namespace kx
