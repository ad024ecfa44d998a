// A project package that is a folder. A save builds the whole new version in a staged folder
// beside the package (KVStagedFolder) and switches it in with one step that a crash cannot split
// (KVSaveStaging), so the package is always wholly the old or wholly the new version.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "App/archive/KVDocumentArchiveBacking.h"

namespace kx {

class KVDirectoryArchiveBacking : public KVDocumentArchiveBacking {
public:
    static constexpr std::string_view typeIdentifier = "com.korvel.projectfolder";

    // Unless `assumeExists`, throws notFound when `directory` does not exist and
    // invalidBacking when it is not a folder. Nothing is created or written.
    // Before the check, clears what crashed saves left beside the folder (KVSaveStaging::recover).
    KVDirectoryArchiveBacking(std::filesystem::path directory, bool assumeExists, bool writesManifest);
    // A backing over a package to be made at `directory` (missing parents are created). The
    // folder itself reads as empty and comes into being only with the first reflect, whole: a
    // save cut short (a refusal, a crash, a kill) leaves nothing where the user asked to save.
    static std::shared_ptr<KVDirectoryArchiveBacking> create(std::filesystem::path directory, bool writesManifest);

    const std::filesystem::path& url() const override { return url_; }
    std::string documentTypeIdentifier() const override { return std::string(typeIdentifier); }
    std::shared_ptr<KVDocumentArchiveBacking> moved(const std::filesystem::path& to) const override;
    // Regular files only; a path that would leave the folder is notFound.
    std::unique_ptr<KVDataReader> dataReader(const std::string& relativePath) const override;
    // Regular files in path order; symbolic links are not followed. Throws for a name that
    // cannot be stored in a package (not UTF-8, a backslash) rather than leave the file out.
    void forEach(const Body& body) const override;
    // Files read on every processor.
    void forEachConcurrently(const Body& body) const override;
    // Saves to the folder a link at the URL points to. The new version holds the source's files
    // and manifest, and keeps what the include filter leaves out (hidden paths outside
    // ".backups", links, empty folders). Refused before anything is written: names that leave
    // the folder, a manifest too large to read back, more bytes than the disk has free.
    void reflect(const KVDocumentArchive& contentsOf, const KVDocumentArchiveManifest& updating,
                 KVDocumentArchiveManifest& updatedManifest) override;
    // The latest modification of an included file or of a folder holding one (a deletion
    // changes only its folder).
    std::optional<DateFormat::Clock::time_point> contentModificationDate() const override;

    bool writesManifest() const { return writesManifest_; }

private:
    // The included files, in path order; with `folders`, the folders walked too.
    std::vector<std::string> includedFiles(std::vector<std::string>* folders = nullptr) const;

    // A package to be made that is not there yet.
    bool isMissingAndEmpty() const;

    std::filesystem::path url_;
    bool writesManifest_;
    // Made by create over no folder: read as empty until the folder exists.
    bool readsMissingAsEmpty_ = false;
};

} // namespace kx
