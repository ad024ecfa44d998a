#include "App/archive/KVZipArchiveBacking.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "App/archive/KVSaveStaging.h"
#include "App/archive/KVSha1.h"
#include "App/archive/zip/KVZipReader.h"
#include "App/archive/zip/KVZipWriter.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace fs = std::filesystem;
using Manifest = KVDocumentArchiveManifest;

namespace {

// Hands on another reader's bytes and records their manifest entry when they are through.
class HashingReader : public KVDataReader {
public:
    HashingReader(std::unique_ptr<KVDataReader> source, Manifest::Entry& result)
        : source_(std::move(source))
        , result_(result)
    {
    }
    std::span<const std::byte> read() override
    {
        auto chunk = source_->read();
        if (chunk.empty()) {
            if (!finished_)
                result_ = Manifest::Entry(count_, digest_.finish());
            finished_ = true;
        } else {
            digest_.update(chunk);
            count_ += static_cast<std::int64_t>(chunk.size());
        }
        return chunk;
    }

private:
    std::unique_ptr<KVDataReader> source_;
    Manifest::Entry& result_;
    KVSha1 digest_;
    std::int64_t count_ = 0;
    bool finished_ = false;
};

} // namespace

KVZipArchiveBacking::KVZipArchiveBacking(fs::path url, bool createIfNeeded, bool writesManifest, const KVZipLimits& limits)
    : KVZipArchiveBacking(Unchecked{}, std::move(url), writesManifest, limits)
{
    KVSaveStaging::recover(KVSaveStaging::resolve(url_));
    struct stat info {};
    if (createIfNeeded && ::stat(url_.c_str(), &info) != 0 && errno == ENOENT) {
        readsMissingAsEmpty_ = true;
        fileIsExpected_ = false;
        return;
    }
    reader();
}

KVZipArchiveBacking::KVZipArchiveBacking(Unchecked, fs::path url, bool writesManifest, const KVZipLimits& limits)
    : url_(std::move(url))
    , writesManifest_(writesManifest)
    , limits_(limits)
{
}

std::shared_ptr<KVDocumentArchiveBacking> KVZipArchiveBacking::moved(const fs::path& to) const
{
    return std::shared_ptr<KVZipArchiveBacking>(new KVZipArchiveBacking(Unchecked{}, to, writesManifest_, limits_));
}

bool KVZipArchiveBacking::isMissingAndEmpty() const
{
    struct stat info {};
    return readsMissingAsEmpty_ && ::stat(url_.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

std::shared_ptr<KVZipReader> KVZipArchiveBacking::reader() const
{
    std::lock_guard lock(mutex_);
    struct stat info {};
    if (::stat(url_.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw KVDocumentArchiveError::notFound(url_.string());
        throw KVDocumentArchiveError::unknown(Error::fromErrno(errno, "Cannot open " + url_.string()));
    }
    Identity now{info.st_dev, info.st_ino, info.st_size,
                 std::int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
    if (!reader_ || now != identity_) {
        reader_ = KVZipReader::open(url_, limits_);
        identity_ = now;
    }
    return reader_;
}

std::unique_ptr<KVDataReader> KVZipArchiveBacking::dataReader(const std::string& relativePath) const
{
    if (isMissingAndEmpty())
        throw KVDocumentArchiveError::notFound(relativePath);
    auto zip = reader();
    const auto* record = zip->find(relativePath);
    if (!record || record->isDirectory())
        throw KVDocumentArchiveError::notFound(relativePath);
    return zip->reader(*record);
}

void KVZipArchiveBacking::forEach(const Body& body) const
{
    if (isMissingAndEmpty())
        return;
    auto zip = reader();
    auto budget = KVZipReader::makeBudget();
    for (const auto& record : zip->records()) {
        if (record.isDirectory() || !KVDocumentArchive::shouldInclude(record.name))
            continue;
        auto entry = zip->reader(record, budget);
        body(record.name, *entry);
    }
}

void KVZipArchiveBacking::forEachConcurrently(const Body& body) const
{
    if (isMissingAndEmpty())
        return;
    auto zip = reader();
    auto budget = KVZipReader::makeBudget();
    std::vector<const KVZipReader::Record*> files;
    for (const auto& record : zip->records())
        if (!record.isDirectory() && KVDocumentArchive::shouldInclude(record.name))
            files.push_back(&record);
    ThreadPool::bulk().forEachIndex(files.size(), [&](std::size_t index) {
        auto entry = zip->reader(*files[index], budget);
        body(files[index]->name, *entry);
    });
}

void KVZipArchiveBacking::reflect(const KVDocumentArchive& contentsOf, const Manifest& updating, Manifest& updatedManifest)
{
    // The walk only lists the files; their bytes are read (and hashed) while the package is
    // written, on every processor, and the manifest made from the hashes is written last. A
    // link at the URL is saved through: the package it points at is written.
    const fs::path target = KVSaveStaging::resolve(url_);
    KVSaveStaging::recover(target);
    auto source = contentsOf.backing();
    Manifest written{updating.uuid, Manifest::Files()};
    KVZipWriter writer(target, limits_, fileIsExpected_ ? KVSaveStaging::Target::existing : KVSaveStaging::Target::any);
    std::uint64_t manifestLength = 0;
    contentsOf.backing()->forEach([&](const std::string& path, KVDataReader& reader) {
        if (!KVArchivePath::isSafeRelativePath(path) || path.back() == '/')
            throw KVDocumentArchiveError::invalidBacking(source->url().string(), "The file name “" + KVArchivePath::displayName(path)
                                                                                     + "” leads outside the project.");
        auto& entry = (*written.files)[path];
        writer.add(path, [source, path, &entry] { return std::make_unique<HashingReader>(source->dataReader(path), entry); },
                   reader.expectedSize());
        manifestLength += KVDocumentArchive::manifestLengthPerFile(path);
    });
    if (writesManifest_) {
        KVDocumentArchive::checkManifestLength(manifestLength, target);
        writer.add(std::string(KVDocumentArchive::relativePathForManifest),
                   [&written, target] {
                       return std::make_unique<KVMemoryDataReader>(std::make_shared<const std::string>(KVDocumentArchive::manifestText(written, target)));
                   },
                   std::nullopt, KVZipWriter::Order::afterEarlierEntries);
    }
    auto forget = [&] {
        std::lock_guard lock(mutex_);
        reader_.reset();
    };
    try {
        writer.commit();
    } catch (const KVDocumentArchiveError& error) {
        if (error.newVersionInPlace()) {
            forget();
            fileIsExpected_ = true;
            updatedManifest = std::move(written);
        }
        throw;
    }
    forget();
    fileIsExpected_ = true;
    updatedManifest = std::move(written);
}

std::optional<DateFormat::Clock::time_point> KVZipArchiveBacking::contentModificationDate() const
{
    struct stat info {};
    if (::stat(url_.c_str(), &info) != 0)
        return std::nullopt;
    return timeOf(info.st_mtim);
}

} // namespace kx
