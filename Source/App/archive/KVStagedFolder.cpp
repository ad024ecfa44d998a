#include "App/archive/KVStagedFolder.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "App/archive/KVArchivePath.h"
#include "App/archive/KVDocumentArchive.h"
#include "App/archive/KVDocumentArchiveError.h"
#include "Platform/Foundation/FileSystem.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

std::string join(const std::string& folder, std::string_view name)
{
    return folder.empty() ? std::string(name) : folder + "/" + std::string(name);
}

// Copies a regular file where hard links cannot be made.
void copyFile(int fromFolder, int toFolder, const std::string& path, mode_t mode)
{
    int from = ::openat(fromFolder, path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (from < 0)
        KVDocumentArchiveError::throwErrno(errno, "Cannot read " + path);
    int to = ::openat(toFolder, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (to < 0) {
        int error = errno;
        ::close(from);
        KVDocumentArchiveError::throwErrno(error, "Cannot write " + path);
    }
    ::fchmod(to, mode & 07777);
    std::vector<char> buffer(1 << 16);
    int error = 0;
    for (;;) {
        ssize_t count = ::read(from, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            error = count < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; done < count && !error;) {
            ssize_t written = ::write(to, buffer.data() + done, static_cast<size_t>(count - done));
            if (written < 0 && errno != EINTR)
                error = errno;
            else if (written > 0)
                done += written;
        }
        if (error)
            break;
    }
    ::close(from);
    if (::close(to) != 0 && !error)
        error = errno;
    if (error)
        KVDocumentArchiveError::throwErrno(error, "Cannot copy " + path);
}

} // namespace

KVStagedFolder::KVStagedFolder(int root, fs::path old)
    : root_(root)
    , oldPath_(std::move(old))
{
    old_ = ::open(oldPath_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

KVStagedFolder::~KVStagedFolder()
{
    if (old_ >= 0)
        ::close(old_);
}

void KVStagedFolder::makeFolder(const std::string& path, mode_t mode)
{
    if (::mkdirat(root_, path.c_str(), 0700) != 0) {
        struct stat info {};
        if (errno != EEXIST || ::fstatat(root_, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode))
            inTheWay(path, false);
    }
    ::fchmodat(root_, path.c_str(), mode & 07777, 0);
    folders_.insert(path);
}

void KVStagedFolder::makeFolders(const std::string& folder)
{
    if (folder.empty() || folders_.contains(folder))
        return;
    auto slash = folder.rfind('/');
    if (slash != std::string::npos)
        makeFolders(folder.substr(0, slash));
    // A folder of the old version keeps its mode.
    struct stat info {};
    bool existed = old_ >= 0 && ::fstatat(old_, folder.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode);
    makeFolder(folder, existed ? info.st_mode : (0777 & ~FileSystem::currentUmask()));
}

void KVStagedFolder::write(const std::string& path, const std::function<void(int fd)>& fill)
{
    auto slash = path.rfind('/');
    if (slash != std::string::npos) {
        std::lock_guard lock(foldersMutex_);
        makeFolders(path.substr(0, slash));
    }
    struct stat existing {};
    bool existed = old_ >= 0 && ::fstatat(old_, path.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(existing.st_mode);
    int fd = ::openat(root_, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST || errno == EISDIR || errno == ENOTDIR)
            inTheWay(path, false);
        KVDocumentArchiveError::throwErrno(errno, "Cannot create " + (oldPath_ / path).string());
    }
    ::fchmod(fd, existed ? (existing.st_mode & 07777) : (0666 & ~FileSystem::currentUmask()));
    try {
        fill(fd);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0)
        KVDocumentArchiveError::throwErrno(errno, "Cannot write " + (oldPath_ / path).string());
}

void KVStagedFolder::flush()
{
    // One call for the whole file system: a flush per file would cost a flush of the disk's
    // cache each, seconds for a project of thousands of files.
    if (::syncfs(root_) != 0)
        KVDocumentArchiveError::throwErrno(errno, "Cannot write " + oldPath_.string());
}

void KVStagedFolder::carryOver()
{
    if (old_ >= 0)
        carry("", false);
}

void KVStagedFolder::carry(const std::string& relative, bool wholeTree)
{
    struct Item {
        std::string name;
        unsigned char type;
    };
    std::vector<Item> items;
    {
        int fd = ::openat(old_, relative.empty() ? "." : relative.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        DIR* folder = fd >= 0 ? ::fdopendir(fd) : nullptr;
        if (!folder) {
            if (fd >= 0)
                ::close(fd);
            KVDocumentArchiveError::throwErrno(errno, "Cannot list " + (oldPath_ / relative).string());
        }
        while (auto* entry = ::readdir(folder)) {
            std::string_view name = entry->d_name;
            if (name != "." && name != "..")
                items.push_back({std::string(name), entry->d_type});
        }
        ::closedir(folder);
    }
    struct stat info {};
    if (!relative.empty() && ::fstatat(old_, relative.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0
        && (wholeTree || items.empty() || folders_.contains(relative)))
        makeFolder(relative, info.st_mode); // hidden and empty folders stay; new ones keep their mode

    for (auto& item : items) {
        std::string path = join(relative, item.name);
        if (item.type == DT_UNKNOWN) {
            struct stat itemInfo {};
            if (::fstatat(old_, path.c_str(), &itemInfo, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            item.type = S_ISDIR(itemInfo.st_mode) ? DT_DIR : S_ISREG(itemInfo.st_mode) ? DT_REG : S_ISLNK(itemInfo.st_mode) ? DT_LNK : DT_FIFO;
        }
        if (item.type == DT_DIR) {
            // A folder none of whose files could be a project file goes whole (".cache").
            carry(path, wholeTree || !KVDocumentArchive::shouldInclude(path + "/_"));
            continue;
        }
        // The project's own files are what the new version replaces.
        if (!wholeTree && item.type == DT_REG && KVDocumentArchive::shouldInclude(path) && KVArchivePath::isSafeRelativePath(path))
            continue;
        keep(path, item.type);
    }
}

void KVStagedFolder::keep(const std::string& path, unsigned char type)
{
    auto slash = path.rfind('/');
    if (slash != std::string::npos)
        makeFolders(path.substr(0, slash));
    if (::linkat(old_, path.c_str(), root_, path.c_str(), 0) == 0)
        return;
    int error = errno;
    if (error == EEXIST) {
        // A manifest file that the save wrote anew replaces the old one.
        if (path == KVDocumentArchive::relativePathForManifest && type == DT_REG)
            return;
        inTheWay(path, type == DT_LNK);
    }
    if (error == ENOENT)
        return; // gone meanwhile
    if (error != EPERM && error != EOPNOTSUPP && error != EXDEV && error != EMLINK && error != ENOSYS)
        KVDocumentArchiveError::throwErrno(error, "Cannot keep " + (oldPath_ / path).string());
    // A file system without hard links: regular files and links are copied.
    struct stat info {};
    if (::fstatat(old_, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (S_ISREG(info.st_mode)) {
        copyFile(old_, root_, path, info.st_mode);
    } else if (S_ISLNK(info.st_mode)) {
        std::vector<char> target(static_cast<size_t>(info.st_size) + 1);
        ssize_t length = ::readlinkat(old_, path.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<size_t>(length) >= target.size() || ::symlinkat(std::string(target.data(), static_cast<size_t>(length)).c_str(), root_, path.c_str()) != 0)
            KVDocumentArchiveError::throwErrno(length < 0 ? errno : EIO, "Cannot keep " + (oldPath_ / path).string());
    } else {
        KVDocumentArchiveError::throwErrno(error, "Cannot keep " + (oldPath_ / path).string());
    }
}

void KVStagedFolder::inTheWay(const std::string& path, bool isLink) const
{
    const std::string shown = KVArchivePath::displayName(path);
    std::string name = KVArchivePath::displayName(oldPath_.filename().string());
    throw KVDocumentArchiveError::unknown(Error(
        KVDocumentArchiveError::domain, static_cast<int>(KVDocumentArchiveError::Code::unknown),
        "The project “" + name + "” can’t be saved because “" + shown + "” in its folder is in the way.",
        isLink ? "“" + shown + "” is a symbolic link where the project has a folder; project files are never written through links."
               : "“" + shown + "” stands where the project has a file or folder of the same name.",
        "Move “" + shown + "” out of the project folder and save again."));
}

} // namespace kx
