#include "App/application/InstallCopy.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <unistd.h>

#include "Platform/Foundation/FileSystem.h"
#include "Platform/Foundation/FileSystemBeneath.h"

namespace kx::InstallCopy {

namespace fs = std::filesystem;

namespace {

Error errorFrom(const std::error_code& error, const std::string& what)
{
    return Error(Error::posixDomain, error.value(), what, error.message());
}

int& exchangeFault()
{
    static int fault = 0;
    return fault;
}

} // namespace

std::optional<Error> swapInto(const fs::path& replacement, const fs::path& destination)
{
    if (!FileSystem::existsWithoutFollowing(destination)) {
        if (::rename(replacement.c_str(), destination.c_str()) != 0)
            return Error::fromErrno(errno, "Cannot put " + destination.string() + " in place");
        return std::nullopt;
    }
    // One step where the file system can exchange two names; two renames elsewhere, with the
    // old one put back when the second fails.
    const int fault = exchangeFault();
    if (!fault && ::renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, destination.c_str(), RENAME_EXCHANGE) == 0)
        return std::nullopt;
    const int error = fault ? fault : errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP)
        return Error::fromErrno(error, "Cannot put " + destination.string() + " in place");
    const fs::path old = destination.parent_path() / ("." + destination.filename().string() + ".old");
    // What an install that was cut short between the renames left there; whatever stands at
    // that name (a link too) goes, never what a link points at.
    if (!FileSystem::removeAllBeneath(old.parent_path(), old.filename()))
        return Error(Error::posixDomain, EEXIST, "Cannot put " + destination.string() + " in place",
                     old.string() + " is in the way");
    if (::rename(destination.c_str(), old.c_str()) != 0)
        return Error::fromErrno(errno, "Cannot put " + destination.string() + " in place");
    if (::rename(replacement.c_str(), destination.c_str()) != 0) {
        const int saved = errno;
        ::rename(old.c_str(), destination.c_str());
        return Error::fromErrno(saved, "Cannot put " + destination.string() + " in place");
    }
    if (::rename(old.c_str(), replacement.c_str()) != 0) {
        std::error_code ignored;
        fs::remove_all(old, ignored);
    }
    return std::nullopt;
}

std::optional<Error> copyReplacing(const fs::path& source, const fs::path& destination)
{
    std::error_code error;
    const auto status = fs::symlink_status(source, error);
    if (error || (status.type() != fs::file_type::directory && status.type() != fs::file_type::regular))
        return Error(Error::posixDomain, ENOENT, "Cannot copy " + source.string(), "It is not a folder or a file.");

    // A private folder beside the destination holds the copy until it is complete.
    std::string pattern = FileSystem::temporaryPattern(destination);
    if (!::mkdtemp(pattern.data()))
        return Error::fromErrno(errno, "Cannot copy to " + destination.string());
    const fs::path staging = pattern;
    const fs::path copy = staging / "copy";
    auto cleanUp = [&staging] {
        std::error_code ignored;
        fs::remove_all(staging, ignored);
    };

    if (status.type() == fs::file_type::directory)
        fs::copy(source, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    else
        fs::copy_file(source, copy, error);
    if (error) {
        cleanUp();
        return errorFrom(error, "Cannot copy " + source.string() + " to " + destination.string());
    }
    auto swapped = swapInto(copy, destination);
    cleanUp(); // the copy, or the old destination after the swap
    if (swapped)
        return swapped;
    FileSystem::flushDirectory(destination.parent_path());
    return std::nullopt;
}

void setExchangeFaultForTesting(int error)
{
    exchangeFault() = error;
}

} // namespace kx::InstallCopy
