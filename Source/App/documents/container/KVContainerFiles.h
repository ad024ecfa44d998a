// File operations of the working container that never follow a link out of the project
// folder and never replace a file they were not meant to.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Foundation/Error.h"

namespace kx::KVContainerFiles {

// A name that can only be one file inside its folder and that a project can store, by the
// archive's own rule (KVArchivePath): not empty, valid UTF-8, no "/", no backslash, no NUL, not "."
// or "..". Names are checked with it where they come in, so that whatever is added can be saved.
bool isPlainFileName(std::string_view name);

// Creates `relativeFolder` (safe, "/"-separated) under `root` with its missing folders. A
// component that is a link or not a folder is refused: nothing is made through it.
std::optional<Error> makeFolders(const std::filesystem::path& root, std::string_view relativeFolder);

// Writes a file that must not exist yet: a temporary file beside it, renamed into place only
// when nothing took the name meanwhile (the error's code is EEXIST then).
std::optional<Error> writeNewFile(const std::filesystem::path& target, std::string_view data, bool flush);
// The same for a copy of the file at `source`.
std::optional<Error> copyNewFile(const std::filesystem::path& source, const std::filesystem::path& target);
// The same for a copy of the regular file open at `sourceDescriptor` (not closed here);
// `source` names it in errors.
std::optional<Error> copyNewFile(int sourceDescriptor, const std::filesystem::path& source,
                                 const std::filesystem::path& target);
// Puts `data` in place of whatever `target` is (a link is replaced, never written through).
std::optional<Error> replaceFile(const std::filesystem::path& target, std::string_view data, bool flush);
// Puts a symbolic link to `destination` in place of whatever `link` is.
std::optional<Error> replaceLink(const std::filesystem::path& link, const std::filesystem::path& destination);

// Makes a file written without flushing durable, with its folder's entry; errors are let be.
void flush(const std::filesystem::path& path);

// The bytes of a regular file, not through a link in its last component, up to `maximum`
// bytes; the error otherwise (ENOENT when there is none, EFBIG when it is larger).
struct ReadResult {
    std::optional<std::string> data;
    Error error;
};
ReadResult readRegularFile(const std::filesystem::path& path, std::uint64_t maximum, bool dropFromCache = false);

} // namespace kx::KVContainerFiles
