// The manifest of a project package, stored in it as "_project.korvelxproj": the project's
// uuid and, optionally, every file's entry. JSON {"uuid": text, "files": {path: entry}}.
#pragma once

#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "App/archive/KVDocumentArchiveManifestEntry.h"

namespace kx {

class KVDocumentArchiveManifest {
public:
    using Entry = KVDocumentArchiveManifestEntry;
    using Files = std::map<std::string, Entry>;

    // Upper-case UUID text.
    std::string uuid;
    // Relative path to entry; absent when the manifest lists no files.
    std::optional<Files> files;

    nlohmann::json toJSON() const;
    // Exact types; "files" missing or null reads as absent; paths must stay inside the package.
    // Throws KVArchiveDecoder::corrupt with the reason.
    static KVDocumentArchiveManifest fromJSON(const nlohmann::json& value);

    // The pieces of fromJSON, for readers that decode a manifest as it streams in: the "uuid"
    // value (null when missing), upper-cased; and a check of one listed path.
    static std::string decodeUuid(const nlohmann::json& value);
    static void checkPath(const std::string& path);

    friend bool operator==(const KVDocumentArchiveManifest&, const KVDocumentArchiveManifest&) = default;
};

} // namespace kx
