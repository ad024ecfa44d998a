// The kinds of document an application opens: an identifier ("com.example.project"), the name
// shown in panels, the file-name extensions and whether a document of the type is a file or a
// folder. A folder type may insist on content of its own: a folder is of that type only when
// the predicate accepts it, so that an arbitrary folder (the home folder, say) is never taken
// for a document and never has anything written into it.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Error.h"

namespace kx {

struct DocumentType {
    enum class Kind { file, folder };

    std::string identifier;
    std::string name;                    // "Korvel X Project"
    std::vector<std::string> extensions; // without the dot; compared ignoring case
    Kind kind = Kind::file;
    // Documents of the type can be made and saved (an editor), not only read.
    bool isEditor = true;
    // For folders: whether the folder at the path holds a document of this type. Asked only
    // when the extension fits (or the type has none).
    std::function<bool(const std::filesystem::path& folder)> folderMatches;

    bool hasExtension(const std::filesystem::path& path) const;
};

class DocumentTypeTable {
public:
    DocumentTypeTable() = default;
    explicit DocumentTypeTable(std::vector<DocumentType> types);

    const std::vector<DocumentType>& types() const { return types_; }
    const DocumentType* type(const std::string& identifier) const;
    // The first editor type: what new documents are.
    std::optional<std::string> defaultType() const;
    std::string displayName(const std::string& identifier) const;

    // The type of what is at `path` (links followed): a file by its extension, a folder by its
    // extension and its content, earlier types first. The error "cannot open files of this
    // type" when none fits, or the file system's when the path cannot be read.
    std::string typeForContentsOfURL(const std::filesystem::path& path) const;

    // Domain and code of the errors of this table ("The file … couldn’t be opened").
    static constexpr const char* errorDomain = "NSCocoaErrorDomain";
    static constexpr int unsupportedTypeCode = 259;
    static constexpr int noSuchFileCode = 260;

private:
    std::vector<DocumentType> types_;
};

} // namespace kx
