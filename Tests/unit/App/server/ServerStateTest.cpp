#include "App/server/ServerState.h"

#include <gtest/gtest.h>

#include "App/server/ServerController.h"
#include "App/server/ServerError.h"

namespace {

using namespace kx;

TEST(ServerState, DecodesTheServersState)
{
    auto decoded = ServerState::decode(nlohmann::json::parse(R"({
        "url": "http://127.0.0.1:1/", "doneFirstInstall": true, "builtInLibraryVersion": "1.0.0",
        "currentLibraryVersion": null, "availableLibraryVersions": ["0.9.0", "1.0.0"],
        "previewInspectorHasErrors": false, "previewInspectorHasWarnings": true,
        "liveSharing": {"status": "active", "url": "http://10.0.0.2:4000/x/"}})"));
    ASSERT_TRUE(decoded.isSuccess()) << decoded.error().localizedDescription;
    const auto& state = decoded.value();
    EXPECT_TRUE(state.doneFirstInstall);
    EXPECT_EQ(state.builtInLibraryVersion, "1.0.0");
    EXPECT_FALSE(state.currentLibraryVersion);
    EXPECT_EQ(state.availableLibraryVersions, (std::vector<std::string>{"0.9.0", "1.0.0"}));
    EXPECT_TRUE(state.previewInspectorHasWarnings);
    EXPECT_EQ(state.liveSharing, (LiveSharingState{"active", "http://10.0.0.2:4000/x/"}));
}

TEST(ServerState, RefusesStatesOfTheWrongShape)
{
    const char* valid = R"({"doneFirstInstall": false, "previewInspectorHasErrors": false,
                           "previewInspectorHasWarnings": false, "liveSharing": {"status": "available"}})";
    ASSERT_TRUE(ServerState::decode(nlohmann::json::parse(valid)).isSuccess());
    for (const auto& [key, value] : std::vector<std::pair<std::string, nlohmann::json>>{
             {"doneFirstInstall", 1},
             {"previewInspectorHasErrors", "yes"},
             {"previewInspectorHasWarnings", 0},
             {"currentLibraryVersion", 2},
             {"availableLibraryVersions", {"1.0", 2}},
             {"availableLibraryVersions", "1.0"},
             {"liveSharing", {{"status", 1}}},
             {"liveSharing", {{"status", "active"}, {"url", false}}},
             {"liveSharing", nullptr}}) {
        auto json = nlohmann::json::parse(valid);
        json[key] = value;
        auto decoded = ServerState::decode(json);
        ASSERT_TRUE(decoded.isFailure()) << key << " = " << value;
        EXPECT_EQ(decoded.error().domain, ServerState::errorDomain);
    }
    auto missing = nlohmann::json::parse(valid);
    missing.erase("liveSharing");
    EXPECT_TRUE(ServerState::decode(missing).isFailure());
    EXPECT_TRUE(ServerState::decode(nlohmann::json::array()).isFailure());
}

TEST(ServerState, MissingInspectorFlagsReadAsFalse)
{
    // A state without the inspector flags still carries the rest of the line.
    auto decoded = ServerState::decode(nlohmann::json::parse(R"({"doneFirstInstall": true,
        "previewInspectorHasWarnings": null, "liveSharing": {"status": "active", "url": "http://10.0.0.2:1/s/"}})"));
    ASSERT_TRUE(decoded.isSuccess()) << decoded.error().localizedDescription;
    EXPECT_TRUE(decoded.value().doneFirstInstall);
    EXPECT_FALSE(decoded.value().previewInspectorHasErrors);
    EXPECT_FALSE(decoded.value().previewInspectorHasWarnings);
    EXPECT_EQ(decoded.value().liveSharing, (LiveSharingState{"active", "http://10.0.0.2:1/s/"}));
}

TEST(ServerError, TravelsInTheLogNotification)
{
    ServerError error{"1", "warning", "Cannot add x"};
    Notification notification{ServerControllerDidReceiveLog, nullptr, {{"log", error.toJSON()}}};
    EXPECT_EQ(ServerError::fromLogNotification(notification), error);

    notification.userInfo = {{"log", "a plain output line"}};
    EXPECT_FALSE(ServerError::fromLogNotification(notification));
    notification.userInfo = {{"log", {{"id", "1"}, {"type", "error"}}}};
    EXPECT_FALSE(ServerError::fromLogNotification(notification));
    notification.userInfo = nullptr;
    EXPECT_FALSE(ServerError::fromLogNotification(notification));
}

TEST(ServerController, CommandLineCarriesTheConfiguration)
{
    ServerController::Configuration configuration;
    configuration.scriptPath = "/r/server/index.js";
    configuration.staticPath = "/s";
    configuration.cachePath = "/c";
    configuration.yarnLinkFolder = "/y";
    configuration.apiToken = "tok";
    configuration.corsPorts = {5567, 5568};
    configuration.author = "Ada";
    configuration.isEnterprise = true;
    ServerController controller(configuration);
    EXPECT_EQ(controller.arguments(),
              (std::vector<std::string>{"/r/server/index.js", "--staticPath", "/s", "--cachePath", "/c",
                                        "--yarnLinkFolder", "/y", "--token", "-", "--api",
                                        ServerController::Configuration::defaultAPIURL, "--cors-ports", "5567,5568",
                                        "--author", "Ada", "--no-live-sharing"}));
    // The token goes where only our user can read it.
    EXPECT_EQ(controller.environment().at("KORVEL_API_TOKEN"), "tok");
    configuration.author.reset();
    configuration.isEnterprise = false;
    auto plain = ServerController(configuration).arguments();
    EXPECT_EQ(plain.size(), 13u);
    EXPECT_EQ(DevicesChangeNotification, std::string("DeviceManager.DevicesChangeNotification"));
}

} // namespace
