// Putting a copy of a folder (or a file) in place so that a half copy is never seen: the copy
// is made in a temporary sibling of the destination and only then takes the destination's
// place. Whoever reads the destination meanwhile sees the old contents or the new, and a
// failed copy leaves the destination as it was.
#pragma once

#include <filesystem>
#include <optional>

#include "Platform/Foundation/Error.h"

namespace kx::InstallCopy {

// Copies `source` to `destination`, replacing what is there; symbolic links inside a folder
// are copied as links. The destination's folder must exist. nullopt on success.
std::optional<Error> copyReplacing(const std::filesystem::path& source, const std::filesystem::path& destination);

// Moves the already complete `replacement` (a sibling of `destination`) into its place; the
// old destination, when there was one, ends up at `replacement` for the caller to remove.
// Where the file system cannot exchange two names, the old destination goes aside as
// ".NAME.old" first (what stands there already is removed, never followed).
std::optional<Error> swapInto(const std::filesystem::path& replacement, const std::filesystem::path& destination);

// Test seam: a non-zero errno makes the exchange fail as the system call would have.
void setExchangeFaultForTesting(int error);

} // namespace kx::InstallCopy
