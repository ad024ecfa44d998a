#include "Platform/Documents/DocumentType.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace kx {

namespace fs = std::filesystem;

namespace {

std::string lowerCased(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string quotedName(const fs::path& path)
{
    return "\u201C" + path.filename().string() + "\u201D";
}

} // namespace

bool DocumentType::hasExtension(const fs::path& path) const
{
    std::string extension = path.extension().string();
    if (extension.empty())
        return false;
    extension = lowerCased(extension.substr(1));
    return std::any_of(extensions.begin(), extensions.end(),
                       [&](const std::string& candidate) { return lowerCased(candidate) == extension; });
}

DocumentTypeTable::DocumentTypeTable(std::vector<DocumentType> types)
    : types_(std::move(types))
{
}

const DocumentType* DocumentTypeTable::type(const std::string& identifier) const
{
    for (const auto& type : types_)
        if (type.identifier == identifier)
            return &type;
    return nullptr;
}

std::optional<std::string> DocumentTypeTable::defaultType() const
{
    for (const auto& type : types_)
        if (type.isEditor)
            return type.identifier;
    return std::nullopt;
}

std::string DocumentTypeTable::displayName(const std::string& identifier) const
{
    const DocumentType* found = type(identifier);
    return found ? found->name : identifier;
}

std::string DocumentTypeTable::typeForContentsOfURL(const fs::path& path) const
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const int failure = errno;
        Error error(errorDomain, failure == ENOENT ? noSuchFileCode : 256,
                    "The file " + quotedName(path) + " couldn\u2019t be opened because "
                        + (failure == ENOENT ? std::string("there is no such file.") : std::string(::strerror(failure)) + "."));
        throw error;
    }
    const bool isFolder = S_ISDIR(info.st_mode);
    for (const auto& type : types_) {
        if (isFolder != (type.kind == DocumentType::Kind::folder))
            continue;
        if (!type.extensions.empty() && !type.hasExtension(path))
            continue;
        if (isFolder && type.folderMatches && !type.folderMatches(path))
            continue;
        return type.identifier;
    }
    throw Error(errorDomain, unsupportedTypeCode,
                "The " + std::string(isFolder ? "folder " : "file ") + quotedName(path) + " couldn\u2019t be opened because it isn\u2019t in the correct format.",
                {}, isFolder ? "A project folder holds its project file or its design folder." : "");
}

} // namespace kx
