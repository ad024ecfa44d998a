#include <gtest/gtest.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "Platform/Foundation/DateFormat.h"

using namespace kx;

namespace {

using Manifest = KVDocumentArchive::Manifest;
using Entry = Manifest::Entry;

class StringReader : public KVDataReader {
public:
    explicit StringReader(std::string text, size_t chunk)
        : text_(std::move(text))
        , chunk_(chunk)
    {
    }
    std::span<const std::byte> read() override
    {
        auto bytes = std::as_bytes(std::span(text_)).subspan(offset_);
        bytes = bytes.first(std::min(bytes.size(), chunk_));
        offset_ += bytes.size();
        return bytes;
    }

private:
    std::string text_;
    size_t chunk_;
    size_t offset_ = 0;
};

std::string errorReason(const std::string& json)
{
    try {
        Manifest::fromJSON(nlohmann::json::parse(json));
    } catch (const KVDocumentArchiveError& error) {
        EXPECT_EQ(error.code(), KVDocumentArchiveError::Code::unknown);
        return error.underlying().localizedFailureReason;
    }
    return "decoded";
}

} // namespace

TEST(KVDocumentArchiveManifest, EntryStreamsThroughSha1AndWriter)
{
    // The same digest whatever the chunking, and every byte handed on.
    std::string text(3'000'001, 'x');
    text.replace(0, 3, "abc");
    StringReader whole(text, text.size());
    Entry expected(whole);
    for (size_t chunk : {1u, 7u, 65536u}) {
        StringReader reader(text, chunk);
        std::string copied;
        Entry entry(reader, [&](std::span<const std::byte> bytes) { copied.append(reinterpret_cast<const char*>(bytes.data()), bytes.size()); });
        EXPECT_EQ(entry, expected);
        EXPECT_EQ(copied, text);
    }
    EXPECT_EQ(expected.size, 3'000'001);

    StringReader abc("abc", 2);
    EXPECT_EQ(Entry(abc).toJSON(), nlohmann::json::parse(R"({"size": 3, "sha1": "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="})"));
    EXPECT_EQ(Entry::unknown().size, -1);
    EXPECT_TRUE(Entry::unknown().sha1.empty());
    EXPECT_NE(Entry::unknown(), Entry(abc));
}

TEST(KVDocumentArchiveManifest, RoundTripsThroughSortedPrettyJSON)
{
    Manifest manifest{"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", Manifest::Files{}};
    StringReader abc("abc", 3);
    (*manifest.files)["design/document.json"] = Entry(abc);
    (*manifest.files)["code/a.js"] = Entry(0, std::vector<std::uint8_t>(20, 0));
    std::string text = KVDocumentArchive::encode(manifest.toJSON());
    EXPECT_LT(text.find("\"files\""), text.find("\"uuid\""));
    EXPECT_LT(text.find("code/a.js"), text.find("design/document.json"));
    EXPECT_NE(text.find("\n  "), std::string::npos);
    EXPECT_EQ(Manifest::fromJSON(KVDocumentArchive::decoder().parse(text)), manifest);

    // Lower-case uuids read as upper case; no "files" and null "files" read as absent.
    auto plain = Manifest::fromJSON(nlohmann::json::parse(R"({"uuid": "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "files": null})"));
    EXPECT_EQ(plain.uuid, manifest.uuid);
    EXPECT_FALSE(plain.files.has_value());
    EXPECT_FALSE(plain.toJSON().contains("files"));
    // Whole doubles are integers.
    auto whole = Manifest::fromJSON(nlohmann::json::parse(
        R"({"uuid": "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", "files": {"a": {"size": 3.0, "sha1": ""}}})"));
    EXPECT_EQ(whole.files->at("a").size, 3);
}

TEST(KVDocumentArchiveManifest, RefusesValuesOfTheWrongType)
{
    const std::string uuid = R"("uuid": "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0")";
    auto withFile = [&](const std::string& entry) { return "{" + uuid + R"(, "files": {"a.txt": )" + entry + "}}"; };
    EXPECT_NE(errorReason("[]"), "decoded");
    EXPECT_NE(errorReason(R"({"files": {}})"), "decoded");
    EXPECT_NE(errorReason(R"({"uuid": "not a uuid"})"), "decoded");
    EXPECT_NE(errorReason(R"({"uuid": 12})"), "decoded");
    EXPECT_NE(errorReason("{" + uuid + R"(, "files": []})"), "decoded");
    EXPECT_NE(errorReason(withFile(R"({"size": "3", "sha1": ""})")), "decoded");
    EXPECT_NE(errorReason(withFile(R"({"size": 1.5, "sha1": ""})")), "decoded");
    EXPECT_NE(errorReason(withFile(R"({"size": true, "sha1": ""})")), "decoded");
    EXPECT_NE(errorReason(withFile(R"({"size": -2, "sha1": ""})")), "decoded");
    EXPECT_NE(errorReason(withFile(R"({"size": 3})")), "decoded");
    EXPECT_NE(errorReason(withFile(R"({"size": 3, "sha1": "qZk+NkcGgWq6PiVxeFDCbJzQ2J0"})")), "decoded");
    EXPECT_NE(errorReason(withFile(R"({"size": 3, "sha1": "qZk+ NkcGgWq6PiVxeFDCbJzQ2J0="})")), "decoded");
    EXPECT_NE(errorReason(withFile(R"({"size": 3, "sha1": "YWJj"})")), "decoded"); // not 20 bytes
    EXPECT_NE(errorReason("{" + uuid + R"(, "files": {"../a": {"size": 0, "sha1": ""}}})"), "decoded");
    EXPECT_EQ(errorReason(withFile(R"({"size": 3, "sha1": "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="})")), "decoded");
}

TEST(KVDocumentArchiveManifest, DatesUseTheArchiveFormat)
{
    auto date = kx::DateFormat::Clock::time_point(std::chrono::milliseconds(1'796'562'309'123));
    auto text = KVDocumentArchive::encodeDate(date);
    EXPECT_EQ(text, "2026-12-06T13:05:09.123Z");
    EXPECT_EQ(KVDocumentArchive::decoder().date(text), date);
    EXPECT_THROW(KVDocumentArchive::decoder().date("2026-12-06 13:05:09"), KVDocumentArchiveError);
    EXPECT_THROW(KVDocumentArchive::decoder().date(12), KVDocumentArchiveError);
    EXPECT_THROW(KVDocumentArchive::decoder().parse("{\"a\": "), KVDocumentArchiveError);
}
