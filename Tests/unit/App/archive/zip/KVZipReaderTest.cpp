#include <gtest/gtest.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVZipArchiveBacking.h"
#include "support/TestPaths.h"
#include "support/ZipBuilder.h"
#include "unit/App/archive/ArchiveTestFiles.h"

using namespace kx;

using archivetest::readAll;
using archivetest::tree;
using archivetest::writeFile;
using kxtest::ZipBuilder;
namespace fs = std::filesystem;

namespace {

// The reason a package is refused, or "" when it opens and every file reads: walked one
// entry after the other, and on every processor, which must refuse it alike.
std::string refusal(const ZipBuilder& zip, const KVZipLimits& limits = {})
{
    kxtest::TemporaryDirectory dir;
    zip.write(dir / "p.korvelx");
    std::string reasons[2];
    for (bool concurrently : {false, true}) {
        try {
            KVZipArchiveBacking backing(dir / "p.korvelx", false, true, limits);
            auto body = [](const std::string&, KVDataReader& reader) { readAll(reader); };
            concurrently ? backing.forEachConcurrently(body) : backing.forEach(body);
        } catch (const KVDocumentArchiveError& error) {
            EXPECT_EQ(error.code(), KVDocumentArchiveError::Code::invalidBacking) << error.what();
            reasons[concurrently] = error.error().localizedFailureReason;
        }
    }
    EXPECT_EQ(reasons[0], reasons[1]);
    return reasons[0];
}

ZipBuilder::Entry entry(const std::string& name, const std::string& data)
{
    ZipBuilder::Entry entry;
    entry.name = name;
    entry.data = data;
    return entry;
}

} // namespace

TEST(KVZipReader, ReadsStoredDeflatedDescriptorAndZip64Entries)
{
    auto described = entry("code/b.js", std::string(70000, 'b'));
    described.deflate = described.dataDescriptor = true;
    auto large = entry("design/document.json", "{\"pages\": []}");
    large.zip64 = true;
    ZipBuilder zip;
    zip.add("README.md", "hello").add("code/a.js", std::string(50000, 'a'), true).add(described).add(large).zip64End();
    zip.add("design/", "");

    kxtest::TemporaryDirectory dir;
    zip.write(dir / "p.korvelx");
    KVDocumentArchive archive(dir / "p.korvelx", "com.korvel.projectzip", false, std::nullopt, true);
    std::map<std::string, std::string> files;
    archive.backing()->forEach([&](const std::string& path, KVDataReader& reader) { files[path] = readAll(reader); });
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"README.md", "hello"},
                                                         {"code/a.js", std::string(50000, 'a')},
                                                         {"code/b.js", std::string(70000, 'b')},
                                                         {"design/document.json", "{\"pages\": []}"}}));
    EXPECT_EQ(refusal(zip), "");
}

TEST(KVZipReader, RefusesUnsafeNamesAndLinks)
{
    for (const std::string& name : std::vector<std::string>{"/etc/passwd", "../evil", "design/../../evil", "design\\..\\evil", std::string("a\0b", 3), "a//b",
                             "./a", "", "\xC0\xAF"}) {
        ZipBuilder zip;
        zip.add("README.md", "fine").add(name, "evil");
        EXPECT_NE(refusal(zip), "") << name;
    }
    auto link = entry("design/link", "/etc/passwd");
    link.external = 0120777u << 16;
    EXPECT_NE(refusal(ZipBuilder().add(link)).find("symbolic link"), std::string::npos);
    EXPECT_NE(refusal(ZipBuilder().add("a", "1").add("a", "2")).find("twice"), std::string::npos);

    auto encrypted = entry("a", "secret");
    encrypted.flags = 1;
    EXPECT_NE(refusal(ZipBuilder().add(encrypted)).find("encrypted"), std::string::npos);
}

TEST(KVZipReader, RefusesAFileThatIsAlsoAFolderAndNamesNoFolderCanHold)
{
    // Both names are safe alone, but no folder can hold both; reading such a package into a
    // project folder must fail before anything there changes.
    EXPECT_NE(refusal(ZipBuilder().add("code", "file").add("code/a.js", "x")).find("code"), std::string::npos);
    EXPECT_NE(refusal(ZipBuilder().add("code/a.js", "x").add("code", "file")), "");
    EXPECT_EQ(refusal(ZipBuilder().add("code/", "").add("code/a.js", "x")), "");

    kxtest::TemporaryDirectory dir;
    writeFile(dir / "project/README.md", "old");
    writeFile(dir / "project/stale.txt", "old");
    auto before = tree(dir / "project");
    ZipBuilder().add("README.md", "new").add("code", "file").add("code/a.js", "x").write(dir / "p.korvelx");
    try {
        KVDocumentArchive source(dir / "p.korvelx", "com.korvel.projectzip", false, std::nullopt, true);
        KVDocumentArchive project(dir / "project", "com.korvel.projectfolder", false, std::nullopt, false);
        project.reflect(source);
        ADD_FAILURE() << "the package was read";
    } catch (const KVDocumentArchiveError&) {
    }
    EXPECT_EQ(tree(dir / "project"), before);

    // Names no folder can hold: tens of thousands of nested folders, a component too long.
    std::string deep;
    for (int i = 0; i < 30000; ++i)
        deep += "a/";
    EXPECT_NE(refusal(ZipBuilder().add(deep + "b", "x")).find("too long"), std::string::npos);
    EXPECT_NE(refusal(ZipBuilder().add("code/" + std::string(256, 'n'), "x")).find("too long"), std::string::npos);
    EXPECT_EQ(refusal(ZipBuilder().add("code/" + std::string(255, 'n'), "x")), "");
}

