// Open (walk every entry of a package and compute its manifest) and save (reflect a project
// folder into a new zip package) of the tree in $KX_ARCHIVE_BENCH_TREE, and SHA-1 as the
// manifest computes it. Each run reports the process's peak memory, and what the operation
// added to what the process held before it (the libraries it links take tens of MiB alone);
// neither may grow with the size of the package. Run each operation in a process of its own
// (--benchmark_filter) for a peak that is its own.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVSha1.h"

using namespace kx;

namespace fs = std::filesystem;

namespace {

fs::path tree()
{
    const char* path = std::getenv("KX_ARCHIVE_BENCH_TREE");
    return path ? fs::path(path) : fs::path();
}

fs::path package()
{
    return tree().parent_path() / "kx-benchmark.korvelx";
}

double peakMemoryMiB()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A line of /proc/self/status in MiB ("VmRSS:" now, "VmHWM:" the peak).
double statusMiB(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(key))
            return std::strtod(line.c_str() + key.size(), nullptr) / 1024.0;
    return 0;
}

std::int64_t treeBytes(const fs::path& root)
{
    std::int64_t total = 0;
    for (const auto& item : fs::recursive_directory_iterator(root))
        if (item.is_regular_file())
            total += static_cast<std::int64_t>(item.file_size());
    return total;
}

void save(benchmark::State& state)
{
    if (tree().empty() || !fs::is_directory(tree())) {
        state.SkipWithError("set KX_ARCHIVE_BENCH_TREE to a project folder");
        return;
    }
    KVDocumentArchive source(tree(), "com.korvel.projectfolder", false, std::nullopt, false);
    const double before = statusMiB("VmRSS:");
    for (auto _ : state) {
        KVDocumentArchive target(package(), "com.korvel.projectzip", true, std::nullopt, true);
        target.reflect(source);
        benchmark::DoNotOptimize(target.manifest());
    }
    state.SetBytesProcessed(state.iterations() * treeBytes(tree()));
    state.counters["peak_MiB"] = peakMemoryMiB();
    state.counters["added_MiB"] = statusMiB("VmHWM:") - before;
}

void open(benchmark::State& state)
{
    if (!fs::exists(package())) {
        state.SkipWithError("run the save benchmark first");
        return;
    }
    std::int64_t bytes = 0;
    const double before = statusMiB("VmRSS:");
    for (auto _ : state) {
        KVDocumentArchive archive(package(), "com.korvel.projectzip", false, std::nullopt, true);
        archive.regenerateManifest();
        bytes = 0;
        for (const auto& [path, entry] : *archive.manifest()->files)
            bytes += entry.size;
        state.counters["files"] = static_cast<double>(archive.manifest()->files->size());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["peak_MiB"] = peakMemoryMiB();
    state.counters["added_MiB"] = statusMiB("VmHWM:") - before;
}

void sha1(benchmark::State& state)
{
    std::vector<std::byte> buffer(KVDataReader::chunkSize);
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::byte>(i * 2654435761u >> 24);
    const int chunks = 256;
    for (auto _ : state) {
        KVSha1 digest;
        for (int i = 0; i < chunks; ++i)
            digest.update(buffer);
        benchmark::DoNotOptimize(digest.finish());
    }
    state.SetBytesProcessed(state.iterations() * chunks * static_cast<std::int64_t>(buffer.size()));
}

} // namespace

BENCHMARK(save)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(open)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(sha1)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
