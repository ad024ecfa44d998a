// The data sources of a project folder: the providers of the files written on save (the
// editor's document JSON), each with what its file held when last read or written here, the
// stamp the last write left on the file, the writes under way, and the sources another
// program's version of their file holds back until their owner decides. Main thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "App/archive/KVDocumentArchive.h"
#include "App/documents/KVDocumentContainerDataSource.h"
#include "Platform/Foundation/Observable.h"

namespace kx {

class KVContainerDataSources {
public:
    using DataSource = KVDocumentContainerDataSource;
    using Entry = KVDocumentArchive::Manifest::Entry;

    // A data source's file is held in memory whole; past this it is no document of ours.
    static constexpr std::uint64_t maximumDataSourceLength = std::uint64_t(1) << 31;

    // What identifies a file on disk short of its content: a file replaced, written or touched
    // since has another.
    struct FileStamp {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modifiedSeconds = 0, modifiedNanoseconds = 0, changedSeconds = 0, changedNanoseconds = 0;
        static std::optional<FileStamp> of(const std::filesystem::path& path);
        friend bool operator==(const FileStamp&, const FileStamp&) = default;
    };

    // ---- Registration: before the first read or save only ----

    bool areFinal() const { return dataSourcesAreFinal_; }
    void makeFinal() { dataSourcesAreFinal_ = true; }
    // `observer` watches the source for its owner and ends with it.
    void add(const std::string& relativePath, std::shared_ptr<DataSource> dataSource, Observable<bool>::Token observer);
    bool contains(const std::string& relativePath) const { return dataSources_.contains(relativePath); }
    std::shared_ptr<DataSource> find(const std::string& relativePath) const;
    const std::map<std::string, std::shared_ptr<DataSource>>& all() const { return dataSources_; }
    // Whether some source holds content its file does not.
    bool haveDataToBeProvided() const;
    void stopObserving() { dataSourceObservers_.clear(); }

    // ---- Reading ----

    // Hands every source the content of its file, as a read does; a source whose file cannot
    // be read keeps what it holds.
    void load(const std::filesystem::path& projectDirectory);
    // Hands the source of `relativePath` its file's content again, which ends a hold; the
    // error's text when the file cannot be read.
    std::optional<std::string> reload(const std::filesystem::path& projectDirectory, const std::string& relativePath);

    // Whether the file of `relativePath` was empty when last read or written here.
    bool wasEmpty(const std::string& relativePath) const;

    // ---- Another program's version ----

    // Whether `entry`, just read from the file of a source, is neither what was read nor
    // what was written here; it is known from then on.
    bool isOtherVersion(const std::string& relativePath, const Entry& entry);
    bool isHeld(const std::string& relativePath) const { return heldDataSources_.contains(relativePath); }
    void hold(const std::string& relativePath) { heldDataSources_.insert(relativePath); }
    void release(const std::string& relativePath) { heldDataSources_.erase(relativePath); }

    // ---- Writing ----

    void writeBegins(const std::string& relativePath) { ++writingDataSources_[relativePath]; }
    void writeEnds(const std::string& relativePath);
    bool isBeingWritten(const std::string& relativePath) const { return writingDataSources_.contains(relativePath); }
    // The file holds `entry` now, as a write left it (with `stamp`, when the file could be looked at).
    void didWrite(const std::string& relativePath, const Entry& entry, std::optional<FileStamp> stamp);
    // What the file holds when nothing touched it since our last write; a file touched since
    // is no longer ours.
    std::optional<Entry> unchangedSinceWrite(const std::filesystem::path& projectDirectory, const std::string& relativePath);
    // Whether a failed write is the first since one went through (shown to the user once).
    bool isFirstFailure();
    void writeSucceeded() { writeFailureReported_ = false; }

private:
    std::map<std::string, std::shared_ptr<DataSource>> dataSources_;
    std::vector<Observable<bool>::Token> dataSourceObservers_;
    bool dataSourcesAreFinal_ = false;
    // What each source's file held when it was last read or written here.
    KVDocumentArchive::Manifest::Files dataSourceFiles_;
    std::set<std::string> heldDataSources_;
    // The count of writes under way per file.
    std::map<std::string, int> writingDataSources_;
    // The stamp of each source's file as our last write left it.
    std::map<std::string, FileStamp> dataSourceStamps_;
    bool writeFailureReported_ = false;
};

} // namespace kx
