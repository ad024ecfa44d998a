// The data sources of a project folder.
#include "App/documents/container/KVContainerDataSources.h"

#include <sys/stat.h>

#include <algorithm>

#include "App/documents/container/KVContainerFiles.h"

namespace kx {

namespace fs = std::filesystem;

std::optional<KVContainerDataSources::FileStamp> KVContainerDataSources::FileStamp::of(const fs::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileStamp{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                     static_cast<std::uint64_t>(info.st_size), info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
                     info.st_ctim.tv_sec, info.st_ctim.tv_nsec};
}

void KVContainerDataSources::add(const std::string& relativePath, std::shared_ptr<DataSource> dataSource, Observable<bool>::Token observer)
{
    dataSources_.emplace(relativePath, std::move(dataSource));
    dataSourceObservers_.push_back(std::move(observer));
}

std::shared_ptr<KVContainerDataSources::DataSource> KVContainerDataSources::find(const std::string& relativePath) const
{
    auto source = dataSources_.find(relativePath);
    return source == dataSources_.end() ? nullptr : source->second;
}

bool KVContainerDataSources::haveDataToBeProvided() const
{
    return std::any_of(dataSources_.begin(), dataSources_.end(), [](const auto& item) { return item.second->dataNeedsToBeProvided(); });
}

void KVContainerDataSources::load(const fs::path& projectDirectory)
{
    dataSourceFiles_.clear();
    for (const auto& [path, source] : dataSources_) {
        auto content = KVContainerFiles::readRegularFile(projectDirectory / path, maximumDataSourceLength);
        if (!content.data)
            continue;
        dataSourceFiles_.insert_or_assign(path, Entry::of(std::as_bytes(std::span(*content.data))));
        source->load(std::move(*content.data));
    }
}

std::optional<std::string> KVContainerDataSources::reload(const fs::path& projectDirectory, const std::string& relativePath)
{
    auto source = find(relativePath);
    if (!source)
        return std::nullopt;
    auto content = KVContainerFiles::readRegularFile(projectDirectory / relativePath, maximumDataSourceLength);
    if (!content.data)
        return content.error.localizedDescription;
    heldDataSources_.erase(relativePath);
    dataSourceFiles_.insert_or_assign(relativePath, Entry::of(std::as_bytes(std::span(*content.data))));
    source->load(std::move(*content.data));
    return std::nullopt;
}

bool KVContainerDataSources::wasEmpty(const std::string& relativePath) const
{
    auto known = dataSourceFiles_.find(relativePath);
    return known != dataSourceFiles_.end() && known->second.size == 0;
}

bool KVContainerDataSources::isOtherVersion(const std::string& relativePath, const Entry& entry)
{
    auto known = dataSourceFiles_.find(relativePath);
    if (known == dataSourceFiles_.end() || known->second == entry)
        return false;
    known->second = entry;
    return true;
}

void KVContainerDataSources::writeEnds(const std::string& relativePath)
{
    if (auto writing = writingDataSources_.find(relativePath); writing != writingDataSources_.end() && --writing->second == 0)
        writingDataSources_.erase(writing);
}

void KVContainerDataSources::didWrite(const std::string& relativePath, const Entry& entry, std::optional<FileStamp> stamp)
{
    dataSourceFiles_.insert_or_assign(relativePath, entry);
    if (stamp)
        dataSourceStamps_.insert_or_assign(relativePath, *stamp);
    else
        dataSourceStamps_.erase(relativePath);
}

std::optional<KVContainerDataSources::Entry> KVContainerDataSources::unchangedSinceWrite(const fs::path& projectDirectory,
                                                                                         const std::string& relativePath)
{
    auto stamp = dataSourceStamps_.find(relativePath);
    if (stamp == dataSourceStamps_.end())
        return std::nullopt;
    auto known = dataSourceFiles_.find(relativePath);
    if (known != dataSourceFiles_.end() && FileStamp::of(projectDirectory / relativePath) == stamp->second)
        return known->second;
    dataSourceStamps_.erase(stamp);
    return std::nullopt;
}

bool KVContainerDataSources::isFirstFailure()
{
    return !std::exchange(writeFailureReported_, true);
}

} // namespace kx
