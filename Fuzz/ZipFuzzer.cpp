// libFuzzer target: arbitrary bytes as a project zip file. Opening checks the directory,
// reading inflates every entry under small limits, and a manifest entry is decoded as it
// streams; anything but a KVDocumentArchiveError (a crash, a hang, a leak, another exception)
// is a fault.
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVDocumentArchiveManifestReader.h"
#include "App/archive/zip/KVZipReader.h"

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
    try {
        auto zip = KVZipReader::open("/proc/self/fd/" + std::to_string(fd), limits);
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
    }
    return 0;
}
