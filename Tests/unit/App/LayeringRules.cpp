#include "unit/App/LayeringRules.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
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

// An existing folder under App/, spelled "App/name" or "App/name/sub".
bool isAppFolder(const std::string& folder, const fs::path& sourceRoot)
{
    const fs::path path(folder);
    return startsWith(folder, "App/") && folder.back() != '/' && path.lexically_normal() == path
        && fs::is_directory(sourceRoot / path);
}

// The first circle of folders that use each other, as "App/a -> App/b -> App/a", or nothing.
std::optional<std::string> circleOf(const std::map<std::string, std::set<std::string>>& uses)
{
    enum class Mark { onPath, done };
    std::map<std::string, Mark> marks;
    std::vector<std::string> path;
    std::function<std::optional<std::string>(const std::string&)> visit = [&](const std::string& folder) {
        marks[folder] = Mark::onPath;
        path.push_back(folder);
        if (const auto found = uses.find(folder); found != uses.end()) {
            for (const std::string& used : found->second) {
                const auto mark = marks.find(used);
                if (mark == marks.end()) {
                    if (auto circle = visit(used))
                        return circle;
                } else if (mark->second == Mark::onPath) {
                    std::string circle;
                    for (auto at = std::find(path.begin(), path.end(), used); at != path.end(); ++at)
                        circle += *at + " -> ";
                    return std::optional<std::string>(circle + used);
                }
            }
        }
        path.pop_back();
        marks[folder] = Mark::done;
        return std::optional<std::string>();
    };
    for (const auto& entry : uses) {
        if (!marks.count(entry.first)) {
            if (auto circle = visit(entry.first))
                return circle;
        }
    }
    return std::nullopt;
}

} // namespace

LayeringRules::LayeringRules(std::set<std::string> faces, std::map<std::string, std::set<std::string>> uses)
    : faces_(std::move(faces))
    , uses_(std::move(uses))
{
}

LayeringRules LayeringRules::fromFacesFile(const fs::path& facesFile, const fs::path& sourceRoot,
                                           std::vector<std::string>& errors)
{
    std::set<std::string> faces;
    std::map<std::string, std::set<std::string>> uses;
    std::ifstream in(facesFile);
    if (!in) {
        errors.push_back(facesFile.string() + ": cannot be read");
        return LayeringRules(faces, uses);
    }
    std::vector<std::pair<std::string, std::string>> named; // where, used folder
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string entry = trimmed(line.substr(0, line.find('#')));
        if (entry.empty())
            continue;
        const std::string at = "FACES:" + std::to_string(number) + ": ";
        if (const std::size_t colon = entry.find("uses:"); colon != std::string::npos) {
            const std::string folder = trimmed(entry.substr(0, colon));
            const bool known = isAppFolder(folder, sourceRoot);
            if (!known)
                errors.push_back(at + folder + " is no App folder");
            else if (uses.count(folder))
                errors.push_back(at + folder + " has a second uses: line");
            std::set<std::string> used;
            std::istringstream words(entry.substr(colon + 5));
            for (std::string word; words >> word;) {
                if (!isAppFolder(word, sourceRoot))
                    errors.push_back(at + word + " is no App folder");
                else if (word == folder)
                    errors.push_back(at + folder + " uses itself");
                else if (used.insert(word).second)
                    named.emplace_back(at, word);
            }
            if (known)
                uses.emplace(folder, std::move(used));
            continue;
        }
        const std::string where = at + entry;
        const fs::path path(entry);
        if (!startsWith(entry, "App/") || component(entry, 1).empty() || path.lexically_normal() != path
            || (path.extension() != ".h" && path.extension() != ".hpp"))
            errors.push_back(where + " is no header of an App folder");
        else if (!fs::is_regular_file(sourceRoot / path))
            errors.push_back(where + " does not exist");
        else
            faces.insert(entry);
    }
    for (const auto& [at, folder] : named) {
        if (!uses.count(folder))
            errors.push_back(at + folder + " has no uses: line of its own");
    }
    std::error_code failure;
    std::vector<std::string> folders;
    for (const auto& entry : fs::directory_iterator(sourceRoot / "App", failure)) {
        if (entry.is_directory())
            folders.push_back("App/" + entry.path().filename().string());
    }
    std::sort(folders.begin(), folders.end());
    for (const std::string& folder : folders) {
        if (!uses.count(folder))
            errors.push_back("FACES: " + folder + " has no uses: line");
    }
    if (const auto circle = circleOf(uses))
        errors.push_back("FACES: the uses: lines run in a circle: " + *circle);
    return LayeringRules(std::move(faces), std::move(uses));
}

std::string LayeringRules::folderOf(const std::string& path) const
{
    std::string folder;
    for (const auto& entry : uses_) {
        if (startsWith(path, entry.first + "/") && entry.first.size() > folder.size())
            folder = entry.first;
    }
    return folder;
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
        // What a face includes of its own folder is seen through it.
        if (folder == includedFolder && faces_.count(file) && !faces_.count(included))
            return "not in the face of App/" + folder + ", yet reached through it (Source/App/FACES)";
        const std::string user = folderOf(file);
        const std::string used = folderOf(included);
        if (!user.empty() && !used.empty() && user != used && !uses_.at(user).count(used))
            return user + " does not use " + used + " (Source/App/FACES)";
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
