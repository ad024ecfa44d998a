// A project package that is one zip file. Opening checks the whole directory (see
// KVZipDirectory) and so refuses a hostile package before anything is read from it; writing
// goes through KVZipWriter, which replaces the file only once the new one is complete.
#pragma once

#include <atomic>
#include <mutex>
#include <string_view>
#include <sys/types.h>

#include "App/archive/KVDocumentArchiveBacking.h"
#include "App/archive/zip/KVZipLimits.h"

namespace kx {

class KVZipReader;

class KVZipArchiveBacking : public KVDocumentArchiveBacking {
public:
    static constexpr std::string_view typeIdentifier = "com.korvel.projectzip";

    // Opens and checks the zip file at `url`, after clearing what crashed saves left beside it.
    // With createIfNeeded a missing file reads as an empty package and comes into being only
    // with the first reflect, whole: a save into a new file that is cut short (a crash, a kill)
    // leaves nothing where the user asked to save, never an empty or broken package. Without
    // writesManifest, reflect writes no manifest file into it. Throws notFound, invalidBacking or
    // unknown.
    KVZipArchiveBacking(std::filesystem::path url, bool createIfNeeded, bool writesManifest,
                        const KVZipLimits& limits = {});

    const std::filesystem::path& url() const override { return url_; }
    std::string documentTypeIdentifier() const override { return std::string(typeIdentifier); }
    // The file at `to` is opened when first read.
    std::shared_ptr<KVDocumentArchiveBacking> moved(const std::filesystem::path& to) const override;
    std::unique_ptr<KVDataReader> dataReader(const std::string& relativePath) const override;
    // Entries in directory order, folders left out; the bytes inflated in one walk are capped.
    void forEach(const Body& body) const override;
    // Entries inflated and checked on every processor; the cap on the bytes inflated is the
    // walk's, shared by them all.
    void forEachConcurrently(const Body& body) const override;
    // Writes a new zip file with one entry per file (and the manifest entry last) and puts it
    // in place of the old one, or of the file a link at the URL points to. Refuses, before
    // the package is touched, what the reader would refuse (see KVZipWriter).
    void reflect(const KVDocumentArchive& contentsOf, const KVDocumentArchiveManifest& updating,
                 KVDocumentArchiveManifest& updatedManifest) override;
    // The zip file's modification date.
    std::optional<DateFormat::Clock::time_point> contentModificationDate() const override;

    bool writesManifest() const { return writesManifest_; }

private:
    struct Unchecked {};
    KVZipArchiveBacking(Unchecked, std::filesystem::path url, bool writesManifest, const KVZipLimits& limits);
    // The reader of the file as it is now: kept while the file stays the same, opened again
    // (and checked again) when it was replaced.
    std::shared_ptr<KVZipReader> reader() const;
    // A package to be made that is not there yet.
    bool isMissingAndEmpty() const;

    std::filesystem::path url_;
    bool writesManifest_;
    // Made with createIfNeeded over no file: read as empty until the file exists.
    bool readsMissingAsEmpty_ = false;
    // The file was there when opened, or a save put it there: a save that no longer finds it
    // (moved, trashed, deleted meanwhile) does not make it again. Saves run one at a time.
    std::atomic<bool> fileIsExpected_ = true;
    KVZipLimits limits_;
    mutable std::mutex mutex_;
    mutable std::shared_ptr<KVZipReader> reader_;
    mutable struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t modified = 0;
        friend bool operator==(const Identity&, const Identity&) = default;
    } identity_;
};

} // namespace kx
