// Checks for relative paths inside a package. Names read from a zip file or handed in by other
// code become file-system paths only when they pass these.
#pragma once

#include <string>
#include <string_view>

#include "Platform/Foundation/Error.h"

namespace kx::KVArchivePath {

// True for a path that stays inside its folder: not empty, not absolute, valid UTF-8, no NUL,
// no backslash, and no empty, "." or ".." component. One trailing "/" (a folder) is allowed.
bool isSafeRelativePath(std::string_view path);

// A name from outside (a zip entry, a manifest, a folder) as an error text may show it:
// control characters and bytes that are not UTF-8 escaped ("\0", "\x1F"), and a very long
// name cut short with an ellipsis.
std::string displayName(std::string_view name);

// The error of a file whose name a project cannot store (see isSafeRelativePath).
Error unstorableNameError(std::string_view name);

} // namespace kx::KVArchivePath
