// The temporary file or folder of a save. It lies beside the package it will replace (same
// folder, so that the switch is one rename on one file system), is named
// ".NAME.korvel-save-XXXXXX" and is locked (flock) while its save runs: a leftover that nobody
// holds locked is what a crashed save left, and the next open or save of the package removes it.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

#include "Platform/Foundation/FileDescriptor.h"

namespace kx {

class KVSaveStaging {
public:
    enum class Kind { file, folder };
    // What the save expects at the target.
    enum class Target {
        any,      // the package, or nothing for a new one
        existing, // the package it replaces: when that is gone already, nothing is staged
    };

    // Creates the staged file or folder beside `target` (resolved, see `resolve`), empty, with
    // the mode of the target or of a new file or folder, and holds what stands at the target
    // now: that, and only that, is what commit replaces. Throws KVDocumentArchiveError::unknown.
    KVSaveStaging(std::filesystem::path target, Kind kind, Target expected = Target::any);
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
    // What stood at the target when the staging was made is checked in the same step where the
    // platform allows (an exchange that fails on a missing target, then a look at what came
    // out): a package moved, trashed or deleted meanwhile is not put back at its old place, and
    // one that another program put there is not replaced; nothing is put where nothing stood
    // and something stands now. Where there is no exchange, the check comes just before the
    // rename. Throws unknown with the target unchanged, or savedButNotFlushed when only the
    // final flush failed.
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

    // Test seam: called once the staged file or folder is made ("stage") and before each step of
    // a switch ("exchange", "rename", "flush"); a non-zero errno makes that step fail as the
    // system call would have.
    using FaultHook = std::function<int(std::string_view step)>;
    static void setFaultHookForTesting(FaultHook hook);

private:
    // Exchanges the staged item with the one held at the target; the old one then lies at
    // path_. Falls back to a check and a rename where the file system cannot exchange (a folder
    // is moved aside first, into `old`).
    void replaceHeld(const std::string& what, std::filesystem::path& old);

    std::filesystem::path target_;
    std::filesystem::path path_;
    Kind kind_;
    int fd_ = -1;
    // What stood at the target when the staging was made (O_PATH), or none.
    FileDescriptor held_;
    bool staged_ = false;
};

} // namespace kx
