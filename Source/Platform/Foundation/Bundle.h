// The application's bundle on Linux: the facts of Resources/Info.json and the resources that
// live beside the executable.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kx {

class Bundle {
public:
    // The bundle of the running executable: <executable dir>/Resources, or ../Resources when
    // the executable sits one folder deeper (as test programs do).
    static Bundle& main();

    // A bundle over any resource folder; Info.json is read from it when present.
    explicit Bundle(std::filesystem::path resourcePath);
    // A bundle with explicit Info.json facts (tests and tools).
    Bundle(std::filesystem::path resourcePath, nlohmann::json infoDictionary);

    const std::filesystem::path& resourcePath() const { return resourcePath_; }
    const nlohmann::json& infoDictionary() const { return info_; }

    // A string value of Info.json; nullopt when the key is missing or not a string.
    std::optional<std::string> stringForInfoKey(std::string_view key) const;
    // A boolean value of Info.json; false when missing or not a boolean.
    bool boolForInfoKey(std::string_view key) const;

    std::string bundleIdentifier() const;

    // "<resourcePath>/<subdirectory>/<name>.<extension>" when it exists.
    std::optional<std::filesystem::path> pathForResource(std::string_view name, std::string_view extension,
                                                         std::string_view subdirectory = {}) const;

    static std::filesystem::path executablePath();

private:
    std::filesystem::path resourcePath_;
    nlohmann::json info_;
};

} // namespace kx