TEST(KVZipReader, RefusesOverlappingEntries)
{
    // A stored entry whose data holds a complete second entry, which the directory also lists:
    // the classic way of multiplying one compressed stream.
    auto inner = entry("b.txt", std::string(1000, 'x'));
    auto outer = entry("a.txt", ZipBuilder::localRecord(inner));
    inner.omitLocal = true;
    inner.centralOffset = 30 + outer.name.size();
    EXPECT_NE(refusal(ZipBuilder().add(outer).add(inner)).find("overlap"), std::string::npos);

    auto twice = entry("c.txt", "abc");
    twice.omitLocal = true; // points at a.txt's header: a second name for the same bytes
    EXPECT_NE(refusal(ZipBuilder().add("a.txt", "abc").add(twice)), "");
}

TEST(KVZipReader, CapsEntriesBytesAndRatio)
{
    KVZipLimits limits;
    limits.maximumEntries = 3;
    ZipBuilder four;
    for (const char* name : {"a", "b", "c", "d"})
        four.add(name, "x");
    EXPECT_NE(refusal(four, limits).find("more than 3 entries"), std::string::npos);

    limits = {};
    limits.maximumInflatedBytes = 100'000;
    EXPECT_NE(refusal(ZipBuilder().add("a", std::string(60'000, 'a'), true).add("b", std::string(60'000, 'b'), true), limits), "");

    // 8 MiB of zeros deflate about a thousandfold: an honest file of that size opens, and the
    // ratio counts only past the allowance (lowered here; a gigabyte by default).
    auto zeros = ZipBuilder().add("zeros", std::string(8 << 20, '\0'), true);
    EXPECT_EQ(refusal(zeros), "");
    limits = {};
    limits.ratioAllowance = 1 << 20;
    EXPECT_NE(refusal(zeros, limits).find("expands"), std::string::npos);
    limits.maximumRatio = 2000;
    EXPECT_EQ(refusal(zeros, limits), "");

    // A header that understates the size: the bytes are counted as they come out.
    auto lying = entry("a", std::string(200'000, 'a'));
    lying.deflate = true;
    lying.declaredSize = 1000;
    EXPECT_NE(refusal(ZipBuilder().add(lying)).find("longer than it says"), std::string::npos);
    lying.declaredSize = 300'000;
    EXPECT_NE(refusal(ZipBuilder().add(lying)).find("shorter than it says"), std::string::npos);
}

TEST(KVZipReader, DamagedFilesGiveAnErrorAndWriteNothing)
{
    auto bad = entry("code/b.js", std::string(10000, 'b'));
    bad.deflate = true;
    bad.crc = 12345;
    ZipBuilder damaged;
    damaged.add("README.md", "new readme").add(bad);
    EXPECT_NE(refusal(damaged).find("checksum"), std::string::npos);

    std::string whole = ZipBuilder().add("README.md", "hello").add("code/a.js", std::string(5000, 'a'), true).build();
    for (size_t length : {size_t(0), size_t(10), whole.size() / 2, whole.size() - 1}) {
        kxtest::TemporaryDirectory dir;
        std::ofstream(dir / "p.korvelx", std::ios::binary) << whole.substr(0, length);
        EXPECT_THROW(KVZipArchiveBacking(dir / "p.korvelx", false, true), KVDocumentArchiveError) << length;
    }
    std::string garbage = whole;
    garbage.replace(whole.size() / 3, 40, std::string(40, '\xFF'));
    kxtest::TemporaryDirectory dir;
    std::ofstream(dir / "garbage.korvelx", std::ios::binary) << garbage;
    EXPECT_THROW(KVZipArchiveBacking(dir / "garbage.korvelx", false, true), KVDocumentArchiveError);

    // Reading the damaged package into a project folder fails after the first file was
    // read, and leaves the folder exactly as it was.
    writeFile(dir / "project/README.md", "old readme");
    writeFile(dir / "project/design/document.json", "{}");
    writeFile(dir / "project/.korvel-lock", "1");
    damaged.write(dir / "damaged.korvelx");
    auto before = tree(dir / "project");
    KVDocumentArchive source(dir / "damaged.korvelx", "com.korvel.projectzip", false, std::nullopt, true);
    KVDocumentArchive project(dir / "project", "com.korvel.projectfolder", false, std::nullopt, true);
    EXPECT_THROW(project.reflect(source), KVDocumentArchiveError);
    EXPECT_EQ(tree(dir / "project"), before);
    EXPECT_FALSE(fs::exists(dir / "project/code"));

    // Nor is a zip written from it.
    KVDocumentArchive target(dir / "target.korvelx", "com.korvel.projectzip", true, std::nullopt, true);
    target.reflect(project);
    auto packaged = tree(dir.path())["target.korvelx"];
    EXPECT_THROW(target.reflect(source), KVDocumentArchiveError);
    EXPECT_EQ(tree(dir.path())["target.korvelx"], packaged);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);
}
