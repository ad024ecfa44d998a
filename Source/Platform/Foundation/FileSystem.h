// File operations that keep the user's data safe.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Platform/Foundation/Error.h"

namespace kx::FileSystem {

namespace fs = std::filesystem;

// Writes `bytes` to `target` so that the target holds either its old or its new contents,
// never a mix: a temporary file in the same folder, flushed, renamed over the target, then the
// folder flushed. Creates missing parent folders. nullopt on success.
std::optional<Error> atomicWrite(const fs::path& target, std::span<const std::byte> bytes);
std::optional<Error> atomicWrite(const fs::path& target, std::string_view text);

// The mkstemp pattern of a hidden temporary file beside `target`: "." + its name + ".XXXXXX",
// the name shortened (at a character boundary) so that the file fits wherever the target does.
std::string temporaryPattern(const fs::path& target);

// A file written in pieces and put in place at once. Until `commit`, everything goes to a
// temporary file beside the target; destroying an uncommitted writer removes it.
class AtomicFile {
public:
    explicit AtomicFile(fs::path target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; nullopt on success.
    std::optional<Error> open();
    std::optional<Error> write(std::span<const std::byte> bytes);
    std::optional<Error> write(std::string_view text);
    // Flushes, renames over the target and flushes the folder.
    std::optional<Error> commit();
    // Removes the temporary file; the target is untouched.
    void discard();

    const fs::path& temporaryPath() const { return temporary_; }
    const fs::path& target() const { return target_; }
    int fileDescriptor() const { return fd_; }

private:
    fs::path target_;
    fs::path temporary_;
    int fd_ = -1;
};

// Reads a whole file; nullopt when it cannot be read.
std::optional<std::string> readFile(const fs::path& path);

// Flushes a folder's entries to disk (after a rename or a new file in it).
std::optional<Error> flushDirectory(const fs::path& directory);

// The process's file mode creation mask, read without changing it.
mode_t currentUmask();

// Moves a file or folder to the desktop's trash (GIO); nullopt on success.
std::optional<Error> trash(const fs::path& path);

// True when anything stands at `path`, a symbolic link too (followed or not, dangling or not).
bool existsWithoutFollowing(const fs::path& path);

// The canonical path with symbolic links resolved; nullopt when it does not exist.
std::optional<fs::path> realPath(const fs::path& path);

// True when `path`, made absolute and normalised, lies inside `folder` (or is it).
bool isInside(const fs::path& path, const fs::path& folder);

// XDG base folders, with their documented fall-backs under $HOME.
fs::path configHome();
fs::path cacheHome();
fs::path dataHome();

} // namespace kx::FileSystem
