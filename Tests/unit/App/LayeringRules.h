// The include rules of Source/: Platform includes nothing of Services or App, Services/runtime
// only Platform/Foundation and itself, Services/generated nothing of App. Among the App folders
// the faces file (Source/App/FACES) rules: each folder (and each sub-folder with a "uses:" line
// of its own) includes only from the folders its "uses:" line names, which run one way with no
// circle; a file reaches another App folder (as main.cpp does every one) only through the
// headers of that folder's face; and a face includes of its own folder only what is in the face
// too, so that nothing behind a face is reached through it. Paths are relative to Source/ and
// spelled with "/".
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kxtest {

class LayeringRules {
public:
    // The headers of the faces, and for each folder with a "uses:" line the folders it names.
    LayeringRules(std::set<std::string> faces, std::map<std::string, std::set<std::string>> uses);

    // Reads a faces file of `sourceRoot`. Entries that are no existing App header, "uses:" lines
    // that name no App folder, App folders without a "uses:" line and a circle of "uses:" lines
    // are added to `errors`, with their line where they have one.
    static LayeringRules fromFacesFile(const std::filesystem::path& facesFile, const std::filesystem::path& sourceRoot,
                                       std::vector<std::string>& errors);

    // Why `file` may not include `included` (both resolved paths under Source/), or nothing.
    std::optional<std::string> breakOf(const std::string& file, const std::string& included) const;

    // The folder whose "uses:" line rules `path` (the longest that holds it), or "".
    std::string folderOf(const std::string& path) const;

    struct Scan {
        std::vector<std::string> breaks; // "file:line: includes X: rule"
        int files = 0;
        int includes = 0; // includes of our own headers
    };
    // Checks every #include line of every source and header under `sourceRoot`.
    Scan scanTree(const std::filesystem::path& sourceRoot) const;

private:
    std::set<std::string> faces_;
    std::map<std::string, std::set<std::string>> uses_;
};

} // namespace kxtest
