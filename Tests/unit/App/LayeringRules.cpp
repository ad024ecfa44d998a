#include "unit/App/LayeringRules.h"

#include <algorithm>
#include <fstream>
#include <regex>
#include <utility>

namespace fs = std::filesystem;

namespace kxtest {

namespace {

const std::set<std::string> ourTops = {"Platform", "Services", "App"};

// The first `n` components of a relative path, or "" when it has fewer.
std::string component(const std::string& path, std::size_t n)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            return {};
        start = slash + 1;
    }
    const std::size_t end = path.find('/', start);
    return end == std::string::npos ? std::string() : path.substr(start, end - start);
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string trimmed(std::string text)
{
    const auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.back()))
        text.pop_back();
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    return std::string(first, text.end());
}

bool isSource(const fs::path& path)
{
    static const std::set<std::string> extensions = {".h", ".hpp", ".c", ".cc", ".cpp", ".inl", ".ipp"};
    return extensions.count(path.extension().string()) > 0;
}

// Where an include lands under Source/, as the compiler looks: a quoted name beside the
// including file first, then from Source/. Nothing for headers that are not ours.
std::optional<std::string> resolve(const fs::path& sourceRoot, const std::string& file, const std::string& spelled,
                                   bool quoted)
{
    if (quoted) {
        const fs::path beside = (fs::path(file).parent_path() / spelled).lexically_normal();
        if (!beside.empty() && *beside.begin() != ".." && fs::exists(sourceRoot / beside))
            return beside.generic_string();
    }
    const fs::path fromRoot = fs::path(spelled).lexically_normal();
    if (fromRoot.empty() || !ourTops.count(fromRoot.begin()->string()))
        return std::nullopt;
    return fromRoot.generic_string();
}

} // namespace

LayeringRules::LayeringRules(std::set<std::string> faces)
    : faces_(std::move(faces))
{
}

LayeringRules LayeringRules::fromFacesFile(const fs::path& facesFile, const fs::path& sourceRoot,
                                           std::vector<std::string>& errors)
{
    std::set<std::string> faces;
    std::ifstream in(facesFile);
    if (!in) {
        errors.push_back(facesFile.string() + ": cannot be read");
        return LayeringRules(faces);
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string entry = trimmed(line.substr(0, line.find('#')));
        if (entry.empty())
            continue;
        const std::string where = "FACES:" + std::to_string(number) + ": " + entry;
        const fs::path path(entry);
        if (!startsWith(entry, "App/") || component(entry, 1).empty() || path.lexically_normal() != path
            || (path.extension() != ".h" && path.extension() != ".hpp"))
            errors.push_back(where + " is no header of an App folder");
        else if (!fs::is_regular_file(sourceRoot / path))
            errors.push_back(where + " does not exist");
        else
            faces.insert(entry);
    }
    return LayeringRules(std::move(faces));
}

std::optional<std::string> LayeringRules::breakOf(const std::string& file, const std::string& included) const
{
    const std::string top = component(file, 0);
    const std::string includedTop = component(included, 0);
    if (top == "Platform" && includedTop != "Platform")
        return "Platform includes nothing of Services or App";
    if (startsWith(file, "Services/runtime/") && !startsWith(included, "Platform/Foundation/")
        && !startsWith(included, "Services/runtime/"))
        return "Services/runtime includes only Platform/Foundation and itself";
    if (top == "Services" && includedTop == "App")
        return "Services includes nothing of App";
    if (includedTop == "App") {
        // main.cpp and anything beside the App folders count as outsiders to every folder.
        const std::string folder = top == "App" ? component(file, 1) : std::string();
        const std::string includedFolder = component(included, 1);
        if (folder != includedFolder && !faces_.count(included))
            return "not in the face of App/" + includedFolder + " (Source/App/FACES)";
    }
    return std::nullopt;
}

LayeringRules::Scan LayeringRules::scanTree(const fs::path& sourceRoot) const
{
    static const std::regex includeLine(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    Scan scan;
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(sourceRoot)) {
        if (entry.is_regular_file() && isSource(entry.path()))
            paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const fs::path& path : paths) {
        const std::string file = path.lexically_relative(sourceRoot).generic_string();
        ++scan.files;
        std::ifstream in(path);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            std::smatch match;
            if (line.find("include") == std::string::npos || !std::regex_search(line, match, includeLine))
                continue;
            const auto included = resolve(sourceRoot, file, match[2].str(), match[1].str() == "\"");
            if (!included)
                continue;
            ++scan.includes;
            if (const auto rule = breakOf(file, *included))
                scan.breaks.push_back(file + ":" + std::to_string(number) + ": includes " + *included + ": " + *rule);
        }
    }
    return scan;
}

} // namespace kxtest
