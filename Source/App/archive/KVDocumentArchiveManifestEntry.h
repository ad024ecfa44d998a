// One file of a manifest: its byte count and SHA-1 digest. JSON {"size": n, "sha1": Base64}.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include <nlohmann/json.hpp>

namespace kx {

class KVDataReader;

class KVDocumentArchiveManifestEntry {
public:
    using Writer = std::function<void(std::span<const std::byte>)>;

    std::int64_t size = -1;
    std::vector<std::uint8_t> sha1;

    KVDocumentArchiveManifestEntry() = default;
    KVDocumentArchiveManifestEntry(std::int64_t size, std::vector<std::uint8_t> sha1);
    // Streams the reader's bytes through SHA-1, handing each chunk on to `writing` when given.
    // Throws the reader's error (notFound when the file does not exist) or the writer's.
    explicit KVDocumentArchiveManifestEntry(KVDataReader& reading, const Writer& writing = {});

    // The entry of content held in memory.
    static KVDocumentArchiveManifestEntry of(std::span<const std::byte> bytes);
    // A file whose size and digest were not computed: size -1, empty digest.
    static KVDocumentArchiveManifestEntry unknown();

    nlohmann::json toJSON() const;
    // Exact types: "size" an integer from -1 up, "sha1" Base64 of 20 bytes (or none). `path`
    // names the entry in the error.
    static KVDocumentArchiveManifestEntry fromJSON(const nlohmann::json& value, const std::string& path);

    friend bool operator==(const KVDocumentArchiveManifestEntry&, const KVDocumentArchiveManifestEntry&) = default;
};

} // namespace kx
