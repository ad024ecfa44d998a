// A project package that is a folder. Writing stages every file beside its target first, so a
// failed read of the source (a damaged zip, a full disk) leaves the folder as it was.
#pragma once

#include <string_view>
#include <vector>

#include "App/archive/KVDocumentArchiveBacking.h"

class KVDirectoryArchiveBacking : public KVDocumentArchiveBacking {
public:
    static constexpr std::string_view typeIdentifier = "com.korvel.projectfolder";

    // Unless `assumeExists`, throws notFound when `directory` does not exist and
    // invalidBacking when it is not a folder. Nothing is created or written.
    KVDirectoryArchiveBacking(std::filesystem::path directory, bool assumeExists, bool writesManifest);

    const std::filesystem::path& url() const override { return url_; }
    std::string documentTypeIdentifier() const override { return std::string(typeIdentifier); }
    std::shared_ptr<KVDocumentArchiveBacking> moved(const std::filesystem::path& to) const override;
    // Regular files only; a path that would leave the folder is notFound.
    std::unique_ptr<KVDataReader> dataReader(const std::string& relativePath) const override;
    // Regular files in path order; symbolic links are not followed. Throws for a name that
    // cannot be stored in a package (not UTF-8, a backslash) rather than leave the file out.
    void forEach(const Body& body) const override;
    // Stages every file, then removes the included files the source no longer has and moves
    // the staged files into place. Hidden paths outside ".backups" are never touched.
    void reflect(const KVDocumentArchive& contentsOf, const KVDocumentArchiveManifest& updating,
                 KVDocumentArchiveManifest& updatedManifest) override;
    // The latest modification of an included file or of a folder holding one (a deletion
    // changes only its folder).
    std::optional<kx::DateFormat::Clock::time_point> contentModificationDate() const override;

    bool writesManifest() const { return writesManifest_; }

private:
    // The included files, in path order; with `folders`, the folders walked too.
    std::vector<std::string> includedFiles(std::vector<std::string>* folders = nullptr) const;

    std::filesystem::path url_;
    bool writesManifest_;
};
