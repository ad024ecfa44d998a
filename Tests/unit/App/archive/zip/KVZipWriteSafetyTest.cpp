#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVSaveStaging.h"
#include "App/archive/KVZipArchiveBacking.h"
#include "App/archive/zip/KVZipReader.h"
#include "App/archive/zip/KVZipWriter.h"
#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/ThreadPool.h"
#include "support/ScopedSetting.h"
#include "support/Spin.h"
#include "support/TestPaths.h"
#include "unit/App/archive/ArchiveTestFiles.h"

using namespace kx;

using archivetest::tree;
using archivetest::writeFile;
namespace fs = std::filesystem;

using archivetest::zipType;
using archivetest::folderType;
using archivetest::noise;
using archivetest::readAll;

namespace {

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

// 1 or 2 when the package opens, its manifest matches its files and it is wholly that version.
int zipVersion(const fs::path& package)
{
    KVDocumentArchive archive(package, zipType, false, std::nullopt, true);
    auto stored = archive.manifest();
    archive.regenerateManifest();
    if (!stored || stored != archive.manifest())
        return 0;
    auto document = archivetest::readAll(*archive.backing()->dataReader("design/document.json"));
    int version = document == R"({"version": 1})" ? 1 : document == R"({"version": 2})" ? 2 : 0;
    return stored->files->size() == (version == 1 ? 2u : 10u) ? version : 0;
}

// Saves version 2 over `target` (a file made anew with `isNew`) in a child that stops before
// its last file, and kills the child there, once the new package has grown past 30 MiB beside
// the others: the wait status.
int killedWhileSaving(Versions& versions, const fs::path& target, bool isNew)
{
    return archivetest::runInChild(
        [&] {
            // The last file is opened only after the others went into the new package.
            KVDocumentArchive v2(versions.dir / "v2", folderType, false, std::nullopt, false);
            int calls = 0;
            KVDocumentArchive view(v2, [&](const std::string& path) {
                if (path == "z-last.js" && ++calls == 2)
                    ::pause();
                return true;
            });
            KVDocumentArchive(target, zipType, isNew, std::nullopt, true).reflect(view);
            return 0;
        },
        [&] {
            std::error_code error;
            for (const auto& path : versions.others())
                if (path != target && fs::file_size(path, error) >= std::uintmax_t(30) << 20 && !error)
                    return true;
            return false;
        });
}

std::string refusalOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const KVDocumentArchiveError& error) {
        return error.error().localizedDescription + " " + error.error().localizedFailureReason;
    }
    return "";
}

} // namespace

TEST(KVZipWriteSafety, KilledWhileWritingLeavesTheOldPackage)
{
    Versions versions;
    EXPECT_TRUE(WIFSIGNALED(killedWhileSaving(versions, versions.package, false)));
    versions.expectVersionOneIntact();

    // The next save goes through as if nothing had happened.
    KVDocumentArchive v2(versions.dir / "v2", folderType, false, std::nullopt, false);
    KVDocumentArchive(versions.package, zipType, false, std::nullopt, true).reflect(v2);
    KVDocumentArchive saved(versions.package, zipType, false, std::nullopt, true);
    EXPECT_EQ(saved.manifest()->files->size(), 10u);
}

TEST(KVZipWriteSafety, ASaveIntoANewFileCutShortLeavesNothingWhereTheUserAskedToSave)
{
    // A Save As into a file that does not exist yet, killed while it writes.
    Versions versions;
    const fs::path target = versions.dir / "Saved As.korvelx";
    EXPECT_TRUE(WIFSIGNALED(killedWhileSaving(versions, target, true)));
    // Not an empty package, not half of one: nothing, and no leftovers once it is opened again.
    EXPECT_FALSE(fs::exists(target));
    KVDocumentArchive again(target, zipType, true, std::nullopt, true);
    KVDocumentArchive v2(versions.dir / "v2", folderType, false, std::nullopt, false);
    again.reflect(v2);
    EXPECT_EQ(KVDocumentArchive(target, zipType, false, std::nullopt, true).manifest()->files->size(), 10u);
}

