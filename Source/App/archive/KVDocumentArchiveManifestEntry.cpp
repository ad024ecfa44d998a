#include "App/archive/KVDocumentArchiveManifestEntry.h"

#include <cmath>

#include "App/archive/KVArchiveDecoder.h"
#include "App/archive/KVArchivePath.h"
#include "App/archive/KVBase64.h"
#include "App/archive/KVDataReader.h"
#include "App/archive/KVSha1.h"

namespace kx {

KVDocumentArchiveManifestEntry::KVDocumentArchiveManifestEntry(std::int64_t size_, std::vector<std::uint8_t> sha1_)
    : size(size_)
    , sha1(std::move(sha1_))
{
}

KVDocumentArchiveManifestEntry::KVDocumentArchiveManifestEntry(KVDataReader& reading, const Writer& writing)
{
    KVSha1 digest;
    std::int64_t count = 0;
    for (auto chunk = reading.read(); !chunk.empty(); chunk = reading.read()) {
        digest.update(chunk);
        count += static_cast<std::int64_t>(chunk.size());
        if (writing)
            writing(chunk);
    }
    size = count;
    sha1 = digest.finish();
}

KVDocumentArchiveManifestEntry KVDocumentArchiveManifestEntry::of(std::span<const std::byte> bytes)
{
    KVSha1 digest;
    digest.update(bytes);
    return {static_cast<std::int64_t>(bytes.size()), digest.finish()};
}

KVDocumentArchiveManifestEntry KVDocumentArchiveManifestEntry::unknown()
{
    return {-1, {}};
}

nlohmann::json KVDocumentArchiveManifestEntry::toJSON() const
{
    return {{"size", size}, {"sha1", KVBase64::encode(sha1)}};
}

KVDocumentArchiveManifestEntry KVDocumentArchiveManifestEntry::fromJSON(const nlohmann::json& value, const std::string& path)
{
    auto fail = [&](const std::string& what) { return KVArchiveDecoder::corrupt("Manifest entry “" + KVArchivePath::displayName(path) + "”: " + what); };
    if (!value.is_object())
        throw fail("expected an object.");

    auto size = value.find("size");
    if (size == value.end() || size->is_null())
        throw fail("“size” is missing.");
    std::int64_t count;
    if (size->is_number_integer()) {
        if (size->is_number_unsigned() && size->get<std::uint64_t>() > std::uint64_t(INT64_MAX))
            throw fail("“size” is out of range.");
        count = size->get<std::int64_t>();
    } else if (size->is_number_float()) {
        double number = size->get<double>();
        if (!std::isfinite(number) || number != std::floor(number) || std::fabs(number) > 9007199254740992.0)
            throw fail("“size” is not a whole number.");
        count = static_cast<std::int64_t>(number);
    } else {
        throw fail("“size” is not a number.");
    }
    if (count < -1)
        throw fail("“size” is negative.");

    auto sha1 = value.find("sha1");
    if (sha1 == value.end() || sha1->is_null())
        throw fail("“sha1” is missing.");
    if (!sha1->is_string())
        throw fail("“sha1” is not a string.");
    auto digest = KVBase64::decode(sha1->get_ref<const std::string&>());
    if (!digest || (!digest->empty() && digest->size() != KVSha1::digestLength))
        throw fail("“sha1” is not the Base64 text of a SHA-1 digest.");
    return {count, std::move(*digest)};
}

} // namespace kx
