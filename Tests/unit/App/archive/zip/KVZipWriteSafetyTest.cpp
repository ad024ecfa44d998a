#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "support/Spin.h"
#include "support/TestPaths.h"
#include "unit/App/archive/ArchiveTestFiles.h"

using archivetest::tree;
using archivetest::writeFile;
namespace fs = std::filesystem;

namespace {

const std::string zipType = "com.korvel.projectzip";
const std::string folderType = "com.korvel.projectfolder";

std::string noise(size_t length, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

// A saved package (version 1) and a larger project (version 2) to save over it.
struct Versions {
    kxtest::TemporaryDirectory dir;
    fs::path package = dir / "Project.korvelx";
    Versions()
    {
        writeFile(dir / "v1/design/document.json", R"({"version": 1})");
        writeFile(dir / "v1/design/images/a.png", noise(100'000, 1));
        writeFile(dir / "v2/design/document.json", R"({"version": 2})");
        for (int i = 0; i < 8; ++i)
            writeFile(dir / ("v2/design/images/" + std::to_string(i) + ".png"), noise(4 << 20, 10 + i));
        writeFile(dir / "v2/z-last.js", "last");
        KVDocumentArchive v1(dir / "v1", folderType, false, std::nullopt, false);
        KVDocumentArchive(package, zipType, true, std::nullopt, true).reflect(v1);
    }
    // The package opens, its manifest matches its files, and it is version 1.
    void expectVersionOneIntact()
    {
        KVDocumentArchive archive(package, zipType, false, std::nullopt, true);
        auto stored = archive.manifest();
        ASSERT_TRUE(stored && stored->files);
        archive.regenerateManifest();
        EXPECT_EQ(archive.manifest(), stored);
        EXPECT_EQ(archivetest::readAll(*archive.backing()->dataReader("design/document.json")), R"({"version": 1})");
    }
    std::vector<fs::path> others()
    {
        std::vector<fs::path> found;
        for (const auto& item : fs::directory_iterator(dir.path()))
            if (item.path() != package && item.path().filename() != "v1" && item.path().filename() != "v2")
                found.push_back(item.path());
        return found;
    }
};

int waitForChild(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

TEST(KVZipWriteSafety, KilledWhileWritingLeavesTheOldPackage)
{
    Versions versions;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The last file is opened only after the others went into the new package; the
        // child stops there until it is killed.
        KVDocumentArchive v2(versions.dir / "v2", folderType, false, std::nullopt, false);
        int calls = 0;
        KVDocumentArchive view(v2, [&](const std::string& path) {
            if (path == "z-last.js" && ++calls == 2)
                ::pause();
            return true;
        });
        KVDocumentArchive target(versions.package, zipType, false, std::nullopt, true);
        target.reflect(view);
        ::_exit(0);
    }

    auto written = [&] {
        for (const auto& path : versions.others())
            if (fs::file_size(path) >= std::uintmax_t(30) << 20)
                return true;
        return false;
    };
    bool midWrite = kxtest::spinUntil(written, std::chrono::seconds(60));
    ::kill(child, SIGKILL);
    int status = waitForChild(child);
    ASSERT_TRUE(midWrite);
    EXPECT_TRUE(WIFSIGNALED(status));
    versions.expectVersionOneIntact();

    // The next save goes through as if nothing had happened.
    KVDocumentArchive v2(versions.dir / "v2", folderType, false, std::nullopt, false);
    KVDocumentArchive(versions.package, zipType, false, std::nullopt, true).reflect(v2);
    KVDocumentArchive saved(versions.package, zipType, false, std::nullopt, true);
    EXPECT_EQ(saved.manifest()->files->size(), 10u);
}

TEST(KVZipWriteSafety, FullDiskLeavesPackageAndFolderAsTheyWere)
{
    Versions versions;
    writeFile(versions.dir / "folder/design/document.json", R"({"version": 1})");
    auto folderBefore = tree(versions.dir / "folder");

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Files may not grow past 1 MiB: writes fail as on a full disk.
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int failures = 0;
        KVDocumentArchive v2(versions.dir / "v2", folderType, false, std::nullopt, false);
        for (auto [url, type] : {std::pair{versions.package, zipType}, std::pair{versions.dir / "folder", folderType}}) {
            try {
                KVDocumentArchive(url, type, false, std::nullopt, true).reflect(v2);
            } catch (const KVDocumentArchiveError& error) {
                if (error.code() == KVDocumentArchiveError::Code::unknown && error.underlying().code == EFBIG)
                    ++failures;
            }
        }
        ::_exit(failures);
    }
    int status = waitForChild(child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    versions.expectVersionOneIntact();
    EXPECT_EQ(tree(versions.dir / "folder"), folderBefore);
    EXPECT_EQ(versions.others(), std::vector<fs::path>{versions.dir / "folder"});
}
