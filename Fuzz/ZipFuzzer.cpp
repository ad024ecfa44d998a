// libFuzzer target: arbitrary bytes as a project zip file. Opening checks the directory,
// reading inflates every entry under small limits, and a manifest entry is decoded as it
// streams; anything but a KVDocumentArchiveError (a crash, a hang, a leak, another exception)
// is a fault. The entries are then read again on several threads at once, sharing one budget:
// that walk must refuse exactly the packages the first one refused.
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVDocumentArchiveManifestReader.h"
#include "App/archive/zip/KVZipReader.h"
#include "Platform/Foundation/ThreadPool.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    static const int fd = ::memfd_create("fuzz.korvelx", MFD_CLOEXEC);
    if (fd < 0)
        std::abort();
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();

    KVZipLimits limits;
    limits.maximumEntries = 1000;
    limits.maximumInflatedBytes = 8 << 20;
    limits.ratioAllowance = 64 << 10;
    std::shared_ptr<KVZipReader> zip;
    bool refused = false;
    try {
        zip = KVZipReader::open("/proc/self/fd/" + std::to_string(fd), limits);
        auto budget = KVZipReader::makeBudget();
        for (const auto& record : zip->records()) {
            if (record.isDirectory())
                continue;
            auto reader = zip->reader(record, budget);
            if (record.name == KVDocumentArchive::relativePathForManifest) {
                KVDocumentArchiveManifestReader(*reader, 1 << 20, 100, [&] { return zip->records().size(); }).read();
                continue;
            }
            while (!reader->read().empty()) {
            }
        }
    } catch (const KVDocumentArchiveError&) {
        refused = true;
    }
    if (!zip)
        return 0;

    static kx::ThreadPool pool(3, "fuzz");
    bool refusedConcurrently = false;
    try {
        auto budget = KVZipReader::makeBudget();
        const auto& records = zip->records();
        pool.forEachIndex(records.size(), [&](std::size_t index) {
            const auto& record = records[index];
            if (record.isDirectory())
                return;
            auto reader = zip->reader(record, budget);
            if (record.name == KVDocumentArchive::relativePathForManifest) {
                KVDocumentArchiveManifestReader(*reader, 1 << 20, 100, [&] { return records.size(); }).read();
                return;
            }
            while (!reader->read().empty()) {
            }
        });
    } catch (const KVDocumentArchiveError&) {
        refusedConcurrently = true;
    }
    if (refused != refusedConcurrently)
        std::abort();
    return 0;
}