TEST(KVZipWriteSafety, FullDiskLeavesPackageAndFolderAsTheyWere)
{
    Versions versions;
    writeFile(versions.dir / "folder/design/document.json", R"({"version": 1})");
    auto folderBefore = tree(versions.dir / "folder");

    const int status = archivetest::runInChild([&] {
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
        return failures;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    versions.expectVersionOneIntact();
    EXPECT_EQ(tree(versions.dir / "folder"), folderBefore);
    EXPECT_EQ(versions.others(), std::vector<fs::path>{versions.dir / "folder"});
}

TEST(KVZipWriteSafety, KilledAtAnyMomentLeavesWhollyTheOldOrTheNewPackage)
{
    Versions versions;
    auto save = [&](int version) {
        KVDocumentArchive source(versions.dir / ("v" + std::to_string(version)), folderType, false, std::nullopt, false);
        KVDocumentArchive(versions.package, zipType, false, std::nullopt, true).reflect(source);
    };
    auto start = std::chrono::steady_clock::now();
    save(2);
    auto duration = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    int current = zipVersion(versions.package);
    ASSERT_EQ(current, 2);
    const int kills = 12;
    for (int i = 0; i <= kills; ++i) {
        int next = 3 - current;
        auto moment = duration * i / (kills - 2);
        archivetest::runInChild([&] {
            save(next);
            return 0;
        }, moment);
        int found = zipVersion(versions.package);
        ASSERT_NE(found, 0) << moment.count();
        EXPECT_EQ(versions.others(), std::vector<fs::path>()) << moment.count();
        current = found;
    }
}

TEST(KVZipWriteSafety, EverySavedPackageOpensAgain)
{
    kxtest::TemporaryDirectory dir;
    // Files that compress far better than 200:1 are honest project files.
    std::string record = R"({"type": "frame", "x": 10, "y": 20, "fill": "#ffffff"},)" "\n";
    std::string repeated;
    while (repeated.size() < (2 << 20))
        repeated += record;
    writeFile(dir / "project/design/zeros.bin", std::string(3'000'000, '\0'));
    writeFile(dir / "project/design/document.json", repeated);
    writeFile(dir / "project/README.md", "# Project");
    KVDocumentArchive project(dir / "project", folderType, false, std::nullopt, false);
    auto readEverything = [](const KVDocumentArchive& archive) {
        size_t bytes = 0;
        archive.backing()->forEach([&](const std::string&, KVDataReader& reader) { bytes += archivetest::readAll(reader).size(); });
        return bytes;
    };
    KVDocumentArchive saved(dir / "p.korvelx", zipType, true, std::nullopt, true);
    saved.reflect(project);
    EXPECT_EQ(readEverything(KVDocumentArchive(dir / "p.korvelx", zipType, false, std::nullopt, true)), 3'000'000 + repeated.size() + 9);

    // Under tighter limits the writer keeps to what the reader accepts: files past the ratio
    // allowance are stored, not deflated.
    KVZipLimits limits;
    limits.ratioAllowance = 1 << 20;
    auto open = [&](const fs::path& path) { return KVDocumentArchive(std::make_shared<KVZipArchiveBacking>(path, true, true, limits), std::nullopt); };
    open(dir / "tight.korvelx").reflect(project);
    EXPECT_EQ(readEverything(open(dir / "tight.korvelx")), 3'000'000 + repeated.size() + 9);
    EXPECT_EQ(KVZipReader::open(dir / "tight.korvelx")->find("design/zeros.bin")->method, 0);
    EXPECT_EQ(KVZipReader::open(dir / "tight.korvelx")->find("README.md")->method, 8);

    // What the reader would refuse is refused before the package is touched, with a reason.
    limits = {};
    limits.maximumEntries = 3; // three files and the manifest
    auto target = open(dir / "q.korvelx");
    auto before = tree(dir.path());
    EXPECT_NE(refusalOf([&] { target.reflect(project); }).find("too many files"), std::string::npos);
    limits.maximumEntries = 4;
    limits.maximumDirectoryLength = 150;
    EXPECT_NE(refusalOf([&] { open(dir / "q.korvelx").reflect(project); }).find("names take too much room"), std::string::npos);
    limits.maximumDirectoryLength = 4096;
    limits.maximumInflatedBytes = 4 << 20;
    EXPECT_NE(refusalOf([&] { open(dir / "q.korvelx").reflect(project); }).find("too large"), std::string::npos);
    // The written package is read back before it goes in place: here the manifest, whose size
    // is not known beforehand, compresses past a tiny ratio allowance.
    limits = {};
    limits.ratioAllowance = 100;
    limits.maximumRatio = 1;
    EXPECT_NE(refusalOf([&] { open(dir / "q.korvelx").reflect(project); }).find("would open again"), std::string::npos);
    EXPECT_EQ(tree(dir.path()), before);
    limits = {};
    limits.maximumInflatedBytes = 8 << 20;
    open(dir / "q.korvelx").reflect(project);
    EXPECT_EQ(readEverything(open(dir / "q.korvelx")), 3'000'000 + repeated.size() + 9);
}

TEST(KVZipWriteSafety, SavesThroughALinkToThePackage)
{
    Versions versions;
    fs::create_symlink("Project.korvelx", versions.dir / "Link.korvelx");
    KVDocumentArchive v2(versions.dir / "v2", folderType, false, std::nullopt, false);
    KVDocumentArchive(versions.dir / "Link.korvelx", zipType, false, std::nullopt, true).reflect(v2);
    EXPECT_TRUE(fs::is_symlink(versions.dir / "Link.korvelx"));
    EXPECT_EQ(zipVersion(versions.package), 2);
}

TEST(KVZipWriteSafety, AFailedFinalFlushSaysTheNewPackageIsInPlace)
{
    Versions versions;
    kxtest::ScopedSetting hook(KVSaveStaging::setFaultHookForTesting, [](std::string_view at) { return at == "flush" ? EIO : 0; });
    KVDocumentArchive v2(versions.dir / "v2", folderType, false, std::nullopt, false);
    KVDocumentArchive target(versions.package, zipType, false, std::nullopt, true);
    std::string uuid = target.uuid();
    bool inPlace = false;
    try {
        target.reflect(v2);
    } catch (const KVDocumentArchiveError& error) {
        inPlace = error.newVersionInPlace();
    }
    KVSaveStaging::setFaultHookForTesting(nullptr);
    EXPECT_TRUE(inPlace);
    EXPECT_EQ(target.manifest()->files->size(), 10u);
    EXPECT_EQ(target.uuid(), uuid);
    EXPECT_EQ(zipVersion(versions.package), 2);

    // A failed switch leaves the old package and nothing beside it.
    KVSaveStaging::setFaultHookForTesting([](std::string_view at) { return at == "exchange" || at == "rename" ? EIO : 0; });
    KVDocumentArchive v1(versions.dir / "v1", folderType, false, std::nullopt, false);
    EXPECT_THROW(target.reflect(v1), KVDocumentArchiveError);
    KVSaveStaging::setFaultHookForTesting(nullptr);
    EXPECT_EQ(zipVersion(versions.package), 2);
    EXPECT_EQ(versions.others(), std::vector<fs::path>());
}

TEST(KVZipWriteSafety, APackageThatLeavesItsPlaceWhileSavedIsNotPutBackNorIsAFileThatTookItReplaced)
{
    Versions versions;
    KVDocumentArchive v2(versions.dir / "v2", folderType, false, std::nullopt, false);
    const fs::path trashed = versions.dir / "Trash/Project.korvelx";
    fs::create_directories(trashed.parent_path());
    auto saveWhile = [&](const fs::path& target, bool isNew, std::string_view step, std::function<void()> meanwhile) {
        KVDocumentArchive archive(target, zipType, isNew, std::nullopt, true);
        if (step.empty())
            meanwhile();
        kxtest::ScopedSetting hook(KVSaveStaging::setFaultHookForTesting, [&](std::string_view at) {
            if (at == step && meanwhile)
                std::exchange(meanwhile, nullptr)();
            return 0;
        });
        auto refusal = refusalOf([&] { archive.reflect(v2); });
        for (const auto& path : versions.others())
            EXPECT_EQ(path.filename().string().find(".korvel-"), std::string::npos) << path;
        return refusal;
    };
    // Trashed before the save began, as the staged file appears, or just before the switch:
    // nothing comes back at its old place, and what went is the old version, whole.
    for (std::string_view step : {"", "stage", "exchange"}) {
        EXPECT_NE(saveWhile(versions.package, false, step, [&] { fs::rename(versions.package, trashed); }).find("was moved or deleted"),
                  std::string::npos) << step;
        EXPECT_FALSE(fs::exists(versions.package)) << step;
        EXPECT_EQ(zipVersion(trashed), 1) << step;
        fs::rename(trashed, versions.package);
    }
    // Another program's file put in its place, or where a new package was to go, stays.
    for (bool isNew : {false, true}) {
        const fs::path target = isNew ? versions.dir / "New.korvelx" : versions.package;
        auto theirs = [&] {
            writeFile(versions.dir / "theirs", "their file");
            fs::rename(versions.dir / "theirs", target);
        };
        EXPECT_NE(saveWhile(target, isNew, isNew ? "rename" : "exchange", theirs).find("was replaced by another file"), std::string::npos);
        EXPECT_EQ(kx::FileSystem::readFile(target), "their file") << isNew;
    }
}

TEST(KVZipWriteSafety, LeftoversOfCrashedSavesGoWhenThePackageOpens)
{
    Versions versions;
    writeFile(versions.dir / ".Project.korvelx.korvel-save-AbC123", std::string(1 << 20, 'x'));
    writeFile(versions.dir / ".Project.korvelx.korvel-saveXAbC123", "not ours");
    KVDocumentArchive opened(versions.package, zipType, false, std::nullopt, true);
    EXPECT_EQ(versions.others(), std::vector<fs::path>{versions.dir / ".Project.korvelx.korvel-saveXAbC123"});
}

// Saves and opens spread over the processors: what parallel work could break.
namespace {

// Hands out its text in small chunks, and fails after `failAfter` chunks when asked to.
class ChunkedReader : public KVDataReader {
public:
    ChunkedReader(std::string text, size_t chunk, std::optional<int> failAfter = std::nullopt)
        : text_(std::move(text))
        , chunk_(chunk)
        , failAfter_(failAfter)
    {
    }
    std::span<const std::byte> read() override
    {
        if (failAfter_ && reads_++ == *failAfter_)
            throw KVDocumentArchiveError::notFound("vanished.js");
        auto bytes = std::as_bytes(std::span(text_.data(), text_.size())).subspan(offset_);
        bytes = bytes.first(std::min(bytes.size(), chunk_));
        offset_ += bytes.size();
        return bytes;
    }

private:
    std::string text_;
    size_t chunk_;
    size_t offset_ = 0;
    std::optional<int> failAfter_;
    int reads_ = 0;
};

std::string text(size_t length, unsigned seed)
{
    std::string words[] = {"frame", "layer", "fill", "stroke", "{\"id\": ", "radius", ",\n"};
    std::mt19937 random(seed);
    std::string out;
    while (out.size() < length)
        out += words[random() % 7] + std::to_string(random() % 1000);
    out.resize(length);
    return out;
}

// The files of a project: text to deflate and noise to store, of many sizes, some larger than
// the bytes one entry may hold ahead of the writer.
std::vector<std::pair<std::string, std::string>> files()
{
    std::vector<std::pair<std::string, std::string>> files;
    files.emplace_back("design/document.json", text(5 << 20, 1));
    for (int i = 0; i < 40; ++i)
        files.emplace_back("code/m" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".js", text(1000 + i * 7919, 10 + i));
    for (int i = 0; i < 12; ++i)
        files.emplace_back("design/images/i" + std::to_string(i) + ".png", noise(i == 3 ? (3 << 20) : 20'000 * (i + 1), 100 + i));
    files.emplace_back("code/empty.js", "");
    return files;
}

// The package's entries in the order its directory lists them, with their method and CRC.
std::vector<std::string> directory(const fs::path& package)
{
    std::vector<std::string> listed;
    auto zip = KVZipReader::open(package);
    for (const auto& record : zip->records())
        listed.push_back(record.name + " " + std::to_string(record.method) + " " + std::to_string(record.crc) + " "
                         + std::to_string(record.size));
    return listed;
}

std::vector<std::string> folderItems(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder))
        names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(KVZipPacking, EntriesKeepTheOrderAddedAndReadBackWhole)
{
    kxtest::TemporaryDirectory dir;
    const auto project = files();
    // Entries in an order no sort gives, the first ones the slowest to pack (the largest, in
    // the smallest chunks): the directory still lists them as added, every time.
    std::vector<std::string> first, second;
    for (auto* listing : {&first, &second}) {
        KVZipWriter writer(dir / "p.korvelx");
        for (auto it = project.rbegin(); it != project.rend(); ++it) {
            const auto& [name, data] = *it;
            size_t chunk = name == "design/document.json" ? 4096 : 1 << 20;
            writer.add(name, [data = data, chunk] { return std::make_unique<ChunkedReader>(data, chunk); }, data.size());
        }
        writer.commit();
        *listing = directory(dir / "p.korvelx");
    }
    EXPECT_EQ(first, second);
    ASSERT_EQ(first.size(), project.size());
    for (size_t i = 0; i < project.size(); ++i)
        EXPECT_EQ(first[i].substr(0, first[i].find(' ')), project[project.size() - 1 - i].first);

    // Every entry reads back as written, through both walks, and passes its CRC.
    KVZipArchiveBacking backing(dir / "p.korvelx", false, false);
    std::map<std::string, std::string> read;
    std::mutex mutex;
    backing.forEachConcurrently([&](const std::string& path, KVDataReader& reader) {
        auto bytes = readAll(reader);
        std::lock_guard lock(mutex);
        read.emplace(path, std::move(bytes));
    });
    EXPECT_EQ(read, (std::map<std::string, std::string>(project.begin(), project.end())));
}

TEST(KVZipPacking, AFailingEntryEndsTheSaveWithItsErrorAndLeavesNothingBehind)
{
    kxtest::TemporaryDirectory dir;
    const auto project = files();
    auto save = [&](std::optional<size_t> failing, const fs::path& target) {
        KVZipWriter writer(target);
        for (size_t i = 0; i < project.size(); ++i) {
            const auto& [name, data] = project[i];
            std::optional<int> failAfter;
            if (failing && i == *failing)
                failAfter = 1;
            writer.add(name, [data = data, failAfter] { return std::make_unique<ChunkedReader>(data, 64 << 10, failAfter); }, data.size());
        }
        writer.commit();
    };
    save(std::nullopt, dir / "p.korvelx");
    const auto saved = archivetest::tree(dir.path());
    kx::ThreadPool::bulk();
    const std::size_t threadsBefore = kxtest::threadCount();

    // The first entry (the writer waits on it), one in the middle and the last one with bytes.
    for (size_t failing : {size_t(0), project.size() / 2, project.size() - 2}) {
        try {
            save(failing, dir / "p.korvelx");
            ADD_FAILURE() << "saved with entry " << failing << " failing";
        } catch (const KVDocumentArchiveError& error) {
            EXPECT_EQ(error.code(), KVDocumentArchiveError::Code::notFound) << failing;
            EXPECT_NE(error.error().localizedDescription.find("vanished.js"), std::string::npos);
        }
        // The old package whole, no staged file beside it; a new file is not made at all.
        EXPECT_EQ(archivetest::tree(dir.path()), saved);
        EXPECT_THROW(save(failing, dir / "new.korvelx"), KVDocumentArchiveError);
        EXPECT_EQ(folderItems(dir.path()), std::vector<std::string>{"p.korvelx"});
    }
    // No worker left running or waiting: the pool's threads are all there are (an idle thread
    // of GLib's from before may have ended meanwhile, one of its own ends within its 15 s).
    EXPECT_TRUE(kxtest::spinUntil([&] { return kxtest::threadCount() <= threadsBefore; }, std::chrono::seconds(30)))
        << kxtest::threadCount() << " threads, more than " << threadsBefore;
}

TEST(KVZipPacking, AnEndedWalkLeavesNoCallRunning)
{
    kxtest::TemporaryDirectory dir;
    for (int i = 0; i < 200; ++i)
        writeFile(dir / ("p/code/f" + std::to_string(i) + ".js"), text(5000, i));
    KVDocumentArchive project(dir / "p", folderType, false, std::nullopt, false);
    KVDocumentArchive(dir / "p.korvelx", zipType, true, std::nullopt, true).reflect(project);

    // The caller gives up on one file (a cancel): the walk ends with its error, and once it
    // has, no other file is read.
    KVDocumentArchive package(dir / "p.korvelx", zipType, false, std::nullopt, true);
    // The eighth call gives up; the calls after it hold until it has and a while longer, so
    // that a busy machine cannot let the others run through every file before the walk hears
    // of the failure.
    std::atomic<int> running{0}, started{0};
    std::atomic<bool> gaveUp{false};
    try {
        package.backing()->forEachConcurrently([&](const std::string&, KVDataReader& reader) {
            ++running;
            const int order = ++started;
            if (order == 8) {
                --running;
                gaveUp = true;
                throw KVDocumentArchiveError::unknown(kx::Error(KVDocumentArchiveError::domain, 0, "cancelled"));
            }
            if (order > 8) {
                for (int i = 0; i < 5000 && !gaveUp; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            readAll(reader);
            --running;
        });
        ADD_FAILURE() << "the walk went on";
    } catch (const KVDocumentArchiveError& error) {
        EXPECT_EQ(error.error().localizedDescription, "cancelled");
    }
    EXPECT_EQ(running.load(), 0);
    const int after = started.load();
    EXPECT_LT(after, 200);
    kx::ThreadPool::bulk().waitUntilIdle();
    EXPECT_EQ(started.load(), after);

    // A damaged entry among many: opening refuses the package, whichever worker meets it.
    KVDocumentArchive(dir / "q.korvelx", zipType, true, std::nullopt, true).reflect(project);
    std::string whole = archivetest::tree(dir.path())["q.korvelx"];
    auto at = whole.find("code/f150.js");
    ASSERT_NE(at, std::string::npos);
    {
        // Flip a byte of that entry's data, past its local header.
        std::fstream file(dir / "q.korvelx", std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(at + 20));
        file.put('\x5A');
    }
    KVDocumentArchive damaged(dir / "q.korvelx", zipType, false, std::nullopt, true);
    EXPECT_THROW(damaged.regenerateManifest(), KVDocumentArchiveError);
}

TEST(KVZipPacking, SavingHoldsBoundedMemoryWhateverThePackageSize)
{
    if (kxtest::underAddressSanitizer())
        GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine";
    kxtest::TemporaryDirectory dir;
    // 96 MB of files, stored and deflated: a save that held them would show it.
    for (int i = 0; i < 48; ++i)
        writeFile(dir / ("p/design/images/i" + std::to_string(i) + ".png"), noise(1 << 20, i));
    for (int i = 0; i < 12; ++i)
        writeFile(dir / ("p/code/f" + std::to_string(i) + ".json"), text(4 << 20, i));
    long growth = archivetest::peakGrowthMiB([&] {
        KVDocumentArchive project(dir / "p", folderType, false, std::nullopt, false);
        KVDocumentArchive(dir / "p.korvelx", zipType, true, std::nullopt, true).reflect(project);
        KVDocumentArchive(dir / "p.korvelx", zipType, false, std::nullopt, true).regenerateManifest();
    });
    EXPECT_GE(growth, 0);
    EXPECT_LT(growth, 48);
}
