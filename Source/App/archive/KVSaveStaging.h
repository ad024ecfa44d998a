// The temporary file or folder of a save. It lies beside the package it will replace (same
// folder, so that the switch is one rename on one file system), is named
// ".NAME.korvel-save-XXXXXX" and is locked (flock) while its save runs: a leftover that nobody
// holds locked is what a crashed save left, and the next open or save of the package removes it.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

namespace kx {

class KVSaveStaging {
public:
    enum class Kind { file, folder };

    // Creates the staged file or folder beside `target` (resolved, see `resolve`), empty, with
    // the mode of the target or of a new file or folder. Throws KVDocumentArchiveError::unknown.
    KVSaveStaging(std::filesystem::path target, Kind kind);
    // Removes whatever is still staged.
    ~KVSaveStaging();
    KVSaveStaging(const KVSaveStaging&) = delete;
    KVSaveStaging& operator=(const KVSaveStaging&) = delete;

    const std::filesystem::path& path() const { return path_; }
    const std::filesystem::path& target() const { return target_; }
    // The staged file, open for reading and writing, or the staged folder.
    int fileDescriptor() const { return fd_; }

    // Puts the staged content in place of the target in one step, once it is on disk (a file is
    // flushed here; a folder's content the caller flushes, see KVStagedFolder::flush): a file by
    // rename, a folder by exchanging it with the old one (renameat2 RENAME_EXCHANGE), after which
    // the old folder is removed. A file system that cannot exchange (NFS, SMB/CIFS, exFAT, FAT
    // before Linux 6.0, most FUSE file systems) gets two renames: the old folder aside as
    // ".NAME.korvel-old-XXXXXX", locked, then the new one in; a crash between the two leaves no
    // folder at the target and the old version beside it, which `recover` puts back.
    // Throws unknown with the target unchanged, or savedButNotFlushed when only the final flush
    // failed.
    void commit();
    // Removes the staged file or folder, if not committed.
    void discard();

    // The file or folder that a save to `url` replaces: symbolic links in its last component
    // followed (saving through a link writes the package it points at), a trailing "/" dropped.
    static std::filesystem::path resolve(const std::filesystem::path& url);
    // Clears what crashed saves of `target` left beside it: leftovers of ours that nobody holds
    // locked are removed, and a target missing because a crash split a two-rename switch gets
    // its previous version back. Never throws; what cannot be removed waits for the next time.
    static void recover(const std::filesystem::path& target) noexcept;

    // Test seam: called before each step of a switch ("exchange", "rename", "flush"); a non-zero
    // errno makes that step fail as the system call would have.
    using FaultHook = std::function<int(std::string_view step)>;
    static void setFaultHookForTesting(FaultHook hook);

private:
    std::filesystem::path target_;
    std::filesystem::path path_;
    Kind kind_;
    int fd_ = -1;
    bool staged_ = false;
};

} // namespace kx
