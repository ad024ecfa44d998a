#include <gtest/gtest.h>

#include <limits>

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "support/TestPaths.h"
#include "support/ZipBuilder.h"
#include "unit/App/archive/ArchiveTestFiles.h"

using namespace kx;

using archivetest::peakGrowthMiB;
using kxtest::ZipBuilder;
namespace fs = std::filesystem;

using archivetest::zipType;
using archivetest::aUuid;

namespace {

const std::string manifestName = "_project.korvelxproj";
// What opening any package may cost on top of what the process held. AddressSanitizer keeps
// freed memory in quarantine and pads every block, so the figure means nothing there.
long memoryCeilingMiB()
{
    return kxtest::underAddressSanitizer() ? std::numeric_limits<long>::max() : 64;
}

// The reason opening the package (and walking it) is refused, or "" when it opens.
std::string openingRefusal(const fs::path& package)
{
    try {
        KVDocumentArchive archive(package, zipType, false, std::nullopt, true);
        archive.backing()->forEach([](const std::string&, KVDataReader&) {});
    } catch (const KVDocumentArchiveError& error) {
        return error.error().localizedFailureReason.empty() ? error.error().localizedDescription : error.error().localizedFailureReason;
    }
    return "";
}

// Opens the package in a child process: the peak memory it added, and the refusal.
std::pair<long, std::string> openInChild(const fs::path& package)
{
    std::string reason = openingRefusal(package);
    long growth = peakGrowthMiB([&] { openingRefusal(package); });
    return {growth, reason};
}

std::string manifestListing(size_t files, size_t nameLength)
{
    std::string text = "{\"uuid\": \"" + aUuid + "\", \"files\": {";
    for (size_t i = 0; i < files; ++i) {
        std::string name = std::to_string(i);
        name = "code/" + std::string(nameLength > name.size() + 5 ? nameLength - name.size() - 5 : 0, 'n') + name;
        text += (i ? ",\"" : "\"") + name + "\":{\"size\":0,\"sha1\":\"2jmj7l5rSw0yVb/vlWAYkK/YBwk=\"}";
    }
    return text + "}}";
}

} // namespace

