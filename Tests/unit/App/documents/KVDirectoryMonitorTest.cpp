// The working folder's monitor: what it reports of files and folders, renames at both ends,
// folders that come with files in them, and the moments it must admit to losing events.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <glib.h>

#include "App/documents/container/KVDirectoryMonitor.h"
#include "support/ScopedSetting.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

using namespace kx;

namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& data)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << data;
}

class KVDirectoryMonitorTest : public ::testing::Test {
protected:
    void start()
    {
        monitor = std::make_unique<KVDirectoryMonitor>(
            root, [](const std::string& folder) { return !folder.starts_with(".") && folder.find("/.") == std::string::npos; },
            [this](const std::string& path, bool subtree) { (subtree ? subtrees : paths).insert(path); }, [this] { ++lost; });
    }
    bool saw(const std::string& path) { return kxtest::spinUntil([&] { return paths.contains(path); }, std::chrono::seconds(5)); }

    kxtest::TemporaryDirectory temp;
    fs::path root = temp / "project";
    std::unique_ptr<KVDirectoryMonitor> monitor;
    std::set<std::string> paths, subtrees;
    int lost = 0;

    void SetUp() override { fs::create_directories(root / "design/images"); }
};

TEST_F(KVDirectoryMonitorTest, ReportsFilesWrittenCreatedAndRemovedAtAnyDepth)
{
    start();
    write(root / "README.md", "hello");
    EXPECT_TRUE(saw("README.md"));
    write(root / "design/images/a.png", "png");
    EXPECT_TRUE(saw("design/images/a.png"));
    paths.clear();
    fs::remove(root / "design/images/a.png");
    EXPECT_TRUE(saw("design/images/a.png"));
    EXPECT_EQ(lost, 0);
}

TEST_F(KVDirectoryMonitorTest, ReportsBothEndsOfARename)
{
    write(root / "code/old.js", "x");
    start();
    fs::rename(root / "code/old.js", root / "code/new.js");
    EXPECT_TRUE(saw("code/old.js"));
    EXPECT_TRUE(saw("code/new.js"));
}

TEST_F(KVDirectoryMonitorTest, AFolderThatComesIsWatchedAndItsFilesReported)
{
    start();
    // Made elsewhere with files already in it, then moved in.
    write(temp / "outside/lib/deep/util.js", "u");
    write(temp / "outside/index.js", "i");
    fs::rename(temp / "outside", root / "code");
    EXPECT_TRUE(saw("code/index.js"));
    EXPECT_TRUE(saw("code/lib/deep/util.js"));
    // And what changes in it later.
    write(root / "code/lib/deep/more.js", "m");
    EXPECT_TRUE(saw("code/lib/deep/more.js"));

    // A folder that goes is reported as a whole, and nothing below it is watched any more.
    fs::rename(root / "code", temp / "gone");
    EXPECT_TRUE(kxtest::spinUntil([&] { return subtrees.contains("code"); }, std::chrono::seconds(5)));
    paths.clear();
    write(temp / "gone/lib/deep/after.js", "a");
    write(root / "marker", "m");
    EXPECT_TRUE(saw("marker"));
    EXPECT_FALSE(paths.contains("code/lib/deep/after.js"));
}

TEST_F(KVDirectoryMonitorTest, FoldersLeftOutAreNotWatched)
{
    fs::create_directories(root / ".cache/images/512");
    start();
    const auto watches = monitor->watchCount();
    write(root / ".cache/images/512/x.png", "x");
    write(root / "marker", "m");
    EXPECT_TRUE(saw("marker"));
    EXPECT_FALSE(paths.contains(".cache/images/512/x.png"));
    fs::create_directories(root / ".git/objects");
    write(root / "marker2", "m");
    EXPECT_TRUE(saw("marker2"));
    EXPECT_EQ(monitor->watchCount(), watches);
}

TEST_F(KVDirectoryMonitorTest, AnOverflowingQueueIsAdmitted)
{
    start();
    // The kernel's queue holds 16,384 events by default; the main loop does not turn meanwhile.
    std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
    int limit = 16384;
    limitFile >> limit;
    for (int i = 0; i < limit / 2 + 100; ++i)
        write(root / ("f" + std::to_string(i)), "x");
    EXPECT_TRUE(kxtest::spinUntil([&] { return lost > 0; }, std::chrono::seconds(20)));
    EXPECT_TRUE(monitor->hasLostEvents());
}

TEST_F(KVDirectoryMonitorTest, RunningOutOfWatchesIsAdmitted)
{
    start();
    EXPECT_FALSE(monitor->hasLostEvents());
    kxtest::ScopedSetting fault(KVDirectoryMonitor::setWatchFaultForTesting, ENOSPC);
    fs::create_directories(root / "code/new");
    EXPECT_TRUE(kxtest::spinUntil([&] { return lost > 0; }, std::chrono::seconds(5)));
    EXPECT_TRUE(monitor->hasLostEvents());
}

TEST_F(KVDirectoryMonitorTest, TheRootGoingIsAdmitted)
{
    start();
    fs::rename(root, temp / "moved");
    EXPECT_TRUE(kxtest::spinUntil([&] { return lost > 0; }, std::chrono::seconds(5)));
}

TEST_F(KVDirectoryMonitorTest, ABurstIsHandedOverInTurnsOfTheMainLoopEachPathOnceInOrder)
{
    struct Seen {
        std::vector<std::string> reports;
        int turnsBetween = 0; // turns of the main loop while the burst was being reported
    } seen;
    constexpr std::size_t files = 40;
    monitor = std::make_unique<KVDirectoryMonitor>(
        root, [](const std::string&) { return true; },
        [&seen](const std::string& path, bool) {
            seen.reports.push_back(path);
            g_usleep(1000); // each report reads and hashes a file
        },
        [] {});
    std::vector<std::string> written;
    for (std::size_t i = 0; i < files; ++i) {
        written.push_back("design/" + std::to_string(100 + i));
        write(root / written.back(), "created, written and closed: one report");
    }
    guint ticker = g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            auto& seen = *static_cast<Seen*>(data);
            if (!seen.reports.empty() && seen.reports.size() < files)
                ++seen.turnsBetween;
            return G_SOURCE_CONTINUE;
        },
        &seen, nullptr);
    EXPECT_TRUE(kxtest::spinUntil([&] { return seen.reports.size() >= files; }, std::chrono::seconds(10)));
    kxtest::spinFor(std::chrono::milliseconds(50));
    g_source_remove(ticker);
    EXPECT_EQ(seen.reports, written);
    EXPECT_GT(seen.turnsBetween, 0);

    // Asked for, what waits (in the kernel or in the queue) is reported at once, each path once.
    seen.reports.clear();
    write(root / "design/late", "1");
    write(root / "design/later", "2");
    monitor->reportWaitingChanges();
    EXPECT_EQ(seen.reports, (std::vector<std::string>{"design/late", "design/later"}));
}

TEST_F(KVDirectoryMonitorTest, AMonitorMayGoFromItsOwnReport)
{
    monitor = std::make_unique<KVDirectoryMonitor>(
        root, [](const std::string&) { return true; }, [this](const std::string&, bool) { monitor.reset(); }, [] {});
    write(root / "a", "a");
    write(root / "b", "b");
    EXPECT_TRUE(kxtest::spinUntil([&] { return !monitor; }, std::chrono::seconds(5)));
    kxtest::spinFor(std::chrono::milliseconds(50));
}

} // namespace
