// The start page's examples and tutorial: names from the page never leave their folder, the
// shipped packages open with our archive code, and opening goes through the document hook.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVSha1.h"
#include "App/documents/KVDocumentError.h"
#include "App/welcome/WelcomeDocumentHook.h"
#include "App/welcome/WelcomePageBridge.h"
#include "Platform/Foundation/FileSystem.h"
#include "support/StdoutCapture.h"
#include "support/TestPaths.h"

using kx::KVDataReader;
using kx::KVDocumentArchive;
using kx::KVSha1;
using kx::WelcomePageBridge;

namespace {

namespace fs = std::filesystem;

bool refused(const fs::path& folder, const std::string& name, const std::string& extension = "korvelx")
{
    const auto answer = WelcomePageBridge::resourceURL(folder, name, extension);
    if (answer.isSuccess())
        return false;
    EXPECT_EQ(answer.error().domain, "NSCocoaErrorDomain");
    EXPECT_EQ(answer.error().code, -1100);
    return true;
}

// Restores the process's document hook after each test.
class WelcomeHook : public ::testing::Test {
protected:
    void TearDown() override { kx::WelcomeDocumentHook::shared().reset(); }
};

} // namespace

TEST(WelcomePackages, NamesFromThePageStayInsideTheirFolder)
{
    kxtest::TemporaryDirectory root;
    const fs::path examples = root / "examples";
    fs::create_directories(examples / "inner");
    std::ofstream(examples / "landing.korvelx") << "PK";
    std::ofstream(root / "secret.korvelx") << "PK";
    std::ofstream(examples / "inner" / "deep.korvelx") << "PK";
    fs::create_directories(examples / "folder.korvelx");
    fs::create_symlink(root / "secret.korvelx", examples / "outside.korvelx");
    fs::create_symlink(examples / "landing.korvelx", examples / "alias.korvelx");
    fs::create_symlink(root / "nowhere", examples / "dangling.korvelx");

    const auto landing = WelcomePageBridge::resourceURL(examples, "landing", "korvelx");
    ASSERT_TRUE(landing.isSuccess());
    EXPECT_EQ(landing.value(), *kx::FileSystem::realPath(examples / "landing.korvelx"));
    EXPECT_TRUE(WelcomePageBridge::resourceURL(examples, "landing.korvelx", "korvelx").isSuccess());
    EXPECT_TRUE(WelcomePageBridge::resourceURL(examples, "alias", "korvelx").isSuccess());
    EXPECT_TRUE(WelcomePageBridge::resourceURL(examples, "folder", "korvelx").isSuccess());

    for (const char* name : {"", ".", "..", "../secret", "..%2Fsecret", "inner/deep", "/etc/passwd", "outside",
                             "dangling", "missing", "landing.korvelx/..", "..landing"})
        EXPECT_TRUE(refused(examples, name)) << name;
    EXPECT_TRUE(refused(examples, std::string("landing\0x", 9)));
    EXPECT_TRUE(refused(root / "no-such-folder", "landing"));
}

TEST(WelcomePackages, TheShippedExamplesAndTutorialOpenAsProjects)
{
    struct Package {
        fs::path path;
        std::string type;
    };
    const std::vector<Package> packages{
        {WelcomePageBridge::examplesFolder() / "example-landing.korvelx", "com.korvel.projectzip"},
        {WelcomePageBridge::examplesFolder() / "example-dashboard.korvelx", "com.korvel.projectzip"},
        {WelcomePageBridge::tutorialsFolder() / "getting-started.korveltutorial", "com.korvel.tutorial"},
    };
    for (const auto& package : packages) {
        SCOPED_TRACE(package.path.string());
        KVDocumentArchive archive(package.path, package.type, false, std::nullopt, true);
        ASSERT_TRUE(archive.manifest().has_value());
        ASSERT_TRUE(archive.manifest()->files.has_value());
        EXPECT_EQ(archive.uuid(), archive.manifest()->uuid);
        int files = 0;
        std::string document;
        archive.backing()->forEach([&](const std::string& path, KVDataReader& reader) {
            std::string bytes;
            KVSha1 digest;
            for (auto chunk = reader.read(); !chunk.empty(); chunk = reader.read()) {
                bytes.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
                digest.update(chunk);
            }
            if (!KVDocumentArchive::shouldInclude(path))
                return;
            ++files;
            const auto entry = archive.manifest()->files->find(path);
            ASSERT_NE(entry, archive.manifest()->files->end()) << path;
            EXPECT_EQ(entry->second.size, std::int64_t(bytes.size()));
            EXPECT_EQ(entry->second.sha1, digest.finish());
            if (path == KVDocumentArchive::relativePathForDocumentJSON)
                document = bytes;
        });
        EXPECT_EQ(files, int(archive.manifest()->files->size()));
        // The editor's document: frames with an id, a name and a text.
        const auto value = nlohmann::json::parse(document);
        ASSERT_TRUE(value.at("frames").is_array());
        EXPECT_FALSE(value.at("frames").empty());
        for (const auto& frame : value.at("frames")) {
            EXPECT_TRUE(frame.at("id").is_string());
            EXPECT_TRUE(frame.at("name").is_string());
            EXPECT_TRUE(frame.at("text").is_string());
        }
    }
}