TEST(KVHostilePackage, ManifestsAreReadWithinTheirCaps)
{
    kxtest::TemporaryDirectory dir;
    // Tens of megabytes of nesting, from a few kilobytes: refused at once, not parsed.
    for (const std::string start : {"[", "{\"uuid\": ", "{\"files\": {\"a\": "}) {
        ZipBuilder().add(manifestName, start + std::string(4 << 20, '['), true).add("a", "x").write(dir / "deep.korvelx");
        EXPECT_LT(fs::file_size(dir / "deep.korvelx"), 50'000u);
        auto [growth, reason] = openInChild(dir / "deep.korvelx");
        EXPECT_NE(reason, "") << start;
        EXPECT_GE(growth, 0);
        EXPECT_LT(growth, memoryCeilingMiB()) << start;
    }
    // Past the length cap, even as white space.
    ZipBuilder().add(manifestName, "{" + std::string(33 << 20, ' ') + "}", true).write(dir / "long.korvelx");
    auto [growth, reason] = openInChild(dir / "long.korvelx");
    EXPECT_NE(reason.find("longer than 32 MB"), std::string::npos) << reason;
    EXPECT_LT(growth, memoryCeilingMiB());

    // Far more files listed than the package holds; up to 100,000 are taken on trust.
    ZipBuilder().add(manifestName, manifestListing(150'000, 20), true).add("a", "x").write(dir / "listing.korvelx");
    std::tie(growth, reason) = openInChild(dir / "listing.korvelx");
    EXPECT_NE(reason.find("more files than the package holds"), std::string::npos) << reason;
    EXPECT_LT(growth, memoryCeilingMiB());
    ZipBuilder().add(manifestName, manifestListing(100'000, 20), true).add("a", "x").write(dir / "listing.korvelx");
    EXPECT_EQ(openingRefusal(dir / "listing.korvelx"), "");
    EXPECT_EQ(KVDocumentArchive(dir / "listing.korvelx", zipType, false, std::nullopt, true).manifest()->files->size(), 100'000u);
}

TEST(KVHostilePackage, DirectoriesAreCappedAndKeptOnce)
{
    kxtest::TemporaryDirectory dir;
    auto manyEntries = [](size_t count, size_t nameLength) {
        ZipBuilder zip;
        for (size_t i = 0; i < count; ++i) {
            std::string name = std::to_string(i);
            zip.add("code/" + std::string(nameLength - name.size() - 5, 'n') + name, "");
        }
        return zip;
    };
    // A directory past its cap is refused from the end record, before it is read.
    manyEntries(40'000, 420).zip64End().write(dir / "wide.korvelx");
    auto [growth, reason] = openInChild(dir / "wide.korvelx");
    EXPECT_NE(reason.find("directory is larger than 16 MB"), std::string::npos) << reason;
    EXPECT_LT(growth, 8);

    // A count past 65,535 without Zip64 records: the entries past it are not dropped unseen.
    manyEntries(65'537, 10).write(dir / "miscounted.korvelx");
    EXPECT_NE(openingRefusal(dir / "miscounted.korvelx").find("holds more than its end record lists"), std::string::npos);

    // The largest directory allowed, with a manifest listing every file: it opens within the
    // ceiling.
    auto zip = manyEntries(99'999, 108);
    std::string listing = "{\"uuid\": \"" + aUuid + "\", \"files\": {";
    for (size_t i = 0; i < 99'999; ++i) {
        std::string name = std::to_string(i);
        listing += (i ? ",\"code/" : "\"code/") + std::string(103 - name.size(), 'n') + name + "\":{\"size\":0,\"sha1\":\"2jmj7l5rSw0yVb/vlWAYkK/YBwk=\"}";
    }
    zip.add(manifestName, listing + "}}", true).zip64End().write(dir / "full.korvelx");
    std::tie(growth, reason) = openInChild(dir / "full.korvelx");
    EXPECT_EQ(reason, "");
    EXPECT_GE(growth, 0);
    EXPECT_LT(growth, memoryCeilingMiB());
}

TEST(KVHostilePackage, ErrorTextsShowHostileNamesEscaped)
{
    kxtest::TemporaryDirectory dir;
    auto reasonFor = [&](const std::string& name) {
        ZipBuilder().add("README.md", "fine").add(name, "evil").write(dir / "p.korvelx");
        return openingRefusal(dir / "p.korvelx");
    };
    std::string reason = reasonFor(std::string("a\0b/../c", 8));
    EXPECT_EQ(reason.find('\0'), std::string::npos);
    EXPECT_NE(reason.find("a\\0b/../c"), std::string::npos) << reason;
    reason = reasonFor("\x01/../\x7F");
    EXPECT_NE(reason.find("\\x01/../\\x7F"), std::string::npos) << reason;
    std::string longName(1000, 'n');
    longName += "/..";
    reason = reasonFor(longName);
    EXPECT_LT(reason.size(), 400u);
    EXPECT_NE(reason.find("…"), std::string::npos);

    // Names in a manifest, and names that are not UTF-8.
    ZipBuilder().add(manifestName, "{\"uuid\": \"" + aUuid + "\", \"files\": {\"a\\u0000b\": {\"size\": 1, \"sha1\": \"\"}}}").write(dir / "m.korvelx");
    reason = openingRefusal(dir / "m.korvelx");
    EXPECT_EQ(reason.find('\0'), std::string::npos);
    EXPECT_NE(reason.find("a\\0b"), std::string::npos) << reason;
    reason = reasonFor("\xC0\xAF/x");
    EXPECT_NE(reason.find("\\xC0\\xAF/x"), std::string::npos) << reason;
}
