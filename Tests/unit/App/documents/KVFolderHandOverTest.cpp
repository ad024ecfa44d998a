// The work of a working copy carried into its project folder: killed at any step, failing at any
// step, swapped at its path or given a planted link, the folder's document is always whole.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>

#include "App/documents/container/KVFolderHandOver.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileDescriptor.h"
#include "support/ScopedSetting.h"
#include "support/TestPaths.h"
#include "unit/App/archive/ArchiveTestFiles.h"

namespace {

namespace fs = std::filesystem;
namespace handover = kx::KVFolderHandOver;
using archivetest::tree;
using kxtest::writeFile;

const std::string documentPath = "design/document.json";

// A project folder as it was saved, and the working copy of the work done while it was away:
// a new document that names two new images, a file it changed, one it left alone.
struct Versions {
    archivetest::MemoryDirectory dir;
    fs::path folder = dir / "Undone";
    fs::path copy = dir / "copy";
    std::map<std::string, std::string> old, work;

    Versions()
    {
        old = {{documentPath, "{\"names\": [\"logo.png\"]}"},
               {"design/images/logo.png", "the logo"},
               {"package.json", "{\"dependencies\": {}}"},
               {"README.md", "# Undone"}};
        work = old;
        work[documentPath] = "{\"names\": [\"logo.png\", \"away1.png\", \"away2.png\"]}";
        work["design/images/away1.png"] = archivetest::noise(300'000, 1);
        work["design/images/away2.png"] = archivetest::noise(300'000, 2);
        work["package.json"] = "{\"dependencies\": {\"left-pad\": \"1.3.0\"}}";
        reset();
        for (const auto& [path, data] : work)
            writeFile(copy / path, data);
        writeFile(copy / ".backups/1.json", "a backup stays in the copy");
        writeFile(copy / ".korvel-lock", "1");
    }
    void reset()
    {
        fs::remove_all(folder);
        for (const auto& [path, data] : old)
            writeFile(folder / path, data);
        writeFile(folder / ".git/HEAD", "ref: refs/heads/main");
    }
    kx::FileDescriptor open() const { return kx::FileDescriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); }
    void handOver() const
    {
        const auto held = open();
        handover::carry(copy, held.get(), folder, handover::differences(copy, held.get(), {}, documentPath));
    }
    // "old" or "new" when the folder's document is one of them with every file it names as it
    // was, and the folder's own files untouched; what else otherwise.
    std::string state() const
    {
        auto now = tree(folder);
        if (now[".git/HEAD"] != "ref: refs/heads/main")
            return "the folder's own files touched";
        const auto& version = now[documentPath] == old.at(documentPath) ? old : work;
        if (now[documentPath] != version.at(documentPath))
            return "a document of neither version: " + now[documentPath];
        for (const auto& [path, data] : version)
            if (path.starts_with("design/images/") && now[path] != data)
                return "the document names " + path + ", which is not there whole";
        return &version == &old ? "old" : "new";
    }
    bool hasLeftovers() const { return fs::exists(folder / std::string(handover::stagingName)); }
};

} // namespace

TEST(KVFolderHandOver, CarriesWhatTheFolderLacksOrHoldsOtherwiseWithTheDocumentLast)
{
    Versions versions;
    const auto held = versions.open();
    const auto files = handover::differences(versions.copy, held.get(), {}, documentPath);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files.back(), documentPath);
    EXPECT_EQ(std::set<std::string>(files.begin(), files.end() - 1),
              (std::set<std::string>{"design/images/away1.png", "design/images/away2.png", "package.json"}));
    // Without the page's document, as when nothing of the work is only in the copy.
    EXPECT_EQ(handover::differences(versions.copy, held.get(), {documentPath}, documentPath).size(), 3u);

    versions.handOver();
    auto now = tree(versions.folder);
    for (const auto& [path, data] : versions.work)
        EXPECT_EQ(now[path], data) << path;
    EXPECT_EQ(now[".git/HEAD"], "ref: refs/heads/main");
    EXPECT_FALSE(now.contains(".backups/1.json") || now.contains(".korvel-lock") || versions.hasLeftovers());
    EXPECT_TRUE(handover::differences(versions.copy, held.get(), {}, documentPath).empty());
}

