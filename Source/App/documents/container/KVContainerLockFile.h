// The ".korvel-lock" file of a project folder: the owning process id in decimal, nothing
// else, so that another instance finds a lock naming a live process. Beside the text an
// open-file-description lock (F_OFD_SETLK) is held on the file while the folder is in use, so
// that two instances cannot both take it between reading and writing it. One holder per folder
// and process, shared by every container of that folder in the process: the file goes with
// the last of them. Main thread only.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>

namespace kx {

class KVContainerLockFile : public std::enable_shared_from_this<KVContainerLockFile> {
public:
    static constexpr const char* fileName = ".korvel-lock";

    // The lock of `folder`, taken over when it is stale: missing, not a number, naming this
    // process, an ended process, a zombie or a program whose name lacks "korvel". Throws
    // KVDocumentError containerAlreadyInUse when another live instance holds it. A lock file
    // that cannot be written (a read-only folder) is let be.
    static std::shared_ptr<KVContainerLockFile> acquire(const std::filesystem::path& folder);
    // Removes the file when it still names this process, or is the file held and names nobody
    // (a full disk kept the id out); one that names another process is left with a warning. A
    // lock never taken (refused, or not writable), or whose file went with its folder, is let be
    // without a word.
    ~KVContainerLockFile();
    KVContainerLockFile(const KVContainerLockFile&) = delete;
    KVContainerLockFile& operator=(const KVContainerLockFile&) = delete;

    // After the folder was replaced or the file removed under us: takes the lock of the file
    // now at its place (written anew when missing). Throws like acquire.
    void refresh();

    // The folder moved (renamed, or to the Trash) with the lock file in it: the lock is that
    // file there from now on, given back there.
    void folderDidMove(const std::filesystem::path& to);

    const std::filesystem::path& folder() const { return folder_; }
    // True while the file lock is held (false where the file system has none).
    bool holdsFileLock() const { return fd_ >= 0 && locked_; }

    // Whether `pid` is a live process (not a zombie) whose executable's name, in lower case,
    // contains "korvel".
    static bool isLiveKorvelProcess(pid_t pid);

private:
    explicit KVContainerLockFile(std::filesystem::path folder);
    // Opens, locks and checks the file at its place, then writes our id into it.
    void take();
    void release();

    std::filesystem::path folder_;
    std::string key_;
    int fd_ = -1;
    bool locked_ = false;
    // Our id was written into the file at some point: only then is it ours to remove.
    bool taken_ = false;
};

} // namespace kx
