#include "App/archive/KVArchivePath.h"

#include <cstdint>

namespace kx::KVArchivePath {

bool isValidUTF8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<std::uint8_t>(text[i]);
        size_t length;
        std::uint32_t codePoint;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if ((byte & 0xE0) == 0xC0) {
            length = 2;
            codePoint = byte & 0x1F;
        } else if ((byte & 0xF0) == 0xE0) {
            length = 3;
            codePoint = byte & 0x0F;
        } else if ((byte & 0xF8) == 0xF0) {
            length = 4;
            codePoint = byte & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode are not UTF-8.
        static constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < smallest[length] || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string displayName(std::string_view name)
{
    static constexpr size_t longest = 200;
    static constexpr char hex[] = "0123456789ABCDEF";
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
            shown += hex[byte >> 4];
            shown += hex[byte & 0xF];
        } else {
            shown += static_cast<char>(byte);
        }
        ++i;
    }
    if (i < name.size())
        shown += "…";
    return shown;
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
