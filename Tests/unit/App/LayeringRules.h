// The include rules of Source/: Platform includes nothing of Services or App, Services/runtime
// only Platform/Foundation and itself, Services/generated nothing of App, and an App folder
// (or main.cpp) reaches another App folder only through the headers listed in the faces file.
// Paths are relative to Source/ and spelled with "/".
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kxtest {

class LayeringRules {
public:
    explicit LayeringRules(std::set<std::string> faces);

    // Reads a faces file of `sourceRoot`. Entries that are no existing App header are added
    // to `errors`, with their line.
    static LayeringRules fromFacesFile(const std::filesystem::path& facesFile, const std::filesystem::path& sourceRoot,
                                       std::vector<std::string>& errors);

    // Why `file` may not include `included` (both resolved paths under Source/), or nothing.
    std::optional<std::string> breakOf(const std::string& file, const std::string& included) const;

    struct Scan {
        std::vector<std::string> breaks; // "file:line: includes X: rule"
        int files = 0;
        int includes = 0; // includes of our own headers
    };
    // Checks every #include line of every source and header under `sourceRoot`.
    Scan scanTree(const std::filesystem::path& sourceRoot) const;

private:
    std::set<std::string> faces_;
};

} // namespace kxtest
