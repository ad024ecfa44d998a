#include "App/archive/KVArchivePath.h"

#include <cstdint>

#include "App/archive/KVDocumentArchiveError.h"
#include "Platform/Foundation/Text.h"
#include "Services/runtime/JSONWriter.h"

namespace kx::KVArchivePath {

std::string displayName(std::string_view name)
{
    static constexpr size_t longest = 200;
    std::string shown;
    size_t i = 0;
    while (i < name.size() && shown.size() < longest) {
        auto byte = static_cast<std::uint8_t>(name[i]);
        size_t length = byte < 0x80 ? 1 : (byte & 0xE0) == 0xC0 ? 2 : (byte & 0xF0) == 0xE0 ? 3 : (byte & 0xF8) == 0xF0 ? 4 : 0;
        if (length > 1 && i + length <= name.size() && isValidUTF8(name.substr(i, length))) {
            shown.append(name.substr(i, length));
            i += length;
            continue;
        }
        if (byte == 0) {
            shown += "\\0";
        } else if (byte < 0x20 || byte == 0x7F || byte >= 0x80) {
            shown += "\\x";
            shown += hexDigit(byte >> 4, LetterCase::upper);
            shown += hexDigit(byte, LetterCase::upper);
        } else {
            shown += static_cast<char>(byte);
        }
        ++i;
    }
    if (i < name.size())
        shown += "…";
    return shown;
}

Error unstorableNameError(std::string_view name)
{
    return Error(KVDocumentArchiveError::domain, static_cast<int>(KVDocumentArchiveError::Code::unknown),
                 "The file “" + displayName(name) + "” has a name that can’t be stored in a project.",
                 "Rename the file so that its name has no backslash and is valid UTF-8.");
}

bool isSafeRelativePath(std::string_view path)
{
    if (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    if (path.empty() || path.front() == '/' || !isValidUTF8(path))
        return false;
    if (path.find('\0') != std::string_view::npos || path.find('\\') != std::string_view::npos)
        return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        std::string_view component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == "..")
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace kx::KVArchivePath
