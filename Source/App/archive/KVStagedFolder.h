// The new version of a folder package as a save builds it, in a staged folder beside the old
// one: the project files written anew, then everything the save leaves alone (hidden files and
// folders, links, empty folders, the manifest when none is written) carried over from the old
// version. Nothing is ever written into the old version, and nothing through a link.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <unordered_set>

namespace kx {

class KVStagedFolder {
public:
    // `root`: the staged folder, open. `old`: the package folder as it is now; it may not exist.
    KVStagedFolder(int root, std::filesystem::path old);
    ~KVStagedFolder();
    KVStagedFolder(const KVStagedFolder&) = delete;
    KVStagedFolder& operator=(const KVStagedFolder&) = delete;

    // Creates the file at a safe relative path, with its folders, with the mode of the old
    // version's file or a new file's mode, and hands its descriptor to `fill`. Throws unknown.
    // Several threads may write files at once.
    void write(const std::string& relativePath, const std::function<void(int fd)>& fill);
    // Hard-links (copies, on a file system without hard links) what the old version has besides
    // its project files. Throws unknown when such a thing is in the way of a new file, as a link
    // where the new version has a folder: the save never drops it and never writes through it.
    void carryOver();
    // Makes everything staged durable. Throws unknown.
    void flush();

private:
    void makeFolders(const std::string& relativeFolder);
    void makeFolder(const std::string& relativePath, mode_t mode);
    void carry(const std::string& relative, bool wholeTree);
    void keep(const std::string& relativePath, unsigned char type);
    [[noreturn]] void inTheWay(const std::string& relativePath, bool isLink) const;

    int root_;
    int old_ = -1;
    std::filesystem::path oldPath_;
    std::mutex foldersMutex_;
    std::unordered_set<std::string> folders_;
};

} // namespace kx
