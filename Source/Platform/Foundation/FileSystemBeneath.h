// Writing, reading and removing below a folder without ever following a symbolic link planted
// there: each folder below `base` is opened with O_NOFOLLOW (and made when missing), and the
// file is reached, made or renamed within the last one. `base` itself is taken as it is.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileDescriptor.h"

namespace kx::FileSystem {

namespace fs = std::filesystem;

// The folder `relative` names below the folder open as `base` (which may be an O_PATH
// descriptor), each step opened without following a link, made when missing and `create` is
// set; none (with the errno in `failure`) when a link, a file or nothing stands in the way.
FileDescriptor openFolderAt(int base, const fs::path& relative, bool create, int& failure);
// Writes `bytes` to `base`/`relative` as atomicWrite does: a temporary file in the target's
// folder, flushed and renamed over the target (a link there is replaced, never followed). An
// error (ELOOP, ENOTDIR) when a link or a file stands where a folder should be; `relative`
// holds no "." or "..".
std::optional<Error> atomicWriteBeneath(const fs::path& base, const fs::path& relative, std::span<const std::byte> bytes);
std::optional<Error> atomicWriteBeneath(const fs::path& base, const fs::path& relative, std::string_view text);
// The regular file at `base`/`relative`, reached as atomicWriteBeneath does, up to
// `maximumSize` bytes; nullopt when it is missing, larger, a link or not a regular file.
std::optional<std::string> readFileBeneath(const fs::path& base, const fs::path& relative,
                                           std::size_t maximumSize = 16 * 1024 * 1024);
// Removes the entry at `base`/`relative` (a file or a link, not a folder) without following
// links on the way; true when something was removed.
bool removeBeneath(const fs::path& base, const fs::path& relative);
// Removes the entry at `base`/`relative`, a folder with all it holds, never following a link
// (a link is removed, not what it points at); true when nothing is left there.
bool removeAllBeneath(const fs::path& base, const fs::path& relative);
// The same for the entry `name` of the folder open as `folder`.
bool removeAllAt(int folder, const std::string& name);

} // namespace kx::FileSystem
