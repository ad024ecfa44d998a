// Legacy ("korvel") project folders become new untitled project documents: what is still of
// use is copied into a fresh folder in the current layout, which the new document reads as its
// template. The legacy folder is only read, and nothing is copied through a symbolic link: a
// link inside someone else's folder must not pull other files into the project.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kx {

class KVDocument;

class KVDocumentMigration {
public:
    // The copy table: legacy path -> new path, both relative.
    static const std::vector<std::pair<std::string, std::string>>& copyTable();
    static const std::vector<std::string>& imageFolders();
    static const std::vector<std::string>& imageExtensions();
    static constexpr const char* imageDestination = "design/images";

    // newDocumentForDotKorvelDirectoryAt: a new untitled document, named after the legacy
    // folder ("Untitled (Landing Page)"). Throws what making the document throws.
    static std::shared_ptr<KVDocument> newDocument(const std::filesystem::path& legacyFolder);

    // The working folder of a migration, under the application's cache folder.
    static std::filesystem::path workingFolderBase();

    // Copies `source` (a file or a folder with all it holds) to `destination` without following
    // links: links are left out, and so is anything that is neither a file nor a folder.
    static void copyWithoutLinks(const std::filesystem::path& source, const std::filesystem::path& destination);
};

} // namespace kx
