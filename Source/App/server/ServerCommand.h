// A command for the project server: a socket.io event name and its arguments, as the server
// program in Resources/server expects them.
#pragma once

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

namespace kx {

struct ServerCommand {
    std::string name;
    nlohmann::json arguments = nlohmann::json::array();

    static ServerCommand setProjectDir(const std::filesystem::path& path)
    {
        return {"setProjectDir", nlohmann::json::array({path.string()})};
    }
    static ServerCommand setDocumentDirty(bool dirty) { return {"setDocumentDirty", nlohmann::json::array({dirty})}; }
    static ServerCommand addPackage(const std::string& name, bool isDevDependency)
    {
        return {"addPackage", nlohmann::json::array({{{"name", name}, {"isDevDependency", isDevDependency}}})};
    }
    static ServerCommand installKorvelLibrary(const std::string& version)
    {
        return {"installKorvelLibrary", nlohmann::json::array({version})};
    }
    static ServerCommand startLiveSharing() { return {"startLiveSharing"}; }
    static ServerCommand stopLiveSharing() { return {"stopLiveSharing"}; }
};

} // namespace kx
