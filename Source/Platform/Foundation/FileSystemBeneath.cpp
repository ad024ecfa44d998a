#include "Platform/Foundation/FileSystemBeneath.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include <glib.h>

#include "Platform/Foundation/FileDescriptor.h"
#include "Platform/Foundation/FileSystem.h"

namespace kx::FileSystem {

namespace {

bool isPlainName(const fs::path& component)
{
    const std::string name = component.string();
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The folder `relative` names below `base`, as openFolderAt does; `base` itself is made when
// missing and `create` is set.
FileDescriptor openFolderBeneath(const fs::path& base, const fs::path& relative, bool create, int& failure)
{
    FileDescriptor folder(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 && create && errno == ENOENT) {
        std::error_code ec;
        fs::create_directories(base, ec);
        folder = FileDescriptor(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (folder.get() < 0) {
        failure = errno;
        return folder;
    }
    return openFolderAt(folder.get(), relative, create, failure);
}

// Empties the folder at `relative` under `root` (open), never following a link. Holds one
// descriptor at a time, however deep the tree.
void removeContents(int root, const std::string& relative)
{
    int fd = ::openat(root, relative.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* folder = ::fdopendir(fd);
    if (!folder) {
        ::close(fd);
        return;
    }
    std::vector<std::string> folders;
    while (auto* item = ::readdir(folder)) {
        std::string_view name = item->d_name;
        if (name == "." || name == "..")
            continue;
        if (::unlinkat(fd, item->d_name, 0) != 0 && (errno == EISDIR || errno == EPERM))
            folders.emplace_back(name);
    }
    ::closedir(folder);
    for (const auto& name : folders) {
        std::string path = relative + "/" + name;
        removeContents(root, path);
        ::unlinkat(root, path.c_str(), AT_REMOVEDIR);
    }
}

Error beneathError(int code, const std::string& what, const fs::path& base, const fs::path& relative)
{
    return Error::fromErrno(code, what + " " + (base / relative).string());
}

} // namespace

FileDescriptor openFolderAt(int base, const fs::path& relative, bool create, int& failure)
{
    FileDescriptor folder(::openat(base, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        failure = errno;
        return folder;
    }
    for (const auto& component : relative) {
        if (!isPlainName(component)) {
            failure = EINVAL;
            return FileDescriptor();
        }
        int next = ::openat(folder.get(), component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(folder.get(), component.c_str(), 0777) != 0 && errno != EEXIST) {
                failure = errno;
                return FileDescriptor();
            }
            next = ::openat(folder.get(), component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            // O_NOFOLLOW on a link gives ELOOP, O_DIRECTORY on a file ENOTDIR.
            failure = errno;
            return FileDescriptor();
        }
        folder = FileDescriptor(next);
    }
    return folder;
}

std::optional<Error> atomicWriteBeneath(const fs::path& base, const fs::path& relative, std::span<const std::byte> bytes)
{
    const fs::path name = relative.filename();
    if (!isPlainName(name))
        return beneathError(EINVAL, "Cannot write", base, relative);
    int failure = 0;
    FileDescriptor folder = openFolderBeneath(base, relative.parent_path(), true, failure);
    if (folder.get() < 0)
        return beneathError(failure, "Cannot reach the folder of", base, relative);

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = fs::path(temporaryPattern(name)).filename().string();
        for (auto at = temporary.rfind("XXXXXX"); at != std::string::npos && at < temporary.size(); ++at)
            temporary[at] = "abcdefghijklmnopqrstuvwxyz0123456789"[g_random_int_range(0, 36)];
        fd = ::openat(folder.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return beneathError(errno, "Cannot create a file beside", base, relative);
    ::fchmod(fd, 0666 & ~currentUmask());
    int error = writeAll(fd, bytes.data(), bytes.size());
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) != 0)
        error = errno;
    if (error) {
        ::unlinkat(folder.get(), temporary.c_str(), 0);
        return beneathError(error, "Cannot write", base, relative);
    }
    ::fsync(folder.get());
    return std::nullopt;
}

std::optional<Error> atomicWriteBeneath(const fs::path& base, const fs::path& relative, std::string_view text)
{
    return atomicWriteBeneath(base, relative, std::as_bytes(std::span(text.data(), text.size())));
}

std::optional<std::string> readFileBeneath(const fs::path& base, const fs::path& relative, std::size_t maximumSize)
{
    const fs::path name = relative.filename();
    int failure = 0;
    FileDescriptor folder = isPlainName(name) ? openFolderBeneath(base, relative.parent_path(), false, failure) : FileDescriptor();
    if (folder.get() < 0)
        return std::nullopt;
    FileDescriptor file(::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)
        || std::size_t(status.st_size) > maximumSize)
        return std::nullopt;
    std::string contents;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        contents.append(buffer, std::size_t(count));
        if (contents.size() > maximumSize)
            return std::nullopt;
    }
    return contents;
}

bool removeBeneath(const fs::path& base, const fs::path& relative)
{
    const fs::path name = relative.filename();
    int failure = 0;
    FileDescriptor folder = isPlainName(name) ? openFolderBeneath(base, relative.parent_path(), false, failure) : FileDescriptor();
    return folder.get() >= 0 && ::unlinkat(folder.get(), name.c_str(), 0) == 0;
}

bool removeAllBeneath(const fs::path& base, const fs::path& relative)
{
    const fs::path name = relative.filename();
    int failure = 0;
    FileDescriptor folder = isPlainName(name) ? openFolderBeneath(base, relative.parent_path(), false, failure) : FileDescriptor();
    return folder.get() >= 0 && removeAllAt(folder.get(), name.string());
}

bool removeAllAt(int folder, const std::string& name)
{
    if (::unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT)
        return true;
    if (errno != EISDIR && errno != EPERM)
        return false;
    FileDescriptor fd(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        return false;
    removeContents(fd.get(), ".");
    return ::unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0;
}

} // namespace kx::FileSystem
