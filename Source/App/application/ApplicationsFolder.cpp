#include "App/application/ApplicationsFolder.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "Platform/Foundation/FileSystem.h"
#include "Services/runtime/JSONDecoder.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maximumInfoSize = 64 * 1024;

// Mount points escape space, tab, newline and backslash as three octal digits.
std::string unescapeMountField(const std::string& field)
{
    auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) && isOctal(field[i + 3])) {
            text += char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
            continue;
        }
        text += field[i];
    }
    return text;
}

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return char(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

} // namespace

bool ApplicationsFolder::beginsWithPath(const fs::path& path, const fs::path& folder)
{
    const fs::path p = path.lexically_normal();
    const fs::path f = folder.lexically_normal();
    auto pi = p.begin();
    for (auto fi = f.begin(); fi != f.end(); ++fi) {
        if (fi->empty() && std::next(fi) == f.end())
            break; // a trailing separator
        if (pi == p.end() || *pi != *fi)
            return false;
        ++pi;
    }
    return !f.empty();
}

bool ApplicationsFolder::holdsApplication(const fs::path& folder)
{
    std::error_code error;
    return fs::is_regular_file(folder / "Resources" / "Info.json", error);
}

std::optional<std::string> ApplicationsFolder::bundleIdentifier(const fs::path& folder)
{
    const fs::path info = folder / "Resources" / "Info.json";
    std::error_code error;
    if (!fs::is_regular_file(info, error) || fs::file_size(info, error) > maximumInfoSize || error)
        return std::nullopt;
    auto text = FileSystem::readFile(info);
    if (!text)
        return std::nullopt;
    try {
        const auto json = JSONDecoder::parse(*text);
        if (json.is_object() && json.contains("CFBundleIdentifier") && json["CFBundleIdentifier"].is_string())
            return json["CFBundleIdentifier"].get<std::string>();
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

bool ApplicationsFolder::hasOurName(const fs::path& path)
{
    return lowercase(path.filename().string()).rfind(bundleNamePrefix, 0) == 0;
}

bool ApplicationsFolder::isOurBundle(const fs::path& folder, const std::string& identifier)
{
    std::error_code error;
    return hasOurName(folder) && fs::is_directory(fs::symlink_status(folder, error))
        && bundleIdentifier(folder) == identifier;
}

bool ApplicationsFolder::isNested(const fs::path& item)
{
    const fs::path normal = item.lexically_normal();
    for (fs::path folder = normal.parent_path(); !folder.empty() && folder != folder.root_path(); folder = folder.parent_path()) {
        if (holdsApplication(folder))
            return true;
    }
    return false;
}

bool ApplicationsFolder::isInApplicationsFolder(const fs::path& item, const std::vector<fs::path>& applicationFolders)
{
    for (const auto& folder : applicationFolders) {
        if (beginsWithPath(item, folder))
            return true;
    }
    const fs::path normal = item.lexically_normal();
    return std::any_of(normal.begin(), normal.end(), [](const fs::path& component) { return component == "Applications"; });
}

bool ApplicationsFolder::holdsAnyApplication(const fs::path& folder)
{
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code statError;
        if (it->is_directory(statError) && holdsApplication(it->path()))
            return true;
        if (it->is_regular_file(statError) && lowercase(it->path().extension().string()) == ".appimage")
            return true;
    }
    return false;
}

std::vector<ApplicationsFolder::Mount> ApplicationsFolder::parseMountInfo(const std::string& text)
{
    std::vector<Mount> mounts;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> parts;
        for (std::string field; fields >> field;)
            parts.push_back(field);
        const auto separator = std::find(parts.begin(), parts.end(), "-");
        if (parts.size() < 7 || separator == parts.end() || std::distance(separator, parts.end()) < 3
            || std::distance(parts.begin(), separator) < 6)
            continue;
        Mount mount;
        mount.mountPoint = unescapeMountField(parts[4]);
        mount.fileSystemType = *(separator + 1);
        mount.source = unescapeMountField(*(separator + 2));
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

std::optional<ApplicationsFolder::Mount> ApplicationsFolder::mountHolding(const fs::path& path, const std::vector<Mount>& mounts)
{
    std::optional<Mount> best;
    std::size_t bestLength = 0;
    for (const auto& mount : mounts) {
        if (!beginsWithPath(path, mount.mountPoint))
            continue;
        const std::size_t length = std::distance(mount.mountPoint.begin(), mount.mountPoint.end());
        // The later of two mounts on one point is the one in effect.
        if (!best || length >= bestLength) {
            best = mount;
            bestLength = length;
        }
    }
    return best;
}

std::optional<ApplicationsFolder::DiskImage> ApplicationsFolder::diskImageHolding(const fs::path& path, const fs::path& mountInfo,
                                                                                 const fs::path& sysBlock)
{
    const auto text = FileSystem::readFile(mountInfo);
    if (!text)
        return std::nullopt;
    const auto mount = mountHolding(path, parseMountInfo(*text));
    if (!mount || mount->fileSystemType.rfind("fuse", 0) == 0 || mount->source.rfind("/dev/loop", 0) != 0)
        return std::nullopt;
    // "/dev/loop3" or its partition "/dev/loop3p1": the device is loop3.
    std::string device = mount->source.substr(5);
    const auto digitsEnd = device.find_first_not_of("0123456789", 4);
    if (digitsEnd == 4)
        return std::nullopt;
    if (digitsEnd != std::string::npos) {
        if (device[digitsEnd] != 'p')
            return std::nullopt;
        device.resize(digitsEnd);
    }
    auto backing = FileSystem::readFile(sysBlock / device / "loop" / "backing_file");
    if (!backing)
        return std::nullopt;
    while (!backing->empty() && (backing->back() == '\n' || backing->back() == ' '))
        backing->pop_back();
    if (backing->empty() || backing->front() != '/')
        return std::nullopt;
    return DiskImage{"/dev/" + device, *backing};
}

} // namespace kx