TEST(KVFolderHandOver, KilledAtAnyStepLeavesTheOldDocumentOrTheNewOneWithAllItNames)
{
    Versions versions;
    std::vector<std::string> steps;
    {
        kxtest::ScopedSetting counting(handover::setFaultHookForTesting, [&](std::string_view step, const std::string& file) {
            steps.push_back(std::string(step) + " " + file);
            return 0;
        });
        versions.handOver();
    }
    // Each file staged, each renamed, the folders flushed, the document put in place, done.
    ASSERT_EQ(steps.size(), 4u + 3u + 1u + 1u + 1u);
    EXPECT_EQ(steps[steps.size() - 2], "last " + documentPath);
    for (std::size_t kill = 0; kill < steps.size(); ++kill) {
        versions.reset();
        const int status = archivetest::runInChild([&] {
            handover::setFaultHookForTesting([&, count = std::size_t(0)](std::string_view, const std::string&) mutable {
                if (count++ == kill)
                    ::raise(SIGKILL);
                return 0;
            });
            versions.handOver();
            return 0;
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << steps[kill];
        const std::string state = versions.state();
        EXPECT_EQ(state, kill < steps.size() - 1 ? "old" : "new") << "killed before " << steps[kill];
        // The next try clears what the killed one left and ends with the work whole.
        versions.handOver();
        EXPECT_EQ(versions.state(), "new") << "killed before " << steps[kill];
        EXPECT_FALSE(versions.hasLeftovers());
    }
}

TEST(KVFolderHandOver, AFailedStepBeforeTheDocumentLeavesItAsSavedAndNothingStaged)
{
    Versions versions;
    for (const std::string failing : {"stage", "rename", "flush", "last"}) {
        versions.reset();
        const auto before = tree(versions.folder);
        kxtest::ScopedSetting full(handover::setFaultHookForTesting, [&](std::string_view step, const std::string&) {
            return step == failing ? ENOSPC : 0;
        });
        std::string told;
        try {
            versions.handOver();
        } catch (const kx::Error& error) {
            told = error.localizedDescription;
        }
        EXPECT_NE(told.find("No space left on device"), std::string::npos) << failing << ": " << told;
        EXPECT_EQ(versions.state(), "old") << failing;
        EXPECT_FALSE(versions.hasLeftovers()) << failing;
        // Staging fails before anything at all is replaced.
        if (failing == "stage") {
            EXPECT_EQ(tree(versions.folder), before);
        }
    }
}

TEST(KVFolderHandOver, AFolderPutAtThePathMeanwhileGetsNothingAndALinkPlantedIsNotFollowed)
{
    Versions versions;
    const fs::path aside = versions.dir / "Moved";
    {
        // Moved aside after the first file, a new folder made at once at its name: the rest
        // goes where the project went.
        kxtest::ScopedSetting swap(handover::setFaultHookForTesting, [&, swapped = false](std::string_view step, const std::string&) mutable {
            if (step == "rename" && !std::exchange(swapped, true)) {
                fs::rename(versions.folder, aside);
                fs::create_directories(versions.folder);
            }
            return 0;
        });
        versions.handOver();
    }
    EXPECT_TRUE(fs::is_empty(versions.folder));
    EXPECT_EQ(tree(aside)[documentPath], versions.work.at(documentPath));

    // A link where the images folder was: nothing is written through it.
    fs::remove_all(versions.folder);
    versions.reset();
    const fs::path elsewhere = versions.dir / "elsewhere";
    fs::create_directories(elsewhere);
    fs::remove_all(versions.folder / "design/images");
    fs::create_directory_symlink(elsewhere, versions.folder / "design/images");
    EXPECT_THROW(versions.handOver(), kx::Error);
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(tree(versions.folder)[documentPath], versions.old.at(documentPath));
}
