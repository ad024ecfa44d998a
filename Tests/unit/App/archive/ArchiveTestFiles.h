// Small file helpers shared by the archive tests.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "App/archive/KVDataReader.h"
#include "support/ChildProcess.h"
#include "support/SourceLocation.h"
#include "support/Spin.h"
#include "support/TestPaths.h"

namespace archivetest {

using kxtest::writeFile;

// The type identifiers of the two package formats.
inline const std::string zipType = "com.korvel.projectzip";
inline const std::string folderType = "com.korvel.projectfolder";
// A project identifier in the form the manifest holds.
inline const std::string aUuid = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";

// `length` random bytes, the same for the same seed.
inline std::string noise(size_t length, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

inline std::string readAll(kx::KVDataReader& reader)
{
    std::string text;
    for (auto chunk = reader.read(); !chunk.empty(); chunk = reader.read())
        text.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    return text;
}

// Every file under `root`, hidden ones included, with its contents.
inline std::map<std::string, std::string> tree(const std::filesystem::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        if (!item.is_regular_file())
            continue;
        std::ifstream in(item.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        files[item.path().lexically_relative(root).generic_string()] = text.str();
    }
    return files;
}

// A fresh folder on a memory file system where there is one (/dev/shm), else under the
// temporary folder: tests that save many times in a row then wait for no disk, whatever else
// the machine is writing. Removed when the object goes.
class MemoryDirectory {
public:
    MemoryDirectory()
    {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0)
            base = std::filesystem::temp_directory_path();
        std::string pattern = (base / "kxtest-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~MemoryDirectory()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    MemoryDirectory(const MemoryDirectory&) = delete;
    MemoryDirectory& operator=(const MemoryDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

using kxtest::waitForChild;

// Starts `body` in a child process; its result is the child's exit status.
inline pid_t startChild(const std::function<int()>& body)
{
    pid_t child = ::fork();
    if (child == 0) {
        int result = 1;
        try {
            result = body();
        } catch (...) {
        }
        ::_exit(result);
    }
    return child;
}

// Runs `body` in a child process and, with `killAfter`, kills it with SIGKILL that long after
// it started. The wait status.
inline int runInChild(const std::function<int()>& body, std::optional<std::chrono::microseconds> killAfter = std::nullopt)
{
    const pid_t child = startChild(body);
    if (child < 0)
        return -1;
    if (killAfter) {
        // Only the moment of the kill depends on this wait; what the test checks holds for any.
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(*killAfter);
        timespec delay{static_cast<time_t>(seconds.count()), static_cast<long>((*killAfter - seconds).count() * 1000)};
        while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
        }
        ::kill(child, SIGKILL);
    }
    return waitForChild(child);
}

// Runs `body` in a child process and kills it with SIGKILL once `killWhen` holds (when it does
// not within a minute, the test fails and the child is killed all the same). The wait status.
inline int runInChild(const std::function<int()>& body, const std::function<bool()>& killWhen,
                      kxtest::SourceLocation where = kxtest::SourceLocation::current())
{
    const pid_t child = startChild(body);
    if (child < 0)
        return -1;
    EXPECT_TRUE(kxtest::spinUntil(killWhen, std::chrono::seconds(60), where)) << "the child never came to the moment of its kill";
    ::kill(child, SIGKILL);
    return waitForChild(child);
}

// The peak resident memory of this process (VmHWM), in KiB.
inline long peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    return -1;
}

// How far the peak memory of a child process running `body` rose above what it held when it
// began, in MiB; -1 when the child failed. The child first hands the heap it inherited back to
// the system and restarts its high-water mark there, so that only what `body` takes counts.
inline long peakGrowthMiB(const std::function<void()>& body)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    int status = runInChild([&] {
        ::close(pipeFds[0]);
        ::malloc_trim(0);
        std::ofstream("/proc/self/clear_refs") << "5";
        long before = peakResidentKiB();
        body();
        long growth = (peakResidentKiB() - before) / 1024;
        return before >= 0 && ::write(pipeFds[1], &growth, sizeof(growth)) == sizeof(growth) ? 0 : 1;
    });
    ::close(pipeFds[1]);
    long growth = -1;
    if (::read(pipeFds[0], &growth, sizeof(growth)) != sizeof(growth) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        growth = -1;
    ::close(pipeFds[0]);
    return growth;
}

} // namespace archivetest
