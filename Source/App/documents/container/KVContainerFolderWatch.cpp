// The change tracking of a project folder against the file system.
#include "App/documents/container/KVContainerFolderWatch.h"

#include "App/archive/KVDocumentArchiveError.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

void KVContainerFolderWatch::start(const std::filesystem::path& projectDirectory, KVDirectoryMonitor::Handler changed, Log log)
{
    monitor_.reset();
    monitor_ = std::make_unique<KVDirectoryMonitor>(
        projectDirectory, [](const std::string& folder) { return KVDocumentArchive::shouldInclude(folder + "/_"); }, std::move(changed),
        [this, log = std::move(log)] {
            eventsWereLost_ = true;
            log("File events of the project folder were lost; its file list will be read again");
        });
    if (monitor_->hasLostEvents())
        eventsWereLost_ = true;
}

std::optional<KVContainerFolderWatch::Entry> KVContainerFolderWatch::readEntry(const KVDocumentArchiveBacking& backing,
                                                                               const std::string& relativePath, bool& notFound)
{
    notFound = false;
    try {
        auto reader = backing.dataReader(relativePath);
        return Entry(*reader);
    } catch (const KVDocumentArchiveError& error) {
        notFound = error.code() == KVDocumentArchiveError::Code::notFound;
    }
    return std::nullopt;
}

void KVContainerFolderWatch::startRead(std::shared_ptr<KVDocumentArchiveBacking> backing, const std::string& relativePath, Finish finish)
{
    const std::uint64_t number = ++readCount_;
    pendingReads_.insert_or_assign(relativePath, number);
    ThreadPool::global().async([backing = std::move(backing), relativePath, number, finish = std::move(finish)]() mutable {
        std::optional<Entry> entry;
        bool notFound = false;
        try {
            entry = readEntry(*backing, relativePath, notFound);
        } catch (const std::exception&) {
        }
        MainQueue::async([number, entry = std::move(entry), notFound, finish = std::move(finish)] { finish(number, entry, notFound); });
    });
}

bool KVContainerFolderWatch::finishRead(const std::string& relativePath, std::uint64_t number)
{
    auto pending = pendingReads_.find(relativePath);
    if (pending == pendingReads_.end() || pending->second != number)
        return false;
    pendingReads_.erase(pending);
    return true;
}

} // namespace kx
