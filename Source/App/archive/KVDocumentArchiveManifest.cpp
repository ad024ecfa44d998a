#include "App/archive/KVDocumentArchiveManifest.h"

#include <algorithm>
#include <cctype>

#include "App/archive/KVArchiveDecoder.h"
#include "App/archive/KVArchivePath.h"
#include "Platform/Foundation/Uuid.h"

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

KVDocumentArchiveManifest KVDocumentArchiveManifest::fromJSON(const nlohmann::json& value)
{
    if (!value.is_object())
        throw KVArchiveDecoder::corrupt("The manifest is not a JSON object.");

    KVDocumentArchiveManifest manifest;
    auto uuid = value.find("uuid");
    if (uuid == value.end() || uuid->is_null())
        throw KVArchiveDecoder::corrupt("The manifest has no “uuid”.");
    if (!uuid->is_string() || !kx::Uuid::isValid(uuid->get_ref<const std::string&>()))
        throw KVArchiveDecoder::corrupt("The manifest’s “uuid” is not a UUID.");
    manifest.uuid = uuid->get<std::string>();
    std::transform(manifest.uuid.begin(), manifest.uuid.end(), manifest.uuid.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });

    auto files = value.find("files");
    if (files != value.end() && !files->is_null()) {
        if (!files->is_object())
            throw KVArchiveDecoder::corrupt("The manifest’s “files” is not an object.");
        Files list;
        for (const auto& [path, entry] : files->items()) {
            if (!KVArchivePath::isSafeRelativePath(path) || path.back() == '/')
                throw KVArchiveDecoder::corrupt("The manifest lists the unsafe path “" + path + "”.");
            list.emplace(path, Entry::fromJSON(entry, path));
        }
        manifest.files = std::move(list);
    }
    return manifest;
}
