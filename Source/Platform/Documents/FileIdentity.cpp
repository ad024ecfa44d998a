#include "Platform/Documents/FileIdentity.h"

#include <sys/stat.h>

namespace kx {

std::optional<FileIdentity> FileIdentity::of(const std::filesystem::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    FileIdentity identity;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = info.st_size;
    identity.modifiedNanoseconds = std::int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    identity.isDirectory = S_ISDIR(info.st_mode);
    return identity;
}

std::chrono::system_clock::time_point FileIdentity::modificationDate() const
{
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(modifiedNanoseconds)));
}

} // namespace kx
