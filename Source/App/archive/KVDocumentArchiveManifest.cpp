#include "App/archive/KVDocumentArchiveManifest.h"

#include <algorithm>
#include <cctype>

#include "App/archive/KVArchiveDecoder.h"
#include "App/archive/KVArchivePath.h"
#include "Platform/Foundation/Uuid.h"

namespace kx {

nlohmann::json KVDocumentArchiveManifest::toJSON() const
{
    nlohmann::json value = {{"uuid", uuid}};
    if (files) {
        nlohmann::json list = nlohmann::json::object();
        for (const auto& [path, entry] : *files)
            list[path] = entry.toJSON();
        value["files"] = std::move(list);
    }
    return value;
}

std::string KVDocumentArchiveManifest::decodeUuid(const nlohmann::json& value)
{
    if (value.is_null())
        throw KVArchiveDecoder::corrupt("The manifest has no “uuid”.");
    if (!value.is_string() || !Uuid::isValid(value.get_ref<const std::string&>()))
        throw KVArchiveDecoder::corrupt("The manifest’s “uuid” is not a UUID.");
    std::string uuid = value.get<std::string>();
    std::transform(uuid.begin(), uuid.end(), uuid.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return uuid;
}

void KVDocumentArchiveManifest::checkPath(const std::string& path)
{
    if (!KVArchivePath::isSafeRelativePath(path) || path.back() == '/')
        throw KVArchiveDecoder::corrupt("The manifest lists the unsafe path “" + KVArchivePath::displayName(path) + "”.");
}

KVDocumentArchiveManifest KVDocumentArchiveManifest::fromJSON(const nlohmann::json& value)
{
    if (!value.is_object())
        throw KVArchiveDecoder::corrupt("The manifest is not a JSON object.");

    KVDocumentArchiveManifest manifest;
    auto uuid = value.find("uuid");
    manifest.uuid = decodeUuid(uuid == value.end() ? nlohmann::json() : *uuid);

    auto files = value.find("files");
    if (files != value.end() && !files->is_null()) {
        if (!files->is_object())
            throw KVArchiveDecoder::corrupt("The manifest’s “files” is not an object.");
        Files list;
        for (const auto& [path, entry] : files->items()) {
            checkPath(path);
            list.emplace(path, Entry::fromJSON(entry, path));
        }
        manifest.files = std::move(list);
    }
    return manifest;
}

} // namespace kx
