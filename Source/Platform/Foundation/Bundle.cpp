#include "Platform/Foundation/Bundle.h"

#include <fstream>
#include <system_error>

namespace kx {

namespace fs = std::filesystem;

namespace {

nlohmann::json readInfo(const fs::path& resourcePath)
{
    std::ifstream in(resourcePath / "Info.json", std::ios::binary);
    if (!in)
        return nlohmann::json::object();
    auto parsed = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object())
        return nlohmann::json::object();
    return parsed;
}

fs::path locateResources()
{
    std::error_code ec;
    const fs::path exeDir = Bundle::executablePath().parent_path();
    for (const fs::path& candidate : {exeDir / "Resources", exeDir.parent_path() / "Resources",
                                      exeDir.parent_path() / "share" / "korvel-x" / "Resources"}) {
        if (fs::is_regular_file(candidate / "Info.json", ec))
            return candidate;
    }
    return exeDir / "Resources";
}

} // namespace

Bundle& Bundle::main()
{
    static Bundle bundle(locateResources());
    return bundle;
}

Bundle::Bundle(fs::path resourcePath)
    : resourcePath_(std::move(resourcePath))
    , info_(readInfo(resourcePath_))
{
}

Bundle::Bundle(fs::path resourcePath, nlohmann::json infoDictionary)
    : resourcePath_(std::move(resourcePath))
    , info_(infoDictionary.is_object() ? std::move(infoDictionary) : nlohmann::json::object())
{
}

std::optional<std::string> Bundle::stringForInfoKey(std::string_view key) const
{
    auto it = info_.find(key);
    if (it == info_.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

bool Bundle::boolForInfoKey(std::string_view key) const
{
    auto it = info_.find(key);
    return it != info_.end() && it->is_boolean() && it->get<bool>();
}

std::string Bundle::bundleIdentifier() const
{
    return stringForInfoKey("CFBundleIdentifier").value_or("");
}

std::optional<fs::path> Bundle::pathForResource(std::string_view name, std::string_view extension,
                                                std::string_view subdirectory) const
{
    fs::path path = resourcePath_;
    if (!subdirectory.empty())
        path /= fs::path(subdirectory);
    std::string file(name);
    if (!extension.empty())
        file.append(".").append(extension);
    path /= file;
    std::error_code ec;
    if (!fs::exists(path, ec))
        return std::nullopt;
    return path;
}

fs::path Bundle::executablePath()
{
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path("korvel-x") : exe;
}

} // namespace kx