TEST_F(WelcomeHook, AnExampleOpensAsANewDocumentFromItsPackage)
{
    std::vector<std::pair<fs::path, std::string>> made;
    kx::WelcomeDocumentHook::shared().openTemplate = [&](const fs::path& path, const std::string& name) -> std::optional<kx::Error> {
        made.emplace_back(path, name);
        return std::nullopt;
    };
    std::optional<std::optional<kx::Error>> outcome;
    WelcomePageBridge::openExample("example-landing.korvelx", [&](std::optional<kx::Error> error) { outcome = error; });
    ASSERT_TRUE(outcome.has_value()); // before the call returned
    EXPECT_FALSE(outcome->has_value());
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].first, *kx::FileSystem::realPath(WelcomePageBridge::examplesFolder() / "example-landing.korvelx"));
    EXPECT_EQ(made[0].second, "Landing example");

    // A failure is printed with the name as the page gave it, and handed on.
    kx::WelcomeDocumentHook::shared().openTemplate = [](const fs::path&, const std::string&) -> std::optional<kx::Error> {
        return kx::Error("KVDocumentErrorDomain", 7, "The template is damaged.");
    };
    kxtest::StdoutCapture printed;
    WelcomePageBridge::openExample("example-dashboard", [&](std::optional<kx::Error> error) { outcome = error; });
    WelcomePageBridge::openExample("missing\nline", [&](std::optional<kx::Error>) { });
    const std::string& output = printed.text();
    ASSERT_TRUE(outcome->has_value());
    EXPECT_EQ((*outcome)->code, 7);
    EXPECT_EQ(output, "Cannot open example: example-dashboard The template is damaged.\n"
                      "Cannot open example: missing?line The file \u201cmissing?line.korvelx\u201d couldn\u2019t be "
                      "opened because there is no such file.\n");
}

TEST_F(WelcomeHook, ATutorialOpensThroughTheDocumentControllerOnce)
{
    std::vector<fs::path> opened;
    kx::WelcomeDocumentHook::Completion later;
    kx::WelcomeDocumentHook::shared().openDocument = [&](const fs::path& path, bool display, kx::WelcomeDocumentHook::Completion done) {
        EXPECT_TRUE(display);
        opened.push_back(path);
        later = std::move(done);
    };
    int calls = 0;
    WelcomePageBridge::openTutorial("getting-started", [&](std::optional<kx::Error> error) {
        ++calls;
        EXPECT_FALSE(error.has_value());
    });
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].filename(), "getting-started.korveltutorial");
    EXPECT_EQ(calls, 0); // the document controller answers later
    auto copy = later;
    later(std::nullopt);
    copy(kx::Error("KVDocumentErrorDomain", 1, "late"));
    EXPECT_EQ(calls, 1);
}

TEST_F(WelcomeHook, WithoutDocumentsOpeningFailsAndSaysWhy)
{
    std::optional<kx::Error> error;
    kxtest::StdoutCapture quiet;
    WelcomePageBridge::openExample("example-landing", [&](std::optional<kx::Error> e) { error = e; });
    quiet.text();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->localizedDescription, "Documents are not available yet.");
    // The documents' own "not implemented", not their code 0 (a container already open).
    using namespace kx; // wherever the documents' error is declared
    const kx::Error notImplemented = KVDocumentError(KVDocumentError::Code::notImplemented).error();
    EXPECT_EQ(error->domain, notImplemented.domain);
    EXPECT_EQ(error->code, notImplemented.code);
    error.reset();
    WelcomePageBridge::openTutorial("getting-started", [&](std::optional<kx::Error> e) { error = e; });
    EXPECT_TRUE(error.has_value());
}
