#include "support/ProjectServerSetup.h"

#include <glib.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "support/TestPaths.h"

namespace kxtest {

namespace {

std::filesystem::path serverFolder()
{
    return testSourceDir().parent_path() / "Resources" / "server";
}

std::optional<std::string> findMissing()
{
    gchar* node = g_find_program_in_path("node");
    g_free(node);
    if (!node)
        return "node is not installed, and the project server runs on it: run scripts/setup";
    const auto folder = serverFolder();
    std::ifstream file(folder / "package.json");
    const auto manifest = nlohmann::json::parse(file, nullptr, false);
    if (!manifest.is_object() || !manifest.value("dependencies", nlohmann::json()).is_object())
        return "Resources/server/package.json names no dependencies";
    for (const auto& [name, version] : manifest["dependencies"].items()) {
        if (!std::filesystem::exists(folder / "node_modules" / name / "package.json"))
            return "the project server's package " + name + " is not installed in Resources/server/node_modules: run scripts/setup";
    }
    return std::nullopt;
}

} // namespace

const std::optional<std::string>& projectServerMissing()
{
    static const std::optional<std::string> missing = findMissing();
    return missing;
}

kx::ServerController::Configuration projectServerConfiguration(const std::filesystem::path& folder, const std::string& libraryVersion)
{
    std::filesystem::create_directories(folder / "library");
    std::ofstream(folder / "library" / "package.json") << nlohmann::json{{"name", "library"}, {"version", libraryVersion}}.dump();
    kx::ServerController::Configuration configuration;
    configuration.scriptPath = serverFolder() / "index.js";
    configuration.staticPath = serverFolder().parent_path();
    configuration.cachePath = folder / "server-cache";
    configuration.yarnLinkFolder = folder / "library";
    configuration.apiURL = "http://127.0.0.1:9/";
    configuration.discoverProxy = false;
    return configuration;
}

} // namespace kxtest
