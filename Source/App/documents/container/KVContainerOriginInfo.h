// The origin record of a working folder, the file "info" beside "container": which user's
// file the folder last mirrored, that file's manifest and its modification date then.
// JSON {"bookmarkData": Base64, "manifest": {...}, "modificationDate": date}, all required.
//
// The bookmark is the file's path, resolved by path whenever the path exists (sync clients,
// version control and editors replace files atomically, so the inode changes while the file
// stays the same); its device and inode only help to find a file renamed within its folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "App/archive/KVDocumentArchive.h"

namespace kx {

struct KVContainerOriginInfo {
    std::string bookmarkData;
    KVDocumentArchive::Manifest manifest;
    DateFormat::Clock::time_point modificationDate;

    nlohmann::json toJSON() const;
    // Throws KVDocumentArchiveError (through the archive's decoder) for anything else.
    static KVContainerOriginInfo fromJSON(const nlohmann::json& value);
    // Reads and decodes a record file; nullopt when it does not exist; throws when it cannot
    // be read or decoded.
    static std::optional<KVContainerOriginInfo> read(const std::filesystem::path& file);

    // A bookmark of an existing file; nullopt when the file cannot be looked at.
    static std::optional<std::string> makeBookmark(const std::filesystem::path& file);
    // The file a bookmark names now, with symbolic links resolved; nullopt when it is gone.
    static std::optional<std::filesystem::path> resolveBookmark(const std::string& bookmark);
    // The path a bookmark was made for, whether something is there now or not; nullopt for a
    // bookmark that names none.
    static std::optional<std::filesystem::path> bookmarkedPath(const std::string& bookmark);
};

} // namespace kx
