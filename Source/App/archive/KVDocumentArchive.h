// A project package: a manifest (the project's uuid and each file's size and SHA-1) over a
// folder or zip backing. Opening never changes a package (it only clears what crashed saves of
// ours left beside it); only `reflect` writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "App/archive/KVArchiveDecoder.h"
#include "App/archive/KVDocumentArchiveBacking.h"
#include "App/archive/KVDocumentArchiveManifest.h"

namespace kx {

class KVDocumentArchive {
public:
    using Manifest = KVDocumentArchiveManifest;
    using Filter = std::function<bool(const std::string& relativePath)>;
    // Files' content by relative path, held in memory.
    using Contents = std::map<std::string, std::shared_ptr<const std::string>>;
    using Clock = DateFormat::Clock;

    // The package layout.
    static constexpr std::string_view relativePathForDocumentJSON = "design/document.json";
    static constexpr std::string_view relativePathForImages = "design/images";
    static constexpr std::string_view relativePathForImageCaches = ".cache/images";
    static constexpr std::string_view relativePathForCode = "code";
    static constexpr std::string_view relativePathForBackups = ".backups";
    static constexpr std::string_view relativePathForReadme = "README.md";
    static constexpr std::string_view relativePathForProjectLog = ".project.log";
    static constexpr std::string_view relativePathForManifest = "_project.korvelxproj";

    static constexpr std::string_view tutorialTypeIdentifier = "com.korvel.tutorial";

    // Opens (or, with createIfNeeded, creates) the package at `url`: a folder backing for the
    // folder type, a zip backing for the zip type; any other type (tutorials among them) by
    // what is at the URL, a folder or a file. The manifest is the package's, or a new one with
    // `uuidIfNeeded` or a new uuid. Throws unsupportedBacking when nothing fits, notFound,
    // invalidBacking or unknown when the package cannot be opened or created.
    KVDocumentArchive(const std::filesystem::path& url, const std::string& type, bool createIfNeeded,
                      const std::optional<std::string>& uuidIfNeeded, bool writesManifest);
    // An archive over a backing: its manifest, else a new one with `uuidIfNeeded`, else none
    // (the archive then has a uuid of its own that no manifest records).
    KVDocumentArchive(std::shared_ptr<KVDocumentArchiveBacking> backing, const std::optional<std::string>& uuidIfNeeded);
    // A read-only view whose walk yields only the files of `archive` that `filter` accepts,
    // those in `replacing` with that content (also where `archive` has no such file).
    KVDocumentArchive(const KVDocumentArchive& archive, Filter filter, Contents replacing = {});
    // Made from its parts, nothing read or written.
    KVDocumentArchive(std::string uuid, std::optional<Manifest> manifest, std::shared_ptr<KVDocumentArchiveBacking> backing);

    KVDocumentArchive(const KVDocumentArchive&) = delete;
    KVDocumentArchive& operator=(const KVDocumentArchive&) = delete;

    const std::string& uuid() const { return uuid_; }
    const std::optional<Manifest>& manifest() const { return manifest_; }
    const std::shared_ptr<KVDocumentArchiveBacking>& backing() const { return backing_; }

    // Writes every file of `contentsOf` into this archive's backing and takes the written
    // manifest as this archive's. Throws on any read or write failure, leaving both unchanged;
    // only when the new version is in place but its final flush failed (the error's
    // newVersionInPlace()) does the archive take the new manifest before the error goes on.
    void reflect(const KVDocumentArchive& contentsOf);
    // Reads every included file and makes the manifest from what it finds.
    void regenerateManifest();
    std::optional<Clock::time_point> contentModificationDate() const;

    static const KVArchiveDecoder& decoder();
    // Pretty printed, keys sorted; dates go in as `encodeDate` text. Throws nlohmann's
    // type_error for text that is not UTF-8.
    static std::string encode(const nlohmann::json& value);
    static nlohmann::json encodeDate(Clock::time_point date);

    // Whether a relative path belongs in an archive: not the manifest file itself, and nothing
    // hidden (a path beginning with "." or holding "/.") except what lies in ".backups/".
    static bool shouldInclude(std::string_view relativePath);
    // Paths that never count when two manifests are compared: the manifest file.
    static const std::set<std::string>& relativePathsIgnoredForManifest();

    // A manifest is read whole into memory; one of 100,000 files with paths of 250 bytes fits.
    static constexpr std::uint64_t maximumManifestLength = std::uint64_t(32) << 20;
    // Files a manifest may list whatever the package holds; past that, no more than it holds.
    static constexpr std::uint64_t manifestFilesWithoutCount = 100'000;
    // The manifest file's text as the backings write it. Throws unknown, naming the package at
    // `target`, when a reader would refuse it as too long.
    static std::string manifestText(const Manifest& manifest, const std::filesystem::path& target);
    // Early checks of that, before a save writes anything: the fewest bytes a file's entry
    // takes, and the refusal of a total past the maximum.
    static std::uint64_t manifestLengthPerFile(std::string_view relativePath);
    static void checkManifestLength(std::uint64_t length, const std::filesystem::path& target);

private:
    void readManifest(const std::optional<std::string>& uuidIfNeeded, bool alwaysHasManifest);

    std::string uuid_;
    std::optional<Manifest> manifest_;
    std::shared_ptr<KVDocumentArchiveBacking> backing_;
};

} // namespace kx
