// Checks for relative paths inside a package. Names read from a zip file or handed in by other
// code become file-system paths only when they pass these.
#pragma once

#include <string_view>

namespace KVArchivePath {

// True for a path that stays inside its folder: not empty, not absolute, valid UTF-8, no NUL,
// no backslash, and no empty, "." or ".." component. One trailing "/" (a folder) is allowed.
bool isSafeRelativePath(std::string_view path);

bool isValidUTF8(std::string_view text);

} // namespace KVArchivePath
